// OpenH264 wrapper: the library is loaded by file name at run time, so the
// program starts (and reports a clear failure) on machines without it.
#include "video/h264_encoder.h"

#include <wels/codec_api.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "video/shared_library.h"

namespace {

// Library pictures spent on a large change after it stopped changing.
constexpr int k_refine_pictures = 3;

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

    for (const char* const* file = k_h264_library_files; *file && !library_; ++file)
        library_ = shared_library_open(*file);
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
    intra_period_ = fps;
    fps_ = fps;
    sps_in_.clear();
    sps_out_.clear();
    yuv_valid_ = false;
    refine_left_ = 0;
    held_change_ = false;
    known_ = false;
    offset_ = 0;
    since_idr_ = 0;
    library_since_idr_ = 0;
    chain_.clear();
    chain_open_ = false;
    replay_pos_ = 0;
    counts_ = Counts{};
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

    yuv_valid_ = false;  // not necessarily the picture encode_changes saw last
    replay_pos_ = 0;     // (a plain encode during a replay: see encode_changes)
    held_change_ = false;
    chain_open_ = false;
    return run_library(force_idr, out);
}

bool H264Encoder::run_library(bool force_idr, std::vector<uint8_t>& out) {
    uint8_t* y = yuv_.data();
    uint8_t* u = y + static_cast<size_t>(width_) * height_;
    uint8_t* v = u + static_cast<size_t>(width_ / 2) * (height_ / 2);
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
    const size_t from = out.size();
    for (int l = 0; l < info.iLayerNum; ++l) {
        const SLayerBSInfo& layer = info.sLayerInfo[l];
        const uint8_t* nal = layer.pBsBuf;
        for (int n = 0; n < layer.iNalCount; ++n) {
            const size_t len = static_cast<size_t>(layer.pNalLengthInByte[n]);
            append_nal(nal, len, out);
            nal += len;
        }
    }
    follow_stream(out, from);
    return true;
}

// Appends one NAL unit of the library's output (with its start code). The
// library's SPS carries no timing, so players cannot tell the frame rate
// (GStreamer reports 0 fps): an SPS goes out with the rate added. The library
// writes the same SPS for the life of the encoder, so the rewrite is kept.
void H264Encoder::append_nal(const uint8_t* nal, size_t len, std::vector<uint8_t>& out) {
    size_t code = 0;
    while (code < len && code < 4 && nal[code] == 0) ++code;
    const bool sps = code >= 2 && code + 1 < len && nal[code] == 1 && (nal[code + 1] & 0x1F) == 7;
    if (sps) {
        const uint8_t* body = nal + code + 1;
        const size_t size = len - code - 1;
        if (sps_in_.size() != size || !std::equal(body, body + size, sps_in_.begin())) {
            sps_in_.assign(body, body + size);
            if (!set_sps_timing(body, size, fps_, sps_out_)) sps_out_ = sps_in_;
        }
        out.insert(out.end(), nal, nal + code + 1);
        out.insert(out.end(), sps_out_.begin(), sps_out_.end());
        return;
    }
    out.insert(out.end(), nal, nal + len);
}

