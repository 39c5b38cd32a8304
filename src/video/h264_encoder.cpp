// OpenH264 wrapper: the library is loaded by file name at run time, so the
// program starts (and reports a clear failure) on machines without it.
#include "video/h264_encoder.h"

#include <wels/codec_api.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "video/openh264.h"
#include "video/shared_library.h"

namespace {

// Library pictures spent on a large change after it stopped changing.
constexpr int k_refine_pictures = 3;

ISVCEncoder* enc(void* p) {
    return static_cast<ISVCEncoder*>(p);
}

const uint8_t k_start_code[] = {0, 0, 0, 1};

// Intra slices can stand in for the library's only if they dequantise the
// same way and their filtering can be kept inside them.
bool intra_compatible(const PpsInfo& pps) {
    return pps.chroma_qp_offset == 0 && pps.deblocking_control_present;
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

    auto* e = static_cast<ISVCEncoder*>(openh264_create(library_));
    if (!e) {
        if (library_) shared_library_close(library_);
        library_ = nullptr;
        return false;
    }

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
        openh264_destroy(library_, e);
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
    kbps_ = kbps;
    qp_ = 26;
    yuv_valid_ = false;
    refine_left_ = 0;
    known_ = false;
    library_stale_ = false;
    offset_ = 0;
    since_idr_ = 0;
    intra_.clear();
    intra_ok_ = true;
    tiles_.clear();
    tile_dirty_.clear();
    counts_ = Counts{};
    return true;
}

bool H264Encoder::encode(const uint8_t* bgrx, int src_width, bool force_idr,
                         std::vector<uint8_t>& out) {
    // A source narrower than the encode size would be read past its rows.
    if (!encoder_ || !bgrx || src_width < width_) return false;
    convert_whole(bgrx, src_width);
    yuv_valid_ = false;  // not necessarily the picture encode_changes saw last
    std::fill(tile_dirty_.begin(), tile_dirty_.end(), uint8_t(1));
    return run_library(force_idr, out);
}

bool H264Encoder::run_library(bool force_idr, std::vector<uint8_t>& out) {
    uint8_t* y = yuv_.data();
    uint8_t* u = y + static_cast<size_t>(width_) * height_;
    uint8_t* v = u + static_cast<size_t>(width_ / 2) * (height_ / 2);
    ISVCEncoder* e = enc(encoder_);
    if (force_idr || library_stale_) e->ForceIntraFrame(true);

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
    if (info.eFrameType == videoFrameTypeIDR) library_stale_ = false;
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
// sets and keyframe numbers, and renumbers its slices after our pictures.
void H264Encoder::follow_stream(std::vector<uint8_t>& out, size_t from) {
    ++counts_.encoded;
    std::vector<NalSpan> units = split_annexb(out.data() + from, out.size() - from);
    bool idr = false;
    for (const NalSpan& n : units) idr = idr || (n.data[0] & 0x1F) == 5;
    if (idr) {
        SpsInfo sps;
        PpsInfo pps;
        bool have_sps = false, have_pps = false;
        std::vector<uint8_t> params;
        for (const NalSpan& n : units) {
            const int type = n.data[0] & 0x1F;
            if (type == 7) have_sps = parse_sps(nal_to_rbsp(n.data, n.size), sps);
            if (type == 8) have_pps = parse_pps(nal_to_rbsp(n.data, n.size), pps);
            if (type == 7 || type == 8) {
                params.insert(params.end(), std::begin(k_start_code), std::end(k_start_code));
                params.insert(params.end(), n.data, n.data + n.size);
            }
        }
        if (have_sps && have_pps) {
            sps_ = sps;
            pps_ = pps;
            params_ = std::move(params);
        }
        // Our own pictures only for streams whose slices this code can write.
        known_ = have_sps && have_pps && pps.sps_id == sps.sps_id && !pps.cabac &&
                 !pps.weighted_pred && sps.mb_width * 16 >= width_ && sps.mb_height * 16 >= height_;
        offset_ = 0;
        since_idr_ = 0;
    } else {
        ++since_idr_;
    }
    if (!known_) return;
    const int max_fn = 1 << sps_.log2_max_frame_num;
    const int max_poc = 1 << sps_.log2_max_poc_lsb;
    std::vector<uint8_t> rewritten;
    bool first_slice = true;
    for (const NalSpan& n : units) {
        const int type = n.data[0] & 0x1F;
        if (offset_ != 0)
            rewritten.insert(rewritten.end(), std::begin(k_start_code), std::end(k_start_code));
        if (type != 1 && type != 5) {
            if (offset_ != 0) rewritten.insert(rewritten.end(), n.data, n.data + n.size);
            continue;
        }
        std::vector<uint8_t> rbsp = nal_to_rbsp(n.data, n.size);
        SliceHeaderInfo si;
        if (!parse_slice_header(rbsp, sps_, pps_, si)) {
            known_ = false;  // something unexpected: no more pictures of ours until the next IDR
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
            if (si.nal_ref_idc != 0) last_frame_num_ = fn;
            if (si.idr) {
                idr_ref_idc_ = si.nal_ref_idc;
                library_idr_id_ = last_idr_id_ = si.idr_pic_id;
            } else if (si.nal_ref_idc != 0) {
                ref_idc_ = si.nal_ref_idc;
            }
            last_poc_lsb_ = poc;
        }
    }
    if (offset_ != 0) {
        out.resize(from);
        out.insert(out.end(), rewritten.begin(), rewritten.end());
    }
}

void H264Encoder::convert_whole(const uint8_t* bgrx, int src_width) {
    uint8_t* y = yuv_.data();
    uint8_t* u = y + static_cast<size_t>(width_) * height_;
    uint8_t* v = u + static_cast<size_t>(width_ / 2) * (height_ / 2);
    bgrx_to_i420(bgrx, src_width * 4, width_, height_, y, u, v);
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

void H264Encoder::mark_changed(const PixelRect& r) {
    const int rows = int(span_lo_.size());
    const int r0 = r.top / 16, r1 = std::min((r.bottom + 15) / 16, rows);
    const int c0 = r.left / 16, c1 = (r.right + 15) / 16;
    for (int row = r0; row < r1; ++row) {
        span_lo_[size_t(row)] = std::min(span_lo_[size_t(row)], c0);
        span_hi_[size_t(row)] = std::max(span_hi_[size_t(row)], c1);
    }
}

bool H264Encoder::encode_changes(const uint8_t* bgrx, int src_width, bool force_idr,
                                 const std::vector<PixelRect>& changed, std::vector<uint8_t>& out) {
    if (!encoder_ || !bgrx || src_width < width_) return false;
    const int mb_rows = (height_ + 15) / 16, mb_cols = (width_ + 15) / 16;
    span_lo_.assign(size_t(mb_rows), mb_cols);
    span_hi_.assign(size_t(mb_rows), 0);
    bool any = false;
    long long area = 0;
    const bool whole = changed.size() == 1 && changed[0].left <= 0 && changed[0].top <= 0 &&
                       changed[0].right >= width_ && changed[0].bottom >= height_;
    if (!yuv_valid_ || whole) {
        convert_whole(bgrx, src_width);
        any = true;
        area = 1LL * width_ * height_;
        mark_changed(PixelRect{0, 0, width_, height_});
    } else {
        for (const PixelRect& c : changed) {
            // Chroma is shared by 2x2 pixels: widen to even bounds.
            PixelRect r = clip_rect(
                PixelRect{c.left & ~1, c.top & ~1, (c.right + 1) & ~1, (c.bottom + 1) & ~1}, width_,
                height_);
            if (r.empty()) continue;
            convert_area(bgrx, src_width, r);
            mark_changed(r);
            area += r.area();
            any = true;
        }
    }
    yuv_valid_ = true;

    // Macroblocks of the changed rows' spans, and the stored rows they touch.
    long long mbs = 0;
    const bool tiles_fit = known_ && sps_.mb_width == mb_cols && sps_.mb_height == mb_rows;
    if (tiles_fit && tiles_.empty()) {
        // Keyframe tiles of at least 30 macroblocks, at most 6 a row: a decoder
        // tracks a limited number of slices over a few rows.
        tile_w_ = std::max(30, (mb_cols + 5) / 6);
        tile_cols_ = (mb_cols + tile_w_ - 1) / tile_w_;
        tiles_.assign(size_t(mb_rows) * size_t(tile_cols_), IntraSlice{});
        tile_dirty_.assign(tiles_.size(), 1);
    }
    for (int row = 0; row < mb_rows; ++row) {
        const int lo = span_lo_[size_t(row)], hi = span_hi_[size_t(row)];
        if (hi <= lo) continue;
        mbs += hi - lo;
        if (tiles_fit)
            for (int t = lo / tile_w_; t <= (hi - 1) / tile_w_ && t < tile_cols_; ++t)
                tile_dirty_[size_t(row) * size_t(tile_cols_) + size_t(t)] = 1;
    }

    const bool due = intra_period_ > 0 && since_idr_ + 1 >= intra_period_;
    const bool key = force_idr || (due && known_);
    // Up to a quarter of the picture, intra rows cost less than the library's
    // pass over the whole picture.
    const bool small = mbs * 4 <= 1LL * mb_rows * mb_cols;
    if (tiles_fit && intra_ok_ && (!any || small)) {
        if (key) {
            if (put_keyframe_together(out)) return true;
        } else if (any) {
            if (splice_change(out)) return true;
        } else if (refine_left_ > 0 && !library_stale_) {
            --refine_left_;
            return run_library(false, out);
        } else if (skip_picture(out)) {
            return true;
        }
    } else if (known_ && !any && !key) {
        if (refine_left_ > 0) {
            --refine_left_;
            return run_library(false, out);
        }
        if (skip_picture(out)) return true;
    }
    // The library codes this picture. A large change is coded a few more times
    // once it stands still: the library spends those pictures on sharpening
    // it, as it would on the whole-frame path. A small one is left as first
    // coded, and so is a keyframe the library codes on a still picture.
    if (any) refine_left_ = area * 20 >= 1LL * width_ * height_ ? k_refine_pictures : 0;
    if (!any && key) refine_left_ = k_refine_pictures;
    return run_library(key, out);
}

H264Encoder::Numbers H264Encoder::next_numbers() const {
    return {(last_frame_num_ + 1) % (1 << sps_.log2_max_frame_num),
            (last_poc_lsb_ + 2) % (1 << sps_.log2_max_poc_lsb)};
}

void H264Encoder::sent_our_picture(const Numbers& n) {
    last_frame_num_ = n.frame_num;
    last_poc_lsb_ = n.poc_lsb;
    ++offset_;
    ++since_idr_;
}

bool H264Encoder::skip_picture(std::vector<uint8_t>& out) {
    if (!known_) return false;
    const Numbers n = next_numbers();
    if (!write_skip_slice(sps_, pps_, ref_idc_, n.frame_num, n.poc_lsb, out)) return false;
    sent_our_picture(n);
    ++counts_.skipped;
    return true;
}

// A P picture of ours: the changed span of each macroblock row coded as one
// intra slice, skipped macroblocks between them. The intra slices are not
// filtered across their edges, so the unchanged picture around them stays
// exactly as it was.
bool H264Encoder::splice_change(std::vector<uint8_t>& out) {
    if (!intra_compatible(pps_)) return intra_ok_ = false;
    const int rows = sps_.mb_height, cols = sps_.mb_width;
    // Spans widened to whole steps of 4 macroblocks: a window being dragged
    // changes a span's width every picture, and each new area size costs the
    // intra coder a new library instance.
    for (int row = 0; row < rows; ++row) {
        int& lo = span_lo_[size_t(row)];
        int& hi = span_hi_[size_t(row)];
        if (hi <= lo) continue;
        const int width = std::min(cols, (hi - lo + 3) / 4 * 4);
        lo = std::min(lo, cols - width);
        hi = lo + width;
    }
    std::vector<IntraSlice> slices;
    std::vector<int> slice_row;
    for (int row = 0; row < rows;) {
        const int lo = span_lo_[size_t(row)], hi = span_hi_[size_t(row)];
        if (hi <= lo) {
            ++row;
            continue;
        }
        int n = 1;
        while (row + n < rows && n < IntraCoder::k_max_rows && span_lo_[size_t(row + n)] == lo &&
               span_hi_[size_t(row + n)] == hi)
            ++n;
        if (!intra_.code(yuv_.data(), width_, height_, MbRect{lo, row, hi - lo, n}, qp_, slices))
            return intra_ok_ = false;
        for (int k = 0; k < n; ++k) slice_row.push_back(row + k);
        row += n;
    }
    const Numbers num = next_numbers();
    const int fn = num.frame_num, poc = num.poc_lsb;
    const size_t from = out.size();
    int pos = 0;
    for (size_t i = 0; i < slices.size(); ++i) {
        const int row = slice_row[i];
        const int first = row * cols + span_lo_[size_t(row)];
        if (first > pos && !write_skip_run(sps_, pps_, ref_idc_, fn, poc, pos, first - pos, out)) {
            out.resize(from);
            return false;
        }
        IntraSliceTarget t;
        t.nal_ref_idc = ref_idc_;
        t.frame_num = fn;
        t.poc_lsb = poc;
        t.first_mb = first;
        t.deblocking_idc = 2;
        write_intra_slice(sps_, pps_, t, slices[i], out);
        pos = row * cols + span_hi_[size_t(row)];
    }
    if (pos < rows * cols && !write_skip_run(sps_, pps_, ref_idc_, fn, poc, pos, rows * cols - pos, out)) {
        out.resize(from);
        return false;
    }
    sent_our_picture(num);
    ++counts_.spliced;
    library_stale_ = true;
    refine_left_ = 0;
    return true;
}

// An IDR picture of ours from the stored intra rows, the tiles that changed
// since they were stored coded again first. Their quantiser follows the bit
// rate: a keyframe of a still picture may take most of its period's bits.
bool H264Encoder::put_keyframe_together(std::vector<uint8_t>& out) {
    if (!intra_compatible(pps_) || params_.empty()) return intra_ok_ = false;
    const int rows = sps_.mb_height, cols = sps_.mb_width;
    std::vector<IntraSlice> slices;
    for (int t = 0; t < tile_cols_; ++t) {
        const int x = t * tile_w_, w = std::min(tile_w_, cols - x);
        for (int row = 0; row < rows;) {
            auto stale = [&](int r) {
                return tile_dirty_[size_t(r) * size_t(tile_cols_) + size_t(t)] != 0;
            };
            if (!stale(row)) {
                ++row;
                continue;
            }
            int n = 1;
            while (row + n < rows && n < IntraCoder::k_max_rows && stale(row + n)) ++n;
            slices.clear();
            if (!intra_.code(yuv_.data(), width_, height_, MbRect{x, row, w, n}, qp_, slices))
                return intra_ok_ = false;
            for (int k = 0; k < n; ++k) {
                const size_t i = size_t(row + k) * size_t(tile_cols_) + size_t(t);
                tiles_[i] = std::move(slices[size_t(k)]);
                tile_dirty_[i] = 0;
            }
            row += n;
        }
    }
    // Two keyframes in a row must differ in idr_pic_id, and the library's
    // next one will carry the number after its last.
    int id = (last_idr_id_ + 1) & 0xFFFF;
    while (id == last_idr_id_ || id == ((library_idr_id_ + 1) & 0xFFFF)) id = (id + 1) & 0xFFFF;
    const size_t from = out.size();
    out.insert(out.end(), params_.begin(), params_.end());
    IntraSliceTarget target;
    target.idr = true;
    target.nal_ref_idc = idr_ref_idc_;
    target.idr_pic_id = id;
    target.deblocking_idc = 0;
    for (int row = 0; row < rows; ++row) {
        for (int t = 0; t < tile_cols_; ++t) {
            target.first_mb = row * cols + t * tile_w_;
            write_intra_slice(sps_, pps_, target, tiles_[size_t(row) * size_t(tile_cols_) + size_t(t)],
                              out);
        }
    }
    // A keyframe over its share of the bit rate has every row coded again, at
    // a coarser quantiser, with the next one; a much smaller one lets the
    // rows coded from then on be finer.
    const long long budget =
        1000LL * kbps_ / 8 * std::max(intra_period_, 1) / std::max(fps_, 1) * 3 / 4;
    const long long size = static_cast<long long>(out.size() - from);
    if (size > budget && qp_ < 44) {
        qp_ = std::min(qp_ + 2, 44);
        std::fill(tile_dirty_.begin(), tile_dirty_.end(), uint8_t(1));
    } else if (size * 3 < budget && qp_ > 22) {
        --qp_;
    }

    last_idr_id_ = id;
    last_frame_num_ = 0;
    last_poc_lsb_ = 0;
    offset_ = 0;
    since_idr_ = 0;
    ++counts_.put_together;
    library_stale_ = true;
    refine_left_ = 0;
    return true;
}

void H264Encoder::close() {
    if (encoder_) {
        openh264_destroy(library_, encoder_);
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
