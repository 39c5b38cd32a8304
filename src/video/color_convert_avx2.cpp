// AVX2 conversion: 32 luma pixels and 16 chroma blocks per step, exact to the
// scalar formula. Built with -mavx2; only called when the CPU reports AVX2.
#include <immintrin.h>

#include "video/color_convert.h"
#include "video/color_convert_ref.h"

namespace {

inline __m256i luma8(__m256i px) {
    const __m256i mask = _mm256_set1_epi32(0x00FF00FF);
    const __m256i k_br = _mm256_set1_epi32((66 << 16) | 25);
    const __m256i k_g = _mm256_set1_epi32(129);
    __m256i br = _mm256_and_si256(px, mask);
    __m256i gx = _mm256_and_si256(_mm256_srli_epi32(px, 8), mask);
    __m256i s = _mm256_add_epi32(_mm256_madd_epi16(br, k_br), _mm256_madd_epi16(gx, k_g));
    return _mm256_srli_epi32(_mm256_add_epi32(s, _mm256_set1_epi32(128)), 8);
}

// Two 8-pixel rows -> channel means of 4 blocks: lane 0 blocks 0,1; lane 1 blocks 2,3.
inline __m256i block_means(__m256i a, __m256i b) {
    const __m256i z = _mm256_setzero_si256();
    __m256i lo = _mm256_add_epi16(_mm256_unpacklo_epi8(a, z), _mm256_unpacklo_epi8(b, z));
    __m256i hi = _mm256_add_epi16(_mm256_unpackhi_epi8(a, z), _mm256_unpackhi_epi8(b, z));
    __m256i s = _mm256_add_epi16(_mm256_unpacklo_epi64(lo, hi), _mm256_unpackhi_epi64(lo, hi));
    return _mm256_srli_epi16(s, 2);
}

inline __m256i div256(__m256i n) {
    n = _mm256_add_epi32(n, _mm256_set1_epi32(128));
    __m256i bias = _mm256_and_si256(_mm256_srai_epi32(n, 31), _mm256_set1_epi32(255));
    return _mm256_srai_epi32(_mm256_add_epi32(n, bias), 8);
}

// madd results of blocks 0-3 and 4-7 -> sums of blocks 0..7 in order.
inline __m256i pair_sum(__m256i a, __m256i b) {
    const __m256i order = _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7);
    return _mm256_permutevar8x32_epi32(_mm256_hadd_epi32(a, b), order);
}

inline __m256i ld(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }

// 16 int32 values (two registers, in order) -> 16 bytes of q + 128, saturated.
inline __m128i to_bytes(__m256i lo8, __m256i hi8) {
    __m256i w = _mm256_permute4x64_epi64(_mm256_packs_epi32(lo8, hi8), _MM_SHUFFLE(3, 1, 2, 0));
    w = _mm256_add_epi16(w, _mm256_set1_epi16(128));
    return _mm_packus_epi16(_mm256_castsi256_si128(w), _mm256_extracti128_si256(w, 1));
}

void luma_row(const uint8_t* row, int width, uint8_t* y) {
    const __m256i k16 = _mm256_set1_epi16(16);
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        const uint8_t* p = row + x * 4;
        __m256i a = _mm256_add_epi16(_mm256_packs_epi32(luma8(ld(p)), luma8(ld(p + 32))), k16);
        __m256i b = _mm256_add_epi16(_mm256_packs_epi32(luma8(ld(p + 64)), luma8(ld(p + 96))), k16);
        __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(a, b), order);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(y + x), bytes);
    }
    colorconv::luma_tail(row, x, width, y);
}

void chroma_rows(const uint8_t* r0, const uint8_t* r1, int blocks, uint8_t* u, uint8_t* v) {
    const __m256i ku = _mm256_setr_epi16(112, -74, -38, 0, 112, -74, -38, 0, 112, -74, -38, 0, 112, -74, -38, 0);
    const __m256i kv = _mm256_setr_epi16(-18, -94, 112, 0, -18, -94, 112, 0, -18, -94, 112, 0, -18, -94, 112, 0);
    int i = 0;
    for (; i + 16 <= blocks; i += 16) {
        const uint8_t* a = r0 + i * 8;
        const uint8_t* b = r1 + i * 8;
        __m256i m0 = block_means(ld(a), ld(b));
        __m256i m1 = block_means(ld(a + 32), ld(b + 32));
        __m256i m2 = block_means(ld(a + 64), ld(b + 64));
        __m256i m3 = block_means(ld(a + 96), ld(b + 96));
        __m256i u07 = div256(pair_sum(_mm256_madd_epi16(m0, ku), _mm256_madd_epi16(m1, ku)));
        __m256i u8f = div256(pair_sum(_mm256_madd_epi16(m2, ku), _mm256_madd_epi16(m3, ku)));
        __m256i v07 = div256(pair_sum(_mm256_madd_epi16(m0, kv), _mm256_madd_epi16(m1, kv)));
        __m256i v8f = div256(pair_sum(_mm256_madd_epi16(m2, kv), _mm256_madd_epi16(m3, kv)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(u + i), to_bytes(u07, u8f));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(v + i), to_bytes(v07, v8f));
    }
    colorconv::chroma_tail(r0, r1, i, blocks, u, v);
}

}  // namespace

void bgrx_to_i420_avx2(const uint8_t* src, int src_stride, int width, int height,
                       uint8_t* y, uint8_t* u, uint8_t* v) {
    const int cw = width / 2;
    for (int j = 0; j + 1 < height; j += 2) {
        const uint8_t* r0 = src + static_cast<ptrdiff_t>(j) * src_stride;
        const uint8_t* r1 = r0 + src_stride;
        luma_row(r0, width, y + static_cast<ptrdiff_t>(j) * width);
        luma_row(r1, width, y + static_cast<ptrdiff_t>(j + 1) * width);
        chroma_rows(r0, r1, cw, u + static_cast<ptrdiff_t>(j / 2) * cw, v + static_cast<ptrdiff_t>(j / 2) * cw);
    }
}
