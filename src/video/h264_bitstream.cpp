// H.264 parameter-set and slice-header reading, skip-picture writing and
// slice renumbering (see h264_bitstream.h).
#include "video/h264_bitstream.h"

namespace {

class BitReader {
  public:
    explicit BitReader(const std::vector<uint8_t>& d) : d_(d) {}
    bool ok() const { return ok_; }
    size_t pos() const { return pos_; }
    uint32_t u(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) v = (v << 1) | bit();
        return v;
    }
    uint32_t ue() {
        int zeros = 0;
        while (ok_ && bit() == 0) {
            if (++zeros > 31) {
                ok_ = false;
                return 0;
            }
        }
        if (zeros == 0) return 0;
        return ((1u << zeros) - 1) + u(zeros);
    }
    int32_t se() {
        uint32_t k = ue();
        return (k & 1) ? int32_t((k + 1) / 2) : -int32_t(k / 2);
    }

  private:
    uint32_t bit() {
        if (pos_ >= d_.size() * 8) {
            ok_ = false;
            return 0;
        }
        uint32_t b = (d_[pos_ / 8] >> (7 - pos_ % 8)) & 1;
        ++pos_;
        return b;
    }
    const std::vector<uint8_t>& d_;
    size_t pos_ = 0;
    bool ok_ = true;
};

class BitWriter {
  public:
    void u(int n, uint32_t v) {
        if (n <= 0) return;
        acc_ = (acc_ << n) | (v & (n >= 32 ? 0xFFFFFFFFu : (1u << n) - 1));
        pending_ += n;
        while (pending_ >= 8) {
            pending_ -= 8;
            bytes.push_back(uint8_t(acc_ >> pending_));
        }
    }
    void ue(uint32_t v) {
        uint64_t x = uint64_t(v) + 1;
        int len = 0;
        while ((x >> len) > 1) ++len;
        u(len, 0);
        for (int i = len; i >= 0; --i) u(1, uint32_t(x >> i) & 1);
    }
    void se(int32_t v) { ue(v > 0 ? uint32_t(2 * v - 1) : uint32_t(-2 * int64_t(v))); }
    void trailing() {
        u(1, 1);
        if (pending_) u(8 - pending_, 0);
    }
    // Bits [from, to) of d, a byte at a time once the source is aligned.
    void copy(const std::vector<uint8_t>& d, size_t from, size_t to) {
        for (; from < to && from % 8; ++from) u(1, (d[from / 8] >> (7 - from % 8)) & 1);
        for (; from + 8 <= to; from += 8) u(8, d[from / 8]);
        for (; from < to; ++from) u(1, (d[from / 8] >> (7 - from % 8)) & 1);
    }
    std::vector<uint8_t> bytes;

  private:
    uint64_t acc_ = 0;
    int pending_ = 0;  // bits in acc_ not yet in bytes (under 8)
};

bool high_profile(uint32_t p) {
    switch (p) {
        case 100:
        case 110:
        case 122:
        case 244:
        case 44:
        case 83:
        case 86:
        case 118:
        case 128:
        case 138:
        case 139:
        case 134:
        case 135:
            return true;
        default:
            return false;
    }
}

void put_bits(std::vector<uint8_t>& d, size_t pos, int n, uint32_t v) {
    for (int i = 0; i < n; ++i, ++pos) {
        uint8_t mask = uint8_t(0x80 >> (pos % 8));
        if ((v >> (n - 1 - i)) & 1)
            d[pos / 8] |= mask;
        else
            d[pos / 8] &= uint8_t(~mask);
    }
}

}  // namespace

std::vector<uint8_t> nal_to_rbsp(const uint8_t* data, size_t size) {
    std::vector<uint8_t> out;
    out.reserve(size);
    int zeros = 0;
    for (size_t i = 0; i < size; ++i) {
        if (zeros >= 2 && data[i] == 3) {
            zeros = 0;  // emulation prevention byte
            continue;
        }
        zeros = data[i] == 0 ? zeros + 1 : 0;
        out.push_back(data[i]);
    }
    return out;
}

