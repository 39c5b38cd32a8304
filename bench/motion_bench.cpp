// One motion-detection step on a 1920x1080 BGRA frame: the cell scan (about
// nine samples per cell, 128 x 72 cells), the mask and the state step.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "video/motion_detector.h"

namespace {

std::vector<uint8_t> noise_frame(int w, int h, unsigned seed) {
    std::vector<uint8_t> px(size_t(w) * h * 4);
    std::mt19937 rng(seed);
    for (auto& b : px) b = uint8_t(rng());
    return px;
}

void BM_MotionStep(benchmark::State& state) {
    const int w = int(state.range(0)), h = int(state.range(1));
    motion_set_taskbar_source_for_tests([](MotionRect*) { return false; });
    MotionConfig c;
    c.enabled = true;
    c.corners_pct = 5;
    motion_configure(c);
    // Two different pictures in turn, so every frame has changed cells.
    const std::vector<uint8_t> a = noise_frame(w, h, 1), b = noise_frame(w, h, 2);
    MotionRect plates[2] = {{10, 10, 400, 60}, {w - 300, h - 50, w - 10, h - 10}};
    bool flip = false;
    for (auto _ : state) {
        motion_set_exclusions(plates, 2);
        motion_process_frame((flip ? a : b).data(), w, h);
        flip = !flip;
    }
    benchmark::DoNotOptimize(motion_status());
    motion_reset_for_tests();
}
BENCHMARK(BM_MotionStep)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
