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
        for (int i = n - 1; i >= 0; --i) bit((v >> i) & 1);
    }
    void ue(uint32_t v) {
        uint64_t x = uint64_t(v) + 1;
        int len = 0;
        while ((x >> len) > 1) ++len;
        u(len, 0);
        for (int i = len; i >= 0; --i) bit(uint32_t(x >> i) & 1);
    }
    void se(int32_t v) { ue(v > 0 ? uint32_t(2 * v - 1) : uint32_t(-2 * int64_t(v))); }
    void trailing() {
        bit(1);
        while (nbits_ % 8) bit(0);
    }
    // Bits [from, to) of d.
    void copy(const std::vector<uint8_t>& d, size_t from, size_t to) {
        for (size_t p = from; p < to; ++p) bit((d[p / 8] >> (7 - p % 8)) & 1);
    }
    std::vector<uint8_t> bytes;

  private:
    void bit(uint32_t b) {
        if (nbits_ % 8 == 0) bytes.push_back(0);
        if (b) bytes.back() |= uint8_t(0x80 >> (nbits_ % 8));
        ++nbits_;
    }
    size_t nbits_ = 0;
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
    r.se();
    r.se();
    r.se();
    p.deblocking_control_present = r.u(1) != 0;
    r.u(1);
    p.redundant_pic_cnt_present = r.u(1) != 0;
    if (!r.ok()) return false;
    out = p;
    return true;
}

bool write_skip_slice(const SpsInfo& sps, const PpsInfo& pps, int nal_ref_idc, int frame_num,
                      int poc_lsb, std::vector<uint8_t>& out) {
    if (pps.cabac || pps.weighted_pred || !sps.frame_mbs_only ||
        (sps.poc_type != 0 && sps.poc_type != 2) || sps.mb_width < 1 || sps.mb_height < 1)
        return false;
    BitWriter w;
    w.u(8, uint32_t((nal_ref_idc & 3) << 5) | 1);
    w.ue(0);  // first_mb_in_slice
    w.ue(5);  // P, every slice of the picture
    w.ue(uint32_t(pps.pps_id));
    w.u(sps.log2_max_frame_num, uint32_t(frame_num));
    if (sps.poc_type == 0) {
        w.u(sps.log2_max_poc_lsb, uint32_t(poc_lsb));
        if (pps.bottom_field_pic_order_present) w.se(0);
    }
    if (pps.redundant_pic_cnt_present) w.ue(0);
    w.u(1, 1);                                     // num_ref_idx_active_override_flag
    w.ue(0);                                       // one reference picture
    w.u(1, 0);                                     // ref_pic_list_modification_flag_l0
    if (nal_ref_idc) w.u(1, 0);                    // sliding-window marking
    w.se(0);                                       // slice_qp_delta
    if (pps.deblocking_control_present) w.ue(1);   // no deblocking: nothing to filter
    w.ue(uint32_t(sps.mb_width * sps.mb_height));  // mb_skip_run: the whole picture
    w.trailing();
    static const uint8_t k_start[] = {0, 0, 0, 1};
    out.insert(out.end(), k_start, k_start + 4);
    rbsp_to_nal(w.bytes, out);
    return true;
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
    if (s.idr) r.ue();  // idr_pic_id
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
    size_t stop = rbsp.size();
    while (stop > 0 && rbsp[stop - 1] == 0) --stop;
    if (stop == 0) return false;
    size_t stop_bit = stop * 8 - 1;
    for (uint8_t b = rbsp[stop - 1]; !(b & 1); b >>= 1) --stop_bit;
    if (stop_bit < after_timing) return false;

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