void rbsp_to_nal(const std::vector<uint8_t>& rbsp, std::vector<uint8_t>& out) {
    int zeros = 0;
    for (size_t i = 0; i < rbsp.size(); ++i) {
        uint8_t b = rbsp[i];
        // The header byte is never 0, so escaping from the start is the same
        // as escaping the payload after it.
        if (zeros >= 2 && b <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        zeros = b == 0 ? zeros + 1 : 0;
        out.push_back(b);
    }
    if (zeros > 0) out.push_back(3);  // a unit may not end in a zero byte
}

bool parse_sps(const std::vector<uint8_t>& rbsp, SpsInfo& out) {
    if (rbsp.empty() || (rbsp[0] & 0x1F) != 7) return false;
    BitReader r(rbsp);
    r.u(8);
    uint32_t profile = r.u(8);
    r.u(16);
    SpsInfo s;
    s.sps_id = int(r.ue());
    if (high_profile(profile)) {
        if (r.ue() != 1) return false;  // 4:2:0 only
        r.ue();
        r.ue();
        r.u(1);
        if (r.u(1)) return false;  // scaling matrices
    }
    s.log2_max_frame_num = int(r.ue()) + 4;
    s.poc_type = int(r.ue());
    if (s.poc_type == 0)
        s.log2_max_poc_lsb = int(r.ue()) + 4;
    else if (s.poc_type != 2)
        return false;
    r.ue();  // max_num_ref_frames
    r.u(1);  // gaps_in_frame_num_value_allowed_flag
    s.mb_width = int(r.ue()) + 1;
    s.mb_height = int(r.ue()) + 1;
    s.frame_mbs_only = r.u(1) != 0;
    if (!r.ok() || !s.frame_mbs_only || s.log2_max_frame_num > 16 || s.log2_max_poc_lsb > 16)
        return false;
    out = s;
    return true;
}

bool parse_pps(const std::vector<uint8_t>& rbsp, PpsInfo& out) {
    if (rbsp.empty() || (rbsp[0] & 0x1F) != 8) return false;
    BitReader r(rbsp);
    r.u(8);
    PpsInfo p;
    p.pps_id = int(r.ue());
    p.sps_id = int(r.ue());
    p.cabac = r.u(1) != 0;
    p.bottom_field_pic_order_present = r.u(1) != 0;
    p.num_slice_groups = int(r.ue()) + 1;
    if (p.num_slice_groups != 1) return false;
    r.ue();
    r.ue();
    p.weighted_pred = r.u(1) != 0;
    r.u(2);
    p.pic_init_qp = 26 + r.se();
    r.se();
    p.chroma_qp_offset = r.se();
    p.deblocking_control_present = r.u(1) != 0;
    p.constrained_intra_pred = r.u(1) != 0;
    p.redundant_pic_cnt_present = r.u(1) != 0;
    if (!r.ok()) return false;
    out = p;
    return true;
}

namespace {

// The slice header fields this module writes, up to and including
// pic_order_cnt_lsb and what follows it before the slice-type parts.
void write_slice_start(BitWriter& w, const SpsInfo& sps, const PpsInfo& pps, int nal_ref_idc,
                       int nal_type, int first_mb, int slice_type, int frame_num, int idr_pic_id,
                       int poc_lsb) {
    w.u(8, uint32_t((nal_ref_idc & 3) << 5) | uint32_t(nal_type));
    w.ue(uint32_t(first_mb));
    w.ue(uint32_t(slice_type));
    w.ue(uint32_t(pps.pps_id));
    w.u(sps.log2_max_frame_num, uint32_t(frame_num));
    if (nal_type == 5) w.ue(uint32_t(idr_pic_id));
    if (sps.poc_type == 0) {
        w.u(sps.log2_max_poc_lsb, uint32_t(poc_lsb));
        if (pps.bottom_field_pic_order_present) w.se(0);
    }
    if (pps.redundant_pic_cnt_present) w.ue(0);
}

void finish_nal(BitWriter& w, std::vector<uint8_t>& out) {
    w.trailing();
    static const uint8_t k_start[] = {0, 0, 0, 1};
    out.insert(out.end(), k_start, k_start + 4);
    rbsp_to_nal(w.bytes, out);
}

bool writable(const SpsInfo& sps, const PpsInfo& pps) {
    return !pps.cabac && !pps.weighted_pred && sps.frame_mbs_only &&
           (sps.poc_type == 0 || sps.poc_type == 2) && sps.mb_width >= 1 && sps.mb_height >= 1;
}

// Position of the RBSP stop bit, or 0 when there is none.
size_t stop_bit_of(const std::vector<uint8_t>& rbsp) {
    size_t stop = rbsp.size();
    while (stop > 0 && rbsp[stop - 1] == 0) --stop;
    if (stop == 0) return 0;
    size_t bit = stop * 8 - 1;
    for (uint8_t b = rbsp[stop - 1]; !(b & 1); b >>= 1) --bit;
    return bit;
}

}  // namespace

bool write_skip_run(const SpsInfo& sps, const PpsInfo& pps, int nal_ref_idc, int frame_num,
                    int poc_lsb, int first_mb, int count, std::vector<uint8_t>& out) {
    const int total = sps.mb_width * sps.mb_height;
    if (!writable(sps, pps) || first_mb < 0 || count < 1 || first_mb + count > total) return false;
    BitWriter w;
    // Type 5 (every slice of the picture is P) only for a slice that is the picture.
    write_slice_start(w, sps, pps, nal_ref_idc, 1, first_mb, count == total ? 5 : 0, frame_num, 0,
                      poc_lsb);
    w.u(1, 1);                                    // num_ref_idx_active_override_flag
    w.ue(0);                                      // one reference picture
    w.u(1, 0);                                    // ref_pic_list_modification_flag_l0
    if (nal_ref_idc) w.u(1, 0);                   // sliding-window marking
    w.se(0);                                      // slice_qp_delta
    if (pps.deblocking_control_present) w.ue(1);  // no deblocking: nothing to filter
    w.ue(uint32_t(count));                        // mb_skip_run
    finish_nal(w, out);
    return true;
}

bool write_skip_slice(const SpsInfo& sps, const PpsInfo& pps, int nal_ref_idc, int frame_num,
                      int poc_lsb, std::vector<uint8_t>& out) {
    return write_skip_run(sps, pps, nal_ref_idc, frame_num, poc_lsb, 0,
                          sps.mb_width * sps.mb_height, out);
}

bool read_intra_slice(const uint8_t* nal, size_t size, const SpsInfo& sps, const PpsInfo& pps,
                      IntraSlice& out) {
    IntraSlice s;
    s.rbsp = nal_to_rbsp(nal, size);
    if (s.rbsp.empty() || pps.cabac || sps.poc_type == 1) return false;
    const int type = s.rbsp[0] & 0x1F;
    const int ref_idc = (s.rbsp[0] >> 5) & 3;
    if (type != 1 && type != 5) return false;
    BitReader r(s.rbsp);
    r.u(8);
    r.ue();  // first_mb_in_slice
    const uint32_t slice_type = r.ue();
    if (slice_type != 2 && slice_type != 7) return false;  // I slices only
    if (int(r.ue()) != pps.pps_id) return false;
    r.u(sps.log2_max_frame_num);
    if (type == 5) r.ue();  // idr_pic_id
    if (sps.poc_type == 0) {
        r.u(sps.log2_max_poc_lsb);
        if (pps.bottom_field_pic_order_present) r.se();
    }
    if (pps.redundant_pic_cnt_present) r.ue();
    if (ref_idc) {
        if (type == 5) {
            r.u(2);  // no_output_of_prior_pics_flag, long_term_reference_flag
        } else if (r.u(1)) {
            return false;  // memory management operations
        }
    }
    s.qp = pps.pic_init_qp + r.se();
    if (pps.deblocking_control_present && r.ue() != 1) {
        r.se();
        r.se();
    }
    s.data_bit = r.pos();
    s.end_bit = stop_bit_of(s.rbsp);
    if (!r.ok() || s.end_bit < s.data_bit) return false;
    out = std::move(s);
    return true;
}

void write_intra_slice(const SpsInfo& sps, const PpsInfo& pps, const IntraSliceTarget& t,
                       const IntraSlice& slice, std::vector<uint8_t>& out) {
    BitWriter w;
    w.bytes.reserve(slice.rbsp.size() + 16);
    const int type = t.idr ? 5 : 1;
    write_slice_start(w, sps, pps, t.nal_ref_idc, type, t.first_mb, t.idr ? 7 : 2,
                      t.idr ? 0 : t.frame_num, t.idr_pic_id, t.idr ? 0 : t.poc_lsb);
    if (t.nal_ref_idc) {
        if (t.idr)
            w.u(2, 0);
        else
            w.u(1, 0);  // sliding-window marking
    }
    w.se(slice.qp - pps.pic_init_qp);
    if (pps.deblocking_control_present) {
        w.ue(uint32_t(t.deblocking_idc));
        if (t.deblocking_idc != 1) {
            w.se(0);
            w.se(0);
        }
    }
    w.copy(slice.rbsp, slice.data_bit, slice.end_bit);
    finish_nal(w, out);
}

bool parse_slice_header(const std::vector<uint8_t>& rbsp, const SpsInfo& sps, const PpsInfo& pps,
                        SliceHeaderInfo& out) {
    if (rbsp.empty()) return false;
    int type = rbsp[0] & 0x1F;
    if (type != 1 && type != 5) return false;
    BitReader r(rbsp);
    r.u(8);
    SliceHeaderInfo s;
    s.nal_ref_idc = (rbsp[0] >> 5) & 3;
    s.idr = type == 5;
    r.ue();  // first_mb_in_slice
    r.ue();  // slice_type
    if (int(r.ue()) != pps.pps_id) return false;
    s.frame_num_bit = r.pos();
    s.frame_num = int(r.u(sps.log2_max_frame_num));
    if (s.idr) s.idr_pic_id = int(r.ue());
    if (sps.poc_type == 0) {
        s.poc_lsb_bit = r.pos();
        s.poc_lsb = int(r.u(sps.log2_max_poc_lsb));
    }
    if (!r.ok()) return false;
    out = s;
    return true;
}

void rewrite_slice_numbers(std::vector<uint8_t>& rbsp, const SpsInfo& sps,
                           const SliceHeaderInfo& info, int frame_num, int poc_lsb) {
    put_bits(rbsp, info.frame_num_bit, sps.log2_max_frame_num, uint32_t(frame_num));
    if (info.poc_lsb_bit) put_bits(rbsp, info.poc_lsb_bit, sps.log2_max_poc_lsb, uint32_t(poc_lsb));
}

std::vector<NalSpan> split_annexb(const uint8_t* data, size_t size) {
    std::vector<NalSpan> units;
    size_t start = size;
    size_t i = 0;
    while (i + 2 < size) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            if (start < size) {
                size_t end = i;
                while (end > start && data[end - 1] == 0) --end;
                if (end > start) units.push_back({data + start, end - start});
            }
            start = i + 3;
            i += 3;
        } else {
            ++i;
        }
    }
    if (start < size) units.push_back({data + start, size - start});
    return units;
}

