// JPEG through the GDI+ JPEG encoder, with its quality parameter.
#include <algorithm>
#include <memory>

#include "video/gdiplus_win.h"
#include "video/jpeg_encoder.h"

std::string encode_jpeg_bgrx(const unsigned char* bgrx, int width, int height, int quality) {
    CLSID jpeg;
    if (!bgrx || width < 1 || height < 1 || width > 65500 || height > 65500 ||
        !gdiplus_encoder(L"image/jpeg", jpeg))
        return {};
    // GDI+ only reads the pixels while saving.
    Gdiplus::Bitmap picture(width, height, width * 4, PixelFormat32bppRGB, const_cast<BYTE*>(bgrx));
    if (picture.GetLastStatus() != Gdiplus::Ok) return {};
    ULONG q = static_cast<ULONG>(std::clamp(quality, 1, 100));
    Gdiplus::EncoderParameters params{};
    params.Count = 1;
    params.Parameter[0].Guid = Gdiplus::EncoderQuality;
    params.Parameter[0].Type = Gdiplus::EncoderParameterValueTypeLong;
    params.Parameter[0].NumberOfValues = 1;
    params.Parameter[0].Value = &q;
    return gdiplus_save(picture, jpeg, &params);
}
