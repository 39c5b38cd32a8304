// Scalar pieces of the BGRX -> I420 conversion shared by every variant: the
// SIMD loops handle whole chunks and finish rows with these, so all variants
// give the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace colorconv {

inline uint8_t luma(const uint8_t* p) {
    return static_cast<uint8_t>(((25 * p[0] + 129 * p[1] + 66 * p[2] + 128) >> 8) + 16);
}

inline uint8_t chroma_byte(int n) {
    int q = n / 256;  // C++ division truncates toward zero
    if (q < -128) return 0;
    if (q > 127) return 255;
    return static_cast<uint8_t>(q + 128);
}

// Luma of columns [x0, width) of one row.
inline void luma_tail(const uint8_t* row, int x0, int width, uint8_t* y) {
    for (int x = x0; x < width; ++x) y[x] = luma(row + x * 4);
}

// Chroma of blocks [b0, blocks) of one row pair.
inline void chroma_tail(const uint8_t* r0, const uint8_t* r1, int b0, int blocks, uint8_t* u,
                        uint8_t* v) {
    for (int i = b0; i < blocks; ++i) {
        const uint8_t* a = r0 + i * 8;
        const uint8_t* b = r1 + i * 8;
        int bb = (a[0] + a[4] + b[0] + b[4]) >> 2;
        int gg = (a[1] + a[5] + b[1] + b[5]) >> 2;
        int rr = (a[2] + a[6] + b[2] + b[6]) >> 2;
        u[i] = chroma_byte(112 * bb - 74 * gg - 38 * rr + 128);
        v[i] = chroma_byte(112 * rr - 94 * gg - 18 * bb + 128);
    }
}

}  // namespace colorconv