bool set_sps_timing(const uint8_t* nal, size_t size, int fps, std::vector<uint8_t>& out) {
    const std::vector<uint8_t> rbsp = nal_to_rbsp(nal, size);
    if (rbsp.empty() || (rbsp[0] & 0x1F) != 7 || fps < 1 || fps > 1000) return false;
    BitReader r(rbsp);
    r.u(8);
    const uint32_t profile = r.u(8);
    r.u(16);
    r.ue();  // seq_parameter_set_id
    if (high_profile(profile)) {
        if (r.ue() == 3) r.u(1);  // separate_colour_plane_flag
        r.ue();
        r.ue();
        r.u(1);
        if (r.u(1)) return false;  // scaling matrices
    }
    r.ue();  // log2_max_frame_num_minus4
    const uint32_t poc_type = r.ue();
    if (poc_type == 0) {
        r.ue();
    } else if (poc_type == 1) {
        r.u(1);
        r.se();
        r.se();
        const uint32_t cycle = r.ue();
        if (cycle > 255) return false;
        for (uint32_t i = 0; i < cycle; ++i) r.se();
    }
    r.ue();  // max_num_ref_frames
    r.u(1);
    r.ue();  // pic_width_in_mbs_minus1
    r.ue();
    if (!r.u(1)) r.u(1);  // frame_mbs_only_flag, mb_adaptive_frame_field_flag
    r.u(1);               // direct_8x8_inference_flag
    if (r.u(1))
        for (int i = 0; i < 4; ++i) r.ue();  // frame cropping
    const size_t vui_flag = r.pos();
    const bool vui = r.u(1) != 0;
    size_t timing_flag = r.pos(), after_timing = r.pos();
    if (vui) {
        if (r.u(1) && r.u(8) == 255) r.u(32);  // aspect ratio, extended SAR
        if (r.u(1)) r.u(1);                    // overscan
        if (r.u(1)) {                          // video signal type
            r.u(4);
            if (r.u(1)) r.u(24);
        }
        if (r.u(1)) {  // chroma location
            r.ue();
            r.ue();
        }
        timing_flag = r.pos();
        if (r.u(1)) {
            r.u(32);
            r.u(32);
            r.u(1);
        }
        after_timing = r.pos();
    }
    if (!r.ok()) return false;
    // The rest of the VUI is copied as it is, up to the RBSP stop bit.
    const size_t stop_bit = stop_bit_of(rbsp);
    if (stop_bit == 0 || stop_bit < after_timing) return false;

    BitWriter w;
    if (vui) {
        w.copy(rbsp, 0, timing_flag);
    } else {
        w.copy(rbsp, 0, vui_flag);
        w.u(1, 1);
        w.u(4, 0);  // no aspect ratio, overscan, video signal or chroma location
    }
    w.u(1, 1);
    w.u(32, 1000);
    w.u(32, 2000u * uint32_t(fps));
    w.u(1, 0);
    if (vui)
        w.copy(rbsp, after_timing, stop_bit);
    else
        w.u(4, 0);  // no HRD, pic_struct or bitstream restriction
    w.trailing();
    out.clear();
    rbsp_to_nal(w.bytes, out);
    return true;
}
