// SSE2 conversion: 16 luma pixels and 8 chroma blocks per step, exact to the
// scalar formula (16/32-bit integer arithmetic only, no rounding shortcuts).
#include <emmintrin.h>

#include "video/color_convert.h"
#include "video/color_convert_ref.h"

namespace {

// Four pixels -> four luma values (before the +16) as 32-bit lanes.
inline __m128i luma4(__m128i px) {
    const __m128i mask = _mm_set1_epi32(0x00FF00FF);
    const __m128i k_br = _mm_set1_epi32((66 << 16) | 25);  // lo16 B * 25, hi16 R * 66
    const __m128i k_g = _mm_set1_epi32(129);               // lo16 G * 129, hi16 X * 0
    __m128i br = _mm_and_si128(px, mask);
    __m128i gx = _mm_and_si128(_mm_srli_epi32(px, 8), mask);
    __m128i s = _mm_add_epi32(_mm_madd_epi16(br, k_br), _mm_madd_epi16(gx, k_g));
    return _mm_srli_epi32(_mm_add_epi32(s, _mm_set1_epi32(128)), 8);
}

// Two 4-pixel rows (two blocks) -> per-block channel means, 16-bit [B G R X] x2.
inline __m128i block_means(__m128i a, __m128i b) {
    const __m128i z = _mm_setzero_si128();
    __m128i lo = _mm_add_epi16(_mm_unpacklo_epi8(a, z), _mm_unpacklo_epi8(b, z));
    __m128i hi = _mm_add_epi16(_mm_unpackhi_epi8(a, z), _mm_unpackhi_epi8(b, z));
    __m128i s = _mm_add_epi16(_mm_unpacklo_epi64(lo, hi), _mm_unpackhi_epi64(lo, hi));
    return _mm_srli_epi16(s, 2);
}

// Adds the 32-bit pairs of two madd results: 4 blocks' sums.
inline __m128i pair_sum(__m128i a, __m128i b) {
    __m128 fa = _mm_castsi128_ps(a), fb = _mm_castsi128_ps(b);
    __m128i even = _mm_castps_si128(_mm_shuffle_ps(fa, fb, _MM_SHUFFLE(2, 0, 2, 0)));
    __m128i odd = _mm_castps_si128(_mm_shuffle_ps(fa, fb, _MM_SHUFFLE(3, 1, 3, 1)));
    return _mm_add_epi32(even, odd);
}

// (n + 128) / 256 truncated toward zero.
inline __m128i div256(__m128i n) {
    n = _mm_add_epi32(n, _mm_set1_epi32(128));
    __m128i bias = _mm_and_si128(_mm_srai_epi32(n, 31), _mm_set1_epi32(255));
    return _mm_srai_epi32(_mm_add_epi32(n, bias), 8);
}

inline __m128i ld(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

void luma_row(const uint8_t* row, int width, uint8_t* y) {
    const __m128i k16 = _mm_set1_epi16(16);
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const uint8_t* p = row + x * 4;
        __m128i a = _mm_packs_epi32(luma4(ld(p)), luma4(ld(p + 16)));
        __m128i b = _mm_packs_epi32(luma4(ld(p + 32)), luma4(ld(p + 48)));
        a = _mm_add_epi16(a, k16);
        b = _mm_add_epi16(b, k16);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(y + x), _mm_packus_epi16(a, b));
    }
    colorconv::luma_tail(row, x, width, y);
}

void chroma_rows(const uint8_t* r0, const uint8_t* r1, int blocks, uint8_t* u, uint8_t* v) {
    const __m128i ku = _mm_set_epi16(0, -38, -74, 112, 0, -38, -74, 112);
    const __m128i kv = _mm_set_epi16(0, 112, -94, -18, 0, 112, -94, -18);
    const __m128i k128 = _mm_set1_epi16(128);
    int i = 0;
    for (; i + 8 <= blocks; i += 8) {
        const uint8_t* a = r0 + i * 8;
        const uint8_t* b = r1 + i * 8;
        __m128i m0 = block_means(ld(a), ld(b));
        __m128i m1 = block_means(ld(a + 16), ld(b + 16));
        __m128i m2 = block_means(ld(a + 32), ld(b + 32));
        __m128i m3 = block_means(ld(a + 48), ld(b + 48));
        __m128i u03 = div256(pair_sum(_mm_madd_epi16(m0, ku), _mm_madd_epi16(m1, ku)));
        __m128i u47 = div256(pair_sum(_mm_madd_epi16(m2, ku), _mm_madd_epi16(m3, ku)));
        __m128i v03 = div256(pair_sum(_mm_madd_epi16(m0, kv), _mm_madd_epi16(m1, kv)));
        __m128i v47 = div256(pair_sum(_mm_madd_epi16(m2, kv), _mm_madd_epi16(m3, kv)));
        // Saturating packs give exactly the clamp of the formula (q + 128 into 0..255).
        __m128i uu = _mm_add_epi16(_mm_packs_epi32(u03, u47), k128);
        __m128i vv = _mm_add_epi16(_mm_packs_epi32(v03, v47), k128);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(u + i), _mm_packus_epi16(uu, uu));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(v + i), _mm_packus_epi16(vv, vv));
    }
    colorconv::chroma_tail(r0, r1, i, blocks, u, v);
}

}  // namespace

void bgrx_to_i420_sse2(const uint8_t* src, int src_stride, int width, int height, uint8_t* y,
                       uint8_t* u, uint8_t* v) {
    const int cw = width / 2;
    for (int j = 0; j + 1 < height; j += 2) {
        const uint8_t* r0 = src + static_cast<ptrdiff_t>(j) * src_stride;
        const uint8_t* r1 = r0 + src_stride;
        luma_row(r0, width, y + static_cast<ptrdiff_t>(j) * width);
        luma_row(r1, width, y + static_cast<ptrdiff_t>(j + 1) * width);
        chroma_rows(r0, r1, cw, u + static_cast<ptrdiff_t>(j / 2) * cw,
                    v + static_cast<ptrdiff_t>(j / 2) * cw);
    }
}