// Keeps track of the stream the library produced (out[from..]): parameter
// sets and the last IDR, and renumbers its slices after our skip pictures.
void H264Encoder::follow_stream(std::vector<uint8_t>& out, size_t from) {
    ++counts_.encoded;
    std::vector<NalSpan> units = split_annexb(out.data() + from, out.size() - from);
    bool idr = false;
    for (const NalSpan& n : units) idr = idr || (n.data[0] & 0x1F) == 5;
    if (idr) {
        SpsInfo sps;
        PpsInfo pps;
        bool have_sps = false, have_pps = false;
        for (const NalSpan& n : units) {
            const int type = n.data[0] & 0x1F;
            if (type == 7) have_sps = parse_sps(nal_to_rbsp(n.data, n.size), sps);
            if (type == 8) have_pps = parse_pps(nal_to_rbsp(n.data, n.size), pps);
        }
        if (have_sps && have_pps) {
            sps_ = sps;
            pps_ = pps;
        }
        // Skip pictures only for streams whose slices this code can write.
        known_ = have_sps && have_pps && pps.sps_id == sps.sps_id && !pps.cabac &&
                 !pps.weighted_pred && sps.mb_width * 16 >= width_ && sps.mb_height * 16 >= height_;
        offset_ = 0;
        since_idr_ = 0;
        library_since_idr_ = 0;
    } else {
        ++since_idr_;
        ++library_since_idr_;
    }
    if (!known_) return;
    const int max_fn = 1 << sps_.log2_max_frame_num;
    const int max_poc = 1 << sps_.log2_max_poc_lsb;
    std::vector<uint8_t> rewritten;
    bool first_slice = true;
    for (const NalSpan& n : units) {
        const int type = n.data[0] & 0x1F;
        static const uint8_t k_start[] = {0, 0, 0, 1};
        if (offset_ != 0) rewritten.insert(rewritten.end(), k_start, k_start + 4);
        if (type != 1 && type != 5) {
            if (offset_ != 0) rewritten.insert(rewritten.end(), n.data, n.data + n.size);
            continue;
        }
        std::vector<uint8_t> rbsp = nal_to_rbsp(n.data, n.size);
        SliceHeaderInfo si;
        if (!parse_slice_header(rbsp, sps_, pps_, si)) {
            known_ = false;  // something unexpected: no more skip pictures until the next IDR
            return;
        }
        int fn = si.frame_num, poc = si.poc_lsb;
        if (offset_ != 0 && type == 1) {
            fn = (fn + offset_) % max_fn;
            poc = (poc + 2 * offset_) % max_poc;
            rewrite_slice_numbers(rbsp, sps_, si, fn, poc);
        }
        if (offset_ != 0) rbsp_to_nal(rbsp, rewritten);
        if (first_slice) {
            first_slice = false;
            if (si.nal_ref_idc != 0) {
                last_frame_num_ = fn;
                ref_idc_ = si.nal_ref_idc;
            }
            last_poc_lsb_ = poc;
        }
    }
    if (offset_ != 0) {
        out.resize(from);
        out.insert(out.end(), rewritten.begin(), rewritten.end());
    }
    if (idr) {
        chain_.clear();
        chain_open_ = true;
    }
    if (chain_open_ && offset_ == 0)
        chain_.push_back(Replayed{
            std::vector<uint8_t>(out.begin() + static_cast<std::ptrdiff_t>(from), out.end()),
            last_frame_num_, last_poc_lsb_});
}

void H264Encoder::convert_area(const uint8_t* bgrx, int src_width, const PixelRect& r) {
    const int w = r.right - r.left, h = r.bottom - r.top;
    scratch_.resize(static_cast<size_t>(w) * h * 3 / 2);
    uint8_t* sy = scratch_.data();
    uint8_t* su = sy + static_cast<size_t>(w) * h;
    uint8_t* sv = su + static_cast<size_t>(w / 2) * (h / 2);
    bgrx_to_i420(bgrx + (static_cast<size_t>(r.top) * src_width + r.left) * 4, src_width * 4, w, h,
                 sy, su, sv);
    uint8_t* y = yuv_.data();
    uint8_t* u = y + static_cast<size_t>(width_) * height_;
    uint8_t* v = u + static_cast<size_t>(width_ / 2) * (height_ / 2);
    for (int j = 0; j < h; ++j)
        std::memcpy(y + static_cast<size_t>(r.top + j) * width_ + r.left, sy + size_t(j) * w,
                    size_t(w));
    const int cw = w / 2, cx = r.left / 2, cy = r.top / 2;
    for (int j = 0; j < h / 2; ++j) {
        std::memcpy(u + static_cast<size_t>(cy + j) * (width_ / 2) + cx, su + size_t(j) * cw,
                    size_t(cw));
        std::memcpy(v + static_cast<size_t>(cy + j) * (width_ / 2) + cx, sv + size_t(j) * cw,
                    size_t(cw));
    }
}

