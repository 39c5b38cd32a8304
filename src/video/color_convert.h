// BGRX -> I420 colour conversion (BT.601 limited range, integer arithmetic),
// the encoder's input step. Three variants, all bit-exact to the same formula:
//   Y = ((25 B + 129 G + 66 R + 128) >> 8) + 16
//   per 2x2 block with channel means B', G', R' (sum of four >> 2):
//   U = clamp((112 B' - 74 G' - 38 R' + 128) / 256) + 128
//   V = clamp((112 R' - 94 G' - 18 B' + 128) / 256) + 128
// (signed division truncating toward zero, clamped to -128..127).
#pragma once

#include <cstdint>

// Converts the top-left width x height area (both even) of a BGRX picture with
// row stride src_stride bytes into planes with strides width, width/2, width/2.
using ConvertFn = void (*)(const uint8_t* src, int src_stride, int width, int height, uint8_t* y,
                           uint8_t* u, uint8_t* v);

void bgrx_to_i420_c(const uint8_t* src, int src_stride, int width, int height, uint8_t* y,
                    uint8_t* u, uint8_t* v);
void bgrx_to_i420_sse2(const uint8_t* src, int src_stride, int width, int height, uint8_t* y,
                       uint8_t* u, uint8_t* v);
void bgrx_to_i420_avx2(const uint8_t* src, int src_stride, int width, int height, uint8_t* y,
                       uint8_t* u, uint8_t* v);

// The fastest variant this CPU runs (chosen once, at first use).
void bgrx_to_i420(const uint8_t* src, int src_stride, int width, int height, uint8_t* y, uint8_t* u,
                  uint8_t* v);
const char* bgrx_to_i420_variant();  // "avx2", "sse2" or "c"
bool cpu_has_avx2();
