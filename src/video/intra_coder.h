// Codes areas of a picture as intra slices, one slice per macroblock row, with
// OpenH264 instances of the areas' sizes. The slices can be placed in another
// picture of the same stream (write_intra_slice): a macroblock row that is its
// own slice decodes the same wherever it sits. Used by H264Encoder for small
// changes and for keyframes put together from stored rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "video/h264_bitstream.h"

// Macroblocks x, y (top-left) and w x h.
struct MbRect {
    int x = 0, y = 0, w = 0, h = 0;
};

class IntraCoder {
  public:
    // Rows per call: the library's limit on slices in a picture.
    static constexpr int k_max_rows = 32;

    IntraCoder() = default;
    ~IntraCoder();
    IntraCoder(const IntraCoder&) = delete;
    IntraCoder& operator=(const IntraCoder&) = delete;

    // Codes `area` (h at most k_max_rows) of the I420 picture yuv (width x
    // height, planes packed one after another) at qp, repeating the edge
    // pixels where the area reaches past the picture. Appends h slices, top to
    // bottom. False when the library fails or writes what cannot be placed.
    bool code(const uint8_t* yuv, int width, int height, const MbRect& area, int qp,
              std::vector<IntraSlice>& out);
    // Ends every instance (the library stays loaded until destruction).
    void clear();

  private:
    struct Instance {
        int mb_w = 0, mb_h = 0, qp = 0;
        void* encoder = nullptr;  // ISVCEncoder*
        uint64_t used = 0;
    };
    Instance* instance(int mb_w, int mb_h, int qp);
    bool code_once(const uint8_t* yuv, int width, int height, const MbRect& area, int qp,
                   std::vector<IntraSlice>& out);
    void destroy(Instance& in);

    void* library_ = nullptr;
    std::vector<Instance> instances_;
    uint64_t tick_ = 0;
    std::vector<uint8_t> crop_;
};