bool H264Encoder::encode_changes(const uint8_t* bgrx, int src_width, bool force_idr,
                                 const std::vector<PixelRect>& changed, std::vector<uint8_t>& out) {
    if (!encoder_ || !bgrx || src_width < width_) return false;
    bool any = false;
    const bool whole = changed.size() == 1 && changed[0].left <= 0 && changed[0].top <= 0 &&
                       changed[0].right >= width_ && changed[0].bottom >= height_;
    if (!yuv_valid_ || whole) {
        uint8_t* y = yuv_.data();
        uint8_t* u = y + static_cast<size_t>(width_) * height_;
        uint8_t* v = u + static_cast<size_t>(width_ / 2) * (height_ / 2);
        bgrx_to_i420(bgrx, src_width * 4, width_, height_, y, u, v);
        any = true;
        refine_left_ = k_refine_pictures;
    } else {
        long long area = 0;
        for (const PixelRect& c : changed) {
            // Chroma is shared by 2x2 pixels: widen to even bounds.
            PixelRect r = clip_rect(
                PixelRect{c.left & ~1, c.top & ~1, (c.right + 1) & ~1, (c.bottom + 1) & ~1}, width_,
                height_);
            if (r.empty()) continue;
            convert_area(bgrx, src_width, r);
            area += r.area();
            any = true;
        }
        // A large change is coded a few more times once it stands still: the
        // library spends those pictures on sharpening it, as it would on the
        // whole-frame path. A small one (under 5% of the picture: the clock,
        // listed once where it was and once where it is) is left as first coded.
        if (any) refine_left_ = area * 20 >= 1LL * width_ * height_ ? k_refine_pictures : 0;
    }
    if (any) chain_open_ = false;  // the chain shows the picture before this change
    yuv_valid_ = true;
    if (held_change_) {  // the change held back by a replayed keyframe (below)
        held_change_ = false;
        any = true;
    }
    const bool due = intra_period_ > 0 && since_idr_ + 1 >= intra_period_;
    // On a still screen a keyframe that cannot be a repeat waits up to half a
    // period for the next change (the clock's tick), so that the change and
    // the keyframe cost one coded picture instead of two.
    const bool overdue = intra_period_ > 0 && since_idr_ + 1 >= intra_period_ + intra_period_ / 2;
    if (replay_pos_ > 0) {
        if (!any && !force_idr) return replay_next(out);
        // The decoder is part way through the chain, the library at its end:
        // only a new IDR brings them together.
        replay_pos_ = 0;
        force_idr = true;
    }
    if (!any && !force_idr && known_ && refine_left_ > 0) {
        --refine_left_;
        return run_library(due, out);
    }
    const bool replayable =
        known_ && !chain_.empty() && library_since_idr_ + 1 == int(chain_.size());
    if (any && due && !force_idr && replayable && chain_.size() == 1 && refine_left_ == 0) {
        // A small change (the clock's tick) when a keyframe is due and the last
        // IDR still stands: that IDR again now and the change one picture
        // later costs a P picture instead of a new IDR.
        held_change_ = true;
        ++counts_.repeated_idr;
        return replay_next(out);
    }
    if (!any && !force_idr && known_) {
        if (due && replayable) {
            // The library has coded nothing since the last IDR and its
            // sharpening pictures: the decoder gets the same pictures again.
            ++counts_.repeated_idr;
            return replay_next(out);
        }
        if (!overdue) {
            const int fn = (last_frame_num_ + 1) % (1 << sps_.log2_max_frame_num);
            const int poc = (last_poc_lsb_ + 2) % (1 << sps_.log2_max_poc_lsb);
            if (write_skip_slice(sps_, pps_, ref_idc_, fn, poc, out)) {
                last_frame_num_ = fn;
                last_poc_lsb_ = poc;
                ++offset_;
                ++since_idr_;
                ++counts_.skipped;
                chain_open_ = false;
                return true;
            }
        }
    }
    // A keyframe coded on a still picture is sharpened like a large change.
    if (!any && due) refine_left_ = k_refine_pictures;
    return run_library(force_idr || (due && known_), out);
}

bool H264Encoder::replay_next(std::vector<uint8_t>& out) {
    const Replayed& r = chain_[replay_pos_];
    out.insert(out.end(), r.au.begin(), r.au.end());
    if (replay_pos_ == 0) {
        since_idr_ = 0;
        offset_ = 0;
    } else {
        ++since_idr_;
    }
    last_frame_num_ = r.frame_num;
    last_poc_lsb_ = r.poc_lsb;
    replay_pos_ = replay_pos_ + 1 < chain_.size() ? replay_pos_ + 1 : 0;
    chain_open_ = false;
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
