// H.264 encoder for one stream: OpenH264 loaded at run time, screen-content
// real-time mode, an IDR picture every second with SPS and PPS in band; on the
// change-driven path most pictures are written here instead (see
// encode_changes).
// Output is one access unit in Annex B form per call. Used only by the engine
// thread; ParameterSets are guarded by their stream's mutex in the engine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "video/color_convert.h"
#include "video/h264_bitstream.h"
#include "video/intra_coder.h"
#include "video/pixel_rect.h"

// SPS and PPS of a stream (NAL units without start codes) and the SDP
// profile-level-id ("42C020" until an SPS has been seen).
struct ParameterSets {
    std::vector<uint8_t> sps;
    std::vector<uint8_t> pps;
    std::string profile_level_id = "42C020";
};

class H264Encoder {
  public:
    H264Encoder() = default;
    ~H264Encoder();
    H264Encoder(const H264Encoder&) = delete;
    H264Encoder& operator=(const H264Encoder&) = delete;

    // Loads the library and creates an encoder for (width & ~1) x (height & ~1).
    bool open(int width, int height, int fps, int kbps);
    // Converts the BGRX picture (stride src_width * 4, at least width x height
    // pixels), encodes it (as an IDR picture when force_idr) and appends the
    // access unit's Annex B bytes to out. Nothing appended when the library
    // skipped the frame. False on a library error or without an open encoder.
    bool encode(const uint8_t* bgrx, int src_width, bool force_idr, std::vector<uint8_t>& out);
    // The same for a picture that differs from the previous one given this way
    // only inside `changed` (encode-size pixels): only those areas are
    // converted. The library codes large changes only. When nothing changed a
    // P picture of skipped macroblocks (an exact repeat) goes out; a small
    // change goes out as intra slices of just its macroblock rows amid skipped
    // macroblocks; a keyframe is put together from stored intra rows, coding
    // again only the rows that changed since they were stored. The library's
    // later pictures get their frame_num and pic_order_cnt_lsb renumbered to
    // follow ours, and its next picture after one of ours is an IDR.
    bool encode_changes(const uint8_t* bgrx, int src_width, bool force_idr,
                        const std::vector<PixelRect>& changed, std::vector<uint8_t>& out);
    void close();

    // Pictures produced so far, by kind (benchmarks and tests).
    struct Counts {
        uint64_t encoded = 0;  // by the library
        uint64_t skipped = 0;  // our skip pictures
        uint64_t spliced = 0;  // our pictures with a change in intra slices
        uint64_t put_together = 0;  // our keyframes of stored rows
    };
    const Counts& counts() const { return counts_; }

    bool is_open() const { return encoder_ != nullptr; }
    int width() const { return width_; }
    int height() const { return height_; }

  private:
    void* library_ = nullptr;
    void* encoder_ = nullptr;  // ISVCEncoder*
    int width_ = 0;
    int height_ = 0;
    std::vector<uint8_t> yuv_;
    std::vector<uint8_t> scratch_;  // one area in I420 before it is copied into yuv_

    bool run_library(bool force_idr, std::vector<uint8_t>& out);
    void convert_whole(const uint8_t* bgrx, int src_width);
    void convert_area(const uint8_t* bgrx, int src_width, const PixelRect& r);
    void follow_stream(std::vector<uint8_t>& out, size_t from);
    void append_nal(const uint8_t* nal, size_t len, std::vector<uint8_t>& out);
    int fps_ = 10;
    std::vector<uint8_t> sps_in_, sps_out_;  // the library's SPS and ours

    // Stream state for skip pictures and renumbering.
    int intra_period_ = 0;
    int kbps_ = 0;
    bool yuv_valid_ = false;  // yuv_ holds the previous picture of encode_changes
    bool known_ = false;      // parameter sets parsed and usable for our pictures
    SpsInfo sps_;
    PpsInfo pps_;
    std::vector<uint8_t> params_;  // SPS and PPS as last sent, with start codes
    int ref_idc_ = 2;
    int idr_ref_idc_ = 3;
    int last_frame_num_ = 0;  // as sent
    int last_poc_lsb_ = 0;
    int last_idr_id_ = 0;     // idr_pic_id of the last keyframe sent
    int library_idr_id_ = 0;  // and of the library's last
    int offset_ = 0;     // our pictures since the last IDR
    int since_idr_ = 0;  // pictures sent after the last IDR
    int refine_left_ = 0;  // library pictures still due for the last large change
    // The decoder's picture is no longer the library's reference (our intra
    // slices are in it): the library's next picture must be an IDR.
    bool library_stale_ = false;

    // Intra rows: this picture's changed macroblock columns per row, and the
    // stored keyframe rows, cut into tiles of tile_w_ macroblocks.
    IntraCoder intra_;
    bool intra_ok_ = true;
    int qp_ = 26;
    std::vector<int> span_lo_, span_hi_;
    int tile_w_ = 0, tile_cols_ = 0;
    std::vector<IntraSlice> tiles_;    // row-major
    std::vector<uint8_t> tile_dirty_;  // changed since stored, or never coded
    void mark_changed(const PixelRect& r);
    // frame_num and order count of our next P picture, and the bookkeeping
    // once it is sent.
    struct Numbers {
        int frame_num, poc_lsb;
    };
    Numbers next_numbers() const;
    void sent_our_picture(const Numbers& n);
    bool skip_picture(std::vector<uint8_t>& out);
    bool splice_change(std::vector<uint8_t>& out);
    bool put_keyframe_together(std::vector<uint8_t>& out);
    Counts counts_;
};

// Finds the SPS (type 7) and PPS (type 8) in Annex B bytes; a later unit of a
// type replaces an earlier one. profile_level_id gets the three bytes after the
// SPS header ("%02X%02X%02X") when the SPS has at least 4 bytes. True when both
// were found.
bool extract_parameter_sets(const uint8_t* annexb, size_t size, std::vector<uint8_t>& sps_out,
                            std::vector<uint8_t>& pps_out, std::string& profile_level_id_out);
inline bool extract_parameter_sets(const std::vector<uint8_t>& annexb,
                                   std::vector<uint8_t>& sps_out, std::vector<uint8_t>& pps_out,
                                   std::string& profile_level_id_out) {
    return extract_parameter_sets(annexb.data(), annexb.size(), sps_out, pps_out,
                                  profile_level_id_out);
}
