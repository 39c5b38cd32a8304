// Small H.264 bitstream tools for the encoder wrapper: reading the parameter
// sets the encoder emits, writing slices of skipped macroblocks (an exact copy
// of the reference picture), placing intra slices of another encoder in our
// pictures, and renumbering the frame_num and pic_order_cnt_lsb of the
// encoder's own slices so that our pictures can sit between them. Only what OpenH264's CAVLC streams use is supported; anything
// else makes the parsers fail and the caller encodes every picture instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct SpsInfo {
    int sps_id = 0;
    int log2_max_frame_num = 4;
    int poc_type = 0;
    int log2_max_poc_lsb = 4;  // poc_type 0 only
    bool frame_mbs_only = true;
    int mb_width = 0;
    int mb_height = 0;
};

struct PpsInfo {
    int pps_id = 0;
    int sps_id = 0;
    bool cabac = false;
    bool bottom_field_pic_order_present = false;
    int num_slice_groups = 1;
    bool weighted_pred = false;
    bool deblocking_control_present = false;
    bool redundant_pic_cnt_present = false;
    int pic_init_qp = 26;
    int chroma_qp_offset = 0;
    bool constrained_intra_pred = false;
};

// Emulation prevention: NAL payload <-> raw byte sequence payload.
std::vector<uint8_t> nal_to_rbsp(const uint8_t* data, size_t size);
void rbsp_to_nal(const std::vector<uint8_t>& rbsp, std::vector<uint8_t>& out);

// Parse the RBSP of an SPS or PPS NAL unit (header byte included). False on a
// unit this module cannot handle (fields, CABAC-only features, scaling lists...).
bool parse_sps(const std::vector<uint8_t>& rbsp, SpsInfo& out);
bool parse_pps(const std::vector<uint8_t>& rbsp, PpsInfo& out);

// Copies an SPS NAL unit (header byte included) to out with VUI timing for
// fps pictures a second (num_units_in_tick 1000, time_scale 2000 * fps) and
// fixed_frame_rate_flag 0, as pictures may come slower; other VUI fields are
// kept, earlier timing is replaced. False, out untouched, on an SPS this
// module cannot read.
bool set_sps_timing(const uint8_t* nal, size_t size, int fps, std::vector<uint8_t>& out);

// Appends, with a 4-byte start code, a P slice covering the whole picture with
// every macroblock skipped. Needs CAVLC, no weighted prediction, frame pictures,
// pic_order_cnt_type 0 or 2.
bool write_skip_slice(const SpsInfo& sps, const PpsInfo& pps, int nal_ref_idc, int frame_num,
                      int poc_lsb, std::vector<uint8_t>& out);

// The same for the macroblocks [first_mb, first_mb + count) only, as one
// slice of a picture that has others (slice type 0 unless it is the whole
// picture). Skipped macroblocks are not filtered.
bool write_skip_run(const SpsInfo& sps, const PpsInfo& pps, int nal_ref_idc, int frame_num,
                    int poc_lsb, int first_mb, int count, std::vector<uint8_t>& out);

// An I slice of another encoder's picture (its parameter sets given to
// read_intra_slice), kept so that its macroblocks can be placed in a picture
// of ours: the RBSP, where the macroblocks start and the stop bit.
struct IntraSlice {
    std::vector<uint8_t> rbsp;
    size_t data_bit = 0;
    size_t end_bit = 0;
    int qp = 26;
};
bool read_intra_slice(const uint8_t* nal, size_t size, const SpsInfo& sps, const PpsInfo& pps,
                      IntraSlice& out);
// Where such a slice goes: an IDR picture (frame_num and order count 0) or a
// P picture of ours, from macroblock first_mb on, with the given deblocking
// (0 across slice edges too, 1 none, 2 inside the slice only).
struct IntraSliceTarget {
    bool idr = false;
    int nal_ref_idc = 3;
    int idr_pic_id = 0;
    int frame_num = 0;
    int poc_lsb = 0;
    int first_mb = 0;
    int deblocking_idc = 0;
};
// Appends the slice with a 4-byte start code, its header written for our
// stream (sps, pps) and the same slice QP. The macroblocks decode the same
// when their neighbours outside the slice are unavailable in both pictures,
// which holds when the source picture's slices are single macroblock rows.
void write_intra_slice(const SpsInfo& sps, const PpsInfo& pps, const IntraSliceTarget& target,
                       const IntraSlice& slice, std::vector<uint8_t>& out);

// Slice header fields of a coded slice NAL unit (types 1 and 5).
struct SliceHeaderInfo {
    int nal_ref_idc = 0;
    bool idr = false;
    int frame_num = 0;
    int poc_lsb = 0;
    int idr_pic_id = 0;
    size_t frame_num_bit = 0;  // bit positions in the RBSP
    size_t poc_lsb_bit = 0;    // 0 when the slice has no pic_order_cnt_lsb
};
bool parse_slice_header(const std::vector<uint8_t>& rbsp, const SpsInfo& sps, const PpsInfo& pps,
                        SliceHeaderInfo& out);
// Overwrites frame_num and pic_order_cnt_lsb in a slice RBSP (their widths are
// fixed by the SPS, so nothing after them moves).
void rewrite_slice_numbers(std::vector<uint8_t>& rbsp, const SpsInfo& sps,
                           const SliceHeaderInfo& info, int frame_num, int poc_lsb);

// One Annex B access unit split into NAL units (start codes removed).
struct NalSpan {
    const uint8_t* data;
    size_t size;
};
std::vector<NalSpan> split_annexb(const uint8_t* data, size_t size);
