// H.264 encoder for one stream: OpenH264 loaded at run time, screen-content
// real-time mode, an IDR picture every second with SPS and PPS in band.
// Output is one access unit in Annex B form per call. Used only by the engine
// thread; ParameterSets are guarded by their stream's mutex in the engine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "video/color_convert.h"
#include "video/h264_bitstream.h"
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
    // converted, and when nothing changed the library is not called at all;
    // a P picture of skipped macroblocks (an exact repeat) goes out instead,
    // or, when a keyframe is due and the library has coded nothing new since,
    // the last IDR access unit again (with the pictures that sharpened it). The library's later
    // pictures get their frame_num and pic_order_cnt_lsb renumbered to follow ours.
    bool encode_changes(const uint8_t* bgrx, int src_width, bool force_idr,
                        const std::vector<PixelRect>& changed, std::vector<uint8_t>& out);
    void close();

    // Pictures produced so far, by kind (benchmarks and tests).
    struct Counts {
        uint64_t encoded = 0;  // by the library
        uint64_t skipped = 0;  // our skip pictures
        uint64_t repeated_idr = 0;
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
    void convert_area(const uint8_t* bgrx, int src_width, const PixelRect& r);
    void follow_stream(std::vector<uint8_t>& out, size_t from);
    void append_nal(const uint8_t* nal, size_t len, std::vector<uint8_t>& out);
    int fps_ = 10;
    std::vector<uint8_t> sps_in_, sps_out_;  // the library's SPS and ours

    // Stream state for skip pictures and renumbering.
    int intra_period_ = 0;
    bool yuv_valid_ = false;  // yuv_ holds the previous picture of encode_changes
    bool known_ = false;      // parameter sets parsed and usable for skip pictures
    SpsInfo sps_;
    PpsInfo pps_;
    int ref_idc_ = 2;
    int last_frame_num_ = 0;  // as sent
    int last_poc_lsb_ = 0;
    int offset_ = 0;     // our skip pictures since the last IDR
    int since_idr_ = 0;  // pictures sent after the last IDR
    int library_since_idr_ = 0;
    int refine_left_ = 0;       // library pictures still due for the last large change
    bool held_change_ = false;  // a change to code at the next call
    // The last IDR and the library pictures that directly followed it without
    // a change (sharpening): sent again when a keyframe is due and the
    // library has coded nothing else since.
    struct Replayed {
        std::vector<uint8_t> au;
        int frame_num = 0, poc_lsb = 0;
    };
    std::vector<Replayed> chain_;
    bool chain_open_ = false;
    size_t replay_pos_ = 0;  // next chain picture to send again (0: not replaying)
    bool replay_next(std::vector<uint8_t>& out);
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
