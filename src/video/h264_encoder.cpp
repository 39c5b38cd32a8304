// OpenH264 wrapper: the library is loaded by file name at run time, so the
// program starts (and reports a clear failure) on machines without it.
#include "video/h264_encoder.h"

#include <wels/codec_api.h>

#include <cstdio>
#include <cstring>

#include "video/shared_library.h"

namespace {

#if defined(_WIN32)
const char* const k_library_files[] = {"openh264.dll", "orcore.dll"};
#else
const char* const k_library_files[] = {"libopenh264.so.7", "libopenh264.so"};
#endif

using CreateFn = int (*)(ISVCEncoder**);
using DestroyFn = void (*)(ISVCEncoder*);

ISVCEncoder* enc(void* p) {
    return static_cast<ISVCEncoder*>(p);
}

}  // namespace

H264Encoder::~H264Encoder() {
    close();
}

bool H264Encoder::open(int width, int height, int fps, int kbps) {
    close();
    width_ = width & ~1;
    height_ = height & ~1;
    // kbps * 1000 must fit the library's int.
    if (width_ < 1 || height_ < 1 || fps < 1 || kbps < 1 || kbps > 2000000) return false;

    for (const char* file : k_library_files) {
        library_ = shared_library_open(file);
        if (library_) break;
    }
    if (!library_) return false;
    auto create =
        reinterpret_cast<CreateFn>(shared_library_symbol(library_, "WelsCreateSVCEncoder"));
    auto destroy =
        reinterpret_cast<DestroyFn>(shared_library_symbol(library_, "WelsDestroySVCEncoder"));
    ISVCEncoder* e = nullptr;
    if (!create || !destroy || create(&e) != 0 || !e) {
        shared_library_close(library_);
        library_ = nullptr;
        return false;
    }

    // Library warnings would otherwise go to stderr on every open.
    int trace = WELS_LOG_ERROR;
    e->SetOption(ENCODER_OPTION_TRACE_LEVEL, &trace);

    SEncParamExt p;
    std::memset(&p, 0, sizeof p);
    e->GetDefaultParams(&p);
    p.iUsageType = SCREEN_CONTENT_REAL_TIME;
    p.iPicWidth = width_;
    p.iPicHeight = height_;
    p.iTargetBitrate = kbps * 1000;
    p.iRCMode = RC_BITRATE_MODE;
    p.fMaxFrameRate = static_cast<float>(fps);
    p.iSpatialLayerNum = 1;
    p.sSpatialLayers[0].iVideoWidth = width_;
    p.sSpatialLayers[0].iVideoHeight = height_;
    p.sSpatialLayers[0].fFrameRate = static_cast<float>(fps);
    p.sSpatialLayers[0].iSpatialBitrate = kbps * 1000;
    p.uiIntraPeriod = static_cast<unsigned>(fps);
    p.eSpsPpsIdStrategy = CONSTANT_ID;
    p.bEnableFrameSkip = false;
    int format = videoFormatI420;
    if (e->InitializeExt(&p) != 0 || e->SetOption(ENCODER_OPTION_DATAFORMAT, &format) != 0) {
        destroy(e);
        shared_library_close(library_);
        library_ = nullptr;
        return false;
    }
    encoder_ = e;
    yuv_.assign(static_cast<size_t>(width_) * height_ * 3 / 2, 0);
    return true;
}

bool H264Encoder::encode(const uint8_t* bgrx, int src_width, bool force_idr,
                         std::vector<uint8_t>& out) {
    // A source narrower than the encode size would be read past its rows.
    if (!encoder_ || !bgrx || src_width < width_) return false;
    uint8_t* y = yuv_.data();
    uint8_t* u = y + static_cast<size_t>(width_) * height_;
    uint8_t* v = u + static_cast<size_t>(width_ / 2) * (height_ / 2);
    bgrx_to_i420(bgrx, src_width * 4, width_, height_, y, u, v);

    ISVCEncoder* e = enc(encoder_);
    if (force_idr) e->ForceIntraFrame(true);

    SSourcePicture pic;
    std::memset(&pic, 0, sizeof pic);
    pic.iColorFormat = videoFormatI420;
    pic.iStride[0] = width_;
    pic.iStride[1] = width_ / 2;
    pic.iStride[2] = width_ / 2;
    pic.pData[0] = y;
    pic.pData[1] = u;
    pic.pData[2] = v;
    pic.iPicWidth = width_;
    pic.iPicHeight = height_;
    pic.uiTimeStamp = 0;

    SFrameBSInfo info;
    std::memset(&info, 0, sizeof info);
    if (e->EncodeFrame(&pic, &info) != 0) return false;
    if (info.eFrameType == videoFrameTypeSkip || info.iLayerNum == 0) return true;
    for (int l = 0; l < info.iLayerNum; ++l) {
        const SLayerBSInfo& layer = info.sLayerInfo[l];
        size_t len = 0;
        for (int n = 0; n < layer.iNalCount; ++n)
            len += static_cast<size_t>(layer.pNalLengthInByte[n]);
        out.insert(out.end(), layer.pBsBuf, layer.pBsBuf + len);
    }
    return true;
}

void H264Encoder::close() {
    if (encoder_) {
        auto destroy =
            reinterpret_cast<DestroyFn>(shared_library_symbol(library_, "WelsDestroySVCEncoder"));
        enc(encoder_)->Uninitialize();
        if (destroy) destroy(enc(encoder_));
        encoder_ = nullptr;
    }
    if (library_) {
        shared_library_close(library_);
        library_ = nullptr;
    }
}

bool extract_parameter_sets(const uint8_t* data, size_t size, std::vector<uint8_t>& sps_out,
                            std::vector<uint8_t>& pps_out, std::string& profile_level_id_out) {
    // Walk the start codes (00 00 01, possibly preceded by more zeros); each
    // unit runs up to the next start code, trailing zeros included in none.
    size_t i = 0;
    auto next_start = [&](size_t from, size_t& payload) -> size_t {
        for (size_t k = from; k + 2 < size; ++k) {
            if (data[k] == 0 && data[k + 1] == 0 && data[k + 2] == 1) {
                payload = k + 3;
                return k;
            }
        }
        payload = size;
        return size;
    };
    size_t payload = 0;
    next_start(0, payload);
    i = payload;
    while (i < size) {
        size_t next_payload = 0;
        size_t end = next_start(i, next_payload);
        size_t unit_end = end;
        if (end < size) {
            while (unit_end > i && data[unit_end - 1] == 0)
                --unit_end;  // zero of a 4-byte start code
        }
        if (unit_end > i) {
            int type = data[i] & 0x1F;
            if (type == 7) {
                sps_out.assign(data + i, data + unit_end);
                if (sps_out.size() >= 4) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "%02X%02X%02X", sps_out[1], sps_out[2],
                                  sps_out[3]);
                    profile_level_id_out = buf;
                }
            } else if (type == 8) {
                pps_out.assign(data + i, data + unit_end);
            }
        }
        i = next_payload;
    }
    return !sps_out.empty() && !pps_out.empty();
}
