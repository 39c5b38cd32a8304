// AVX2 conversion: 32 luma pixels and 16 chroma blocks per step, exact to the
// scalar formula. Built with -mavx2; only called when the CPU reports AVX2.
//
// Every intermediate fits 16 bits: the luma sum 25B + 129G + 66R + 128 is at
// most 56356 (kept as wrapping unsigned 16-bit), and a chroma sum such as
// 112B - 74G - 38R + 128 stays within +-28688 (signed 16-bit), so both run
// 16 lanes wide.
#include <immintrin.h>

#include "video/color_convert.h"
#include "video/color_convert_ref.h"

namespace {

inline __m256i ld(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// Eight pixels -> [25B + 129G, 66R] per pixel as 16-bit pairs.
inline __m256i luma_pairs(__m256i px) {
    const __m256i k_br = _mm256_set1_epi32(66 << 16 | 25);          // bytes 25, 0, 66, 0
    const __m256i k_g = _mm256_set1_epi32(129);                     // words 129, 0
    __m256i br = _mm256_maddubs_epi16(px, k_br);                    // 25B, 66R
    __m256i g = _mm256_mullo_epi16(_mm256_srli_epi16(px, 8), k_g);  // 129G, 0 (X dropped)
    return _mm256_add_epi16(br, g);
}

// Sixteen pixels (two registers) -> 16 luma values (16-bit, final). Lane order:
// pixels 0-3, 8-11 | 4-7, 12-15.
inline __m256i luma16(__m256i a, __m256i b) {
    __m256i s = _mm256_hadd_epi16(luma_pairs(a), luma_pairs(b));
    s = _mm256_srli_epi16(_mm256_add_epi16(s, _mm256_set1_epi16(128)), 8);
    return _mm256_add_epi16(s, _mm256_set1_epi16(16));
}

inline void store_luma(uint8_t* y, __m256i a0, __m256i a1, __m256i a2, __m256i a3) {
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    __m256i bytes =
        _mm256_permutevar8x32_epi32(_mm256_packus_epi16(luma16(a0, a1), luma16(a2, a3)), order);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(y), bytes);
}

// Two 8-pixel rows -> channel means of 4 blocks as 16-bit [B G R X]:
// lane 0 blocks 0,1; lane 1 blocks 2,3. The byte shuffle puts the same
// channel of neighbouring pixels side by side so one multiply-add by 1 sums them.
inline __m256i block_means(__m256i a, __m256i b) {
    const __m256i pair = _mm256_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15, 0,
                                          4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15);
    const __m256i ones = _mm256_set1_epi8(1);
    __m256i sa = _mm256_maddubs_epi16(_mm256_shuffle_epi8(a, pair), ones);
    __m256i sb = _mm256_maddubs_epi16(_mm256_shuffle_epi8(b, pair), ones);
    return _mm256_srli_epi16(_mm256_add_epi16(sa, sb), 2);
}

// Block means of blocks 0-3, 4-7, 8-11, 12-15 -> the 16 chroma values
// (q + 128, 16-bit) in block order, for the coefficients k.
inline __m256i chroma16(__m256i m0, __m256i m1, __m256i m2, __m256i m3, __m256i k) {
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    __m256i h01 = _mm256_hadd_epi16(_mm256_mullo_epi16(m0, k), _mm256_mullo_epi16(m1, k));
    __m256i h23 = _mm256_hadd_epi16(_mm256_mullo_epi16(m2, k), _mm256_mullo_epi16(m3, k));
    // Words now: lane 0 blocks 0,1,4,5,8,9,12,13; lane 1 blocks 2,3,6,7,10,11,14,15.
    __m256i n = _mm256_add_epi16(_mm256_hadd_epi16(h01, h23), _mm256_set1_epi16(128));
    // Division by 256 truncating toward zero: add 255 to negative sums first.
    __m256i bias = _mm256_and_si256(_mm256_srai_epi16(n, 15), _mm256_set1_epi16(255));
    __m256i q = _mm256_srai_epi16(_mm256_add_epi16(n, bias), 8);
    q = _mm256_add_epi16(q, _mm256_set1_epi16(128));
    return _mm256_permutevar8x32_epi32(q, order);
}

// One row pair, 32 pixels per step: each pixel is loaded once for its luma
// and its block's chroma.
void row_pair(const uint8_t* r0, const uint8_t* r1, int width, uint8_t* y0, uint8_t* y1, uint8_t* u,
              uint8_t* v) {
    const __m256i ku =
        _mm256_setr_epi16(112, -74, -38, 0, 112, -74, -38, 0, 112, -74, -38, 0, 112, -74, -38, 0);
    const __m256i kv =
        _mm256_setr_epi16(-18, -94, 112, 0, -18, -94, 112, 0, -18, -94, 112, 0, -18, -94, 112, 0);
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        const uint8_t* pa = r0 + x * 4;
        const uint8_t* pb = r1 + x * 4;
        __m256i a0 = ld(pa), a1 = ld(pa + 32), a2 = ld(pa + 64), a3 = ld(pa + 96);
        __m256i b0 = ld(pb), b1 = ld(pb + 32), b2 = ld(pb + 64), b3 = ld(pb + 96);
        store_luma(y0 + x, a0, a1, a2, a3);
        store_luma(y1 + x, b0, b1, b2, b3);
        __m256i m0 = block_means(a0, b0);
        __m256i m1 = block_means(a1, b1);
        __m256i m2 = block_means(a2, b2);
        __m256i m3 = block_means(a3, b3);
        // Saturating pack = the formula's clamp of q + 128 into 0..255.
        __m256i uv =
            _mm256_packus_epi16(chroma16(m0, m1, m2, m3, ku), chroma16(m0, m1, m2, m3, kv));
        uv = _mm256_permute4x64_epi64(uv, _MM_SHUFFLE(3, 1, 2, 0));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(u + x / 2), _mm256_castsi256_si128(uv));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(v + x / 2), _mm256_extracti128_si256(uv, 1));
    }
    colorconv::luma_tail(r0, x, width, y0);
    colorconv::luma_tail(r1, x, width, y1);
    colorconv::chroma_tail(r0, r1, x / 2, width / 2, u, v);
}

}  // namespace

void bgrx_to_i420_avx2(const uint8_t* src, int src_stride, int width, int height, uint8_t* y,
                       uint8_t* u, uint8_t* v) {
    const int cw = width / 2;
    for (int j = 0; j + 1 < height; j += 2) {
        const uint8_t* r0 = src + static_cast<ptrdiff_t>(j) * src_stride;
        row_pair(r0, r0 + src_stride, width, y + static_cast<ptrdiff_t>(j) * width,
                 y + static_cast<ptrdiff_t>(j + 1) * width, u + static_cast<ptrdiff_t>(j / 2) * cw,
                 v + static_cast<ptrdiff_t>(j / 2) * cw);
    }
}
