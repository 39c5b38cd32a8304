// Intra slices of picture areas from OpenH264 instances kept per area size.
#include "video/intra_coder.h"

#include <wels/codec_api.h>

#include <algorithm>
#include <cstring>

#include "video/openh264.h"
#include "video/shared_library.h"

namespace {

// Instances kept at once: the usual areas (the clock, a window, keyframe
// columns) each keep theirs, and a new size replaces the least used.
constexpr size_t k_instances = 6;

// Copies rows of a plane area, repeating the last column and row of the
// plane where the area reaches past it.
void copy_plane(const uint8_t* src, int sw, int sh, int x, int y, int w, int h, uint8_t* dst) {
    for (int j = 0; j < h; ++j) {
        const uint8_t* row = src + size_t(std::min(y + j, sh - 1)) * sw;
        uint8_t* d = dst + size_t(j) * w;
        const int inside = std::clamp(sw - x, 0, w);
        std::memcpy(d, row + x, size_t(inside));
        if (inside < w) std::memset(d + inside, row[sw - 1], size_t(w - inside));
    }
}

}  // namespace

IntraCoder::~IntraCoder() {
    clear();
    if (library_) shared_library_close(library_);
}

void IntraCoder::destroy(Instance& in) {
    openh264_destroy(library_, in.encoder);
    in.encoder = nullptr;
}

void IntraCoder::clear() {
    for (Instance& in : instances_) destroy(in);
    instances_.clear();
}

IntraCoder::Instance* IntraCoder::instance(int mb_w, int mb_h, int qp) {
    ++tick_;
    for (Instance& in : instances_) {
        if (in.mb_w == mb_w && in.mb_h == mb_h && in.qp == qp) {
            in.used = tick_;
            return &in;
        }
    }
    auto* e = static_cast<ISVCEncoder*>(openh264_create(library_));
    if (!e) return nullptr;

    SEncParamExt p;
    std::memset(&p, 0, sizeof p);
    e->GetDefaultParams(&p);
    p.iUsageType = SCREEN_CONTENT_REAL_TIME;
    p.iPicWidth = mb_w * 16;
    p.iPicHeight = mb_h * 16;
    p.iRCMode = RC_OFF_MODE;  // the quantiser is ours to choose
    p.iMinQp = p.iMaxQp = qp;
    p.bEnableAdaptiveQuant = false;
    p.bEnableBackgroundDetection = false;
    p.bEnableSceneChangeDetect = false;
    p.bEnableFrameSkip = false;
    p.fMaxFrameRate = 10;
    p.iMultipleThreadIdc = 1;
    p.uiIntraPeriod = 1;
    p.eSpsPpsIdStrategy = CONSTANT_ID;
    p.iSpatialLayerNum = 1;
    SSpatialLayerConfig& layer = p.sSpatialLayers[0];
    layer.iVideoWidth = p.iPicWidth;
    layer.iVideoHeight = p.iPicHeight;
    layer.fFrameRate = 10;
    layer.iDLayerQp = qp;
    // Every macroblock row its own slice: what makes a row movable.
    layer.sSliceArgument.uiSliceMode = SM_RASTER_SLICE;
    layer.sSliceArgument.uiSliceNum = unsigned(mb_h);
    for (int r = 0; r < mb_h; ++r) layer.sSliceArgument.uiSliceMbNum[r] = unsigned(mb_w);
    int format = videoFormatI420;
    if (e->InitializeExt(&p) != 0 || e->SetOption(ENCODER_OPTION_DATAFORMAT, &format) != 0) {
        Instance dead{mb_w, mb_h, qp, e, 0};
        destroy(dead);
        return nullptr;
    }
    if (instances_.size() >= k_instances) {
        auto oldest = std::min_element(instances_.begin(), instances_.end(),
                                       [](const Instance& a, const Instance& b) { return a.used < b.used; });
        destroy(*oldest);
        instances_.erase(oldest);
    }
    instances_.push_back(Instance{mb_w, mb_h, qp, e, tick_});
    return &instances_.back();
}

