// Plain conversion and the run-time choice of the fastest variant.
#include "video/color_convert.h"

#include "video/color_convert_ref.h"

void bgrx_to_i420_c(const uint8_t* src, int src_stride, int width, int height, uint8_t* y,
                    uint8_t* u, uint8_t* v) {
    const int cw = width / 2;
    for (int j = 0; j + 1 < height; j += 2) {
        const uint8_t* r0 = src + static_cast<ptrdiff_t>(j) * src_stride;
        const uint8_t* r1 = r0 + src_stride;
        colorconv::luma_tail(r0, 0, width, y + static_cast<ptrdiff_t>(j) * width);
        colorconv::luma_tail(r1, 0, width, y + static_cast<ptrdiff_t>(j + 1) * width);
        colorconv::chroma_tail(r0, r1, 0, cw, u + static_cast<ptrdiff_t>(j / 2) * cw,
                               v + static_cast<ptrdiff_t>(j / 2) * cw);
    }
}

bool cpu_has_avx2() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

static ConvertFn pick() {
#if defined(__x86_64__) || defined(__i386__)
    if (cpu_has_avx2()) return bgrx_to_i420_avx2;
    return bgrx_to_i420_sse2;
#else
    return bgrx_to_i420_c;
#endif
}

static ConvertFn chosen() {
    static const ConvertFn fn = pick();
    return fn;
}

void bgrx_to_i420(const uint8_t* src, int src_stride, int width, int height, uint8_t* y, uint8_t* u,
                  uint8_t* v) {
    chosen()(src, src_stride, width, height, y, u, v);
}

const char* bgrx_to_i420_variant() {
    ConvertFn fn = chosen();
    if (fn == bgrx_to_i420_c) return "c";
#if defined(__x86_64__) || defined(__i386__)
    if (fn == bgrx_to_i420_avx2) return "avx2";
    if (fn == bgrx_to_i420_sse2) return "sse2";
#endif
    return "c";
}
