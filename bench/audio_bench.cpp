// Cost of the system-audio conversion on the capture thread: one second of
// captured sound (downmix, box-filter decimation to 8 kHz, mu-law, 160-byte
// packets). The figure to read is the time per second of audio, i.e. the share
// of one core the conversion takes while a capture runs.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "video/g711.h"

namespace {

template <typename Sample>
void convert_one_second(benchmark::State& state, uint32_t rate, uint16_t channels,
                        SampleKind kind) {
    std::vector<Sample> in(size_t(rate) * channels);
    for (size_t i = 0; i < in.size(); ++i) {
        const double v = 0.5 * std::sin(i * 0.13);
        in[i] = kind == SampleKind::float32 ? Sample(v) : Sample(v * 32767);
    }
    size_t packets = 0;
    UlawPacketizer out([&packets](const uint8_t*, size_t, uint32_t) { ++packets; });
    MonoDecimator decimator(rate, channels, kind, out);
    for (auto _ : state) {
        // Fed in 10 ms pieces, as the capture loop polls.
        for (uint32_t at = 0; at < rate; at += rate / 100)
            decimator.push_frames(in.data() + size_t(at) * channels, rate / 100);
        benchmark::DoNotOptimize(packets);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * rate);
    state.counters["packets"] = benchmark::Counter(double(packets) / state.iterations());
}

void BM_Audio48kStereoFloat(benchmark::State& s) {
    convert_one_second<float>(s, 48000, 2, SampleKind::float32);
}
void BM_Audio44kStereoPcm16(benchmark::State& s) {
    convert_one_second<int16_t>(s, 44100, 2, SampleKind::pcm16);
}
void BM_UlawEncode(benchmark::State& state) {
    int32_t v = -32768;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ulaw_encode(v));
        v = v == 32767 ? -32768 : v + 1;
    }
}

BENCHMARK(BM_Audio48kStereoFloat)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Audio44kStereoPcm16)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UlawEncode);

}  // namespace

BENCHMARK_MAIN();