bool IntraCoder::code(const uint8_t* yuv, int width, int height, const MbRect& area, int qp,
                      std::vector<IntraSlice>& out) {
    if (area.w < 1 || area.h < 1 || area.h > k_max_rows || width < 2 || height < 2) return false;
    // The library codes a small picture (under about 50 macroblocks) as one
    // slice whatever it is asked: such areas go a row at a time.
    if (area.h == 1) return code_once(yuv, width, height, area, qp, out);
    if (area.w * area.h >= 64 && code_once(yuv, width, height, area, qp, out)) return true;
    for (int r = 0; r < area.h; ++r)
        if (!code_once(yuv, width, height, MbRect{area.x, area.y + r, area.w, 1}, qp, out))
            return false;
    return true;
}

bool IntraCoder::code_once(const uint8_t* yuv, int width, int height, const MbRect& area, int qp,
                           std::vector<IntraSlice>& out) {
    Instance* in = instance(area.w, area.h, qp);
    if (!in) return false;
    const int w = area.w * 16, h = area.h * 16;
    crop_.resize(size_t(w) * h * 3 / 2);
    const uint8_t* y = yuv;
    const uint8_t* u = y + size_t(width) * height;
    const uint8_t* v = u + size_t(width / 2) * (height / 2);
    uint8_t* cy = crop_.data();
    uint8_t* cu = cy + size_t(w) * h;
    uint8_t* cv = cu + size_t(w / 2) * (h / 2);
    copy_plane(y, width, height, area.x * 16, area.y * 16, w, h, cy);
    copy_plane(u, width / 2, height / 2, area.x * 8, area.y * 8, w / 2, h / 2, cu);
    copy_plane(v, width / 2, height / 2, area.x * 8, area.y * 8, w / 2, h / 2, cv);

    auto* e = static_cast<ISVCEncoder*>(in->encoder);
    e->ForceIntraFrame(true);
    SSourcePicture pic;
    std::memset(&pic, 0, sizeof pic);
    pic.iColorFormat = videoFormatI420;
    pic.iStride[0] = w;
    pic.iStride[1] = pic.iStride[2] = w / 2;
    pic.pData[0] = cy;
    pic.pData[1] = cu;
    pic.pData[2] = cv;
    pic.iPicWidth = w;
    pic.iPicHeight = h;
    SFrameBSInfo info;
    std::memset(&info, 0, sizeof info);
    if (e->EncodeFrame(&pic, &info) != 0 || info.eFrameType != videoFrameTypeIDR) return false;

    SpsInfo sps;
    PpsInfo pps;
    bool have_sps = false, have_pps = false;
    const size_t first = out.size();
    for (int l = 0; l < info.iLayerNum; ++l) {
        const SLayerBSInfo& layer = info.sLayerInfo[l];
        const uint8_t* nal = layer.pBsBuf;
        for (int n = 0; n < layer.iNalCount; ++n) {
            const size_t len = size_t(layer.pNalLengthInByte[n]);
            for (const NalSpan& s : split_annexb(nal, len)) {
                const int type = s.data[0] & 0x1F;
                if (type == 7) have_sps = parse_sps(nal_to_rbsp(s.data, s.size), sps);
                if (type == 8) have_pps = parse_pps(nal_to_rbsp(s.data, s.size), pps);
                if (type == 5) {
                    IntraSlice slice;
                    if (!have_sps || !have_pps || !read_intra_slice(s.data, s.size, sps, pps, slice)) {
                        out.resize(first);
                        return false;
                    }
                    out.push_back(std::move(slice));
                }
            }
            nal += len;
        }
    }
    if (out.size() - first != size_t(area.h)) {
        out.resize(first);
        return false;
    }
    return true;
}
