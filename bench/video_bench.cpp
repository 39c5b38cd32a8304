// Google Benchmark figures for the video hot path at 1920x1080:
// - BGRX -> I420 conversion: our three variants beside libyuv's ARGBToI420
//   (libyuv's "ARGB" is B, G, R, A in memory, the same layout as ours);
// - one screen capture (needs $DISPLAY, e.g. an Xvfb screen);
// - capture + overlays + conversion + encoding of one 1080p main picture.
#include <benchmark/benchmark.h>
#include <libyuv/convert.h>

#include <random>
#include <vector>

#include "video/color_convert.h"
#include "video/h264_encoder.h"
#include "video/screen_capture.h"

namespace {

constexpr int W = 1920, H = 1080;

struct Planes {
    std::vector<uint8_t> src = std::vector<uint8_t>(static_cast<size_t>(W) * H * 4);
    std::vector<uint8_t> y = std::vector<uint8_t>(static_cast<size_t>(W) * H);
    std::vector<uint8_t> u = std::vector<uint8_t>(static_cast<size_t>(W) * H / 4);
    std::vector<uint8_t> v = std::vector<uint8_t>(static_cast<size_t>(W) * H / 4);
    Planes() {
        std::mt19937 rng(7);
        for (auto& b : src) b = static_cast<uint8_t>(rng());
    }
};

void run_convert(benchmark::State& state, ConvertFn fn) {
    Planes p;
    for (auto _ : state) {
        fn(p.src.data(), W * 4, W, H, p.y.data(), p.u.data(), p.v.data());
        benchmark::DoNotOptimize(p.y.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_Convert_C(benchmark::State& s) {
    run_convert(s, bgrx_to_i420_c);
}
void BM_Convert_SSE2(benchmark::State& s) {
    run_convert(s, bgrx_to_i420_sse2);
}
void BM_Convert_AVX2(benchmark::State& s) {
    if (!cpu_has_avx2()) {
        s.SkipWithError("no AVX2 on this CPU");
        return;
    }
    run_convert(s, bgrx_to_i420_avx2);
}
void BM_Convert_Libyuv(benchmark::State& state) {
    Planes p;
    for (auto _ : state) {
        libyuv::ARGBToI420(p.src.data(), W * 4, p.y.data(), W, p.u.data(), W / 2, p.v.data(), W / 2,
                           W, H);
        benchmark::DoNotOptimize(p.y.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_Capture(benchmark::State& state) {
    ScreenCapturer cap;
    if (!cap.init()) {
        state.SkipWithError("no X screen ($DISPLAY)");
        return;
    }
    OverlaySettings off;
    off.name_on = off.clock_on = false;
    cap.set_overlay(off);
    for (auto _ : state) benchmark::DoNotOptimize(cap.capture());
    state.counters["width"] = cap.width();
    state.counters["height"] = cap.height();
}

void BM_CaptureOverlaysEncode(benchmark::State& state) {
    ScreenCapturer cap;
    H264Encoder enc;
    if (!cap.init() || !enc.open(cap.width(), cap.height(), 10, 2000)) {
        state.SkipWithError("no X screen or no encoder");
        return;
    }
    cap.set_overlay(OverlaySettings{});
    std::vector<uint8_t> au;
    au.reserve(1 << 20);
    size_t bytes = 0;
    for (auto _ : state) {
        au.clear();
        const uint8_t* px = cap.capture();
        enc.encode(px, cap.width(), false, au);
        bytes += au.size();
    }
    state.counters["bytes_per_frame"] =
        benchmark::Counter(static_cast<double>(bytes) / state.iterations());
}

}  // namespace

BENCHMARK(BM_Convert_C)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Convert_SSE2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Convert_AVX2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Convert_Libyuv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Capture)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CaptureOverlaysEncode)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->Iterations(100);

BENCHMARK_MAIN();
