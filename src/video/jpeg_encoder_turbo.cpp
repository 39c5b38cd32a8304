// JPEG through the TurboJPEG API of libjpeg-turbo.
#include <turbojpeg.h>

#include <algorithm>

#include "video/jpeg_encoder.h"

std::string encode_jpeg_bgrx(const unsigned char* bgrx, int width, int height, int quality) {
    if (!bgrx || width < 1 || height < 1) return {};
    tjhandle tj = tjInitCompress();
    if (!tj) return {};
    unsigned char* out = nullptr;
    unsigned long size = 0;
    std::string jpeg;
    if (tjCompress2(tj, bgrx, width, width * 4, height, TJPF_BGRX, &out, &size, TJSAMP_420,
                    std::clamp(quality, 1, 100), TJFLAG_FASTDCT) == 0)
        jpeg.assign(reinterpret_cast<const char*>(out), size);
    tjFree(out);
    tjDestroy(tj);
    return jpeg;
}
