// Linux loopback recorder: the monitor of the default sink through the
// PulseAudio client library (PipeWire serves the same protocol). The main loop
// is driven from the capture thread without blocking, so a silent or stalled
// server can never hold up stop(). Error numbers in the messages are
// PulseAudio's (pa_context_errno).
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "engine/clock.h"
#include "video/system_audio.h"

namespace {

// The whole set-up must finish in this time: start() holds up the caller (the
// stream distribution thread) while it runs, so a server that accepts but
// never answers must not stall the video for long.
constexpr uint64_t k_setup_timeout_ms = 2000;

void report(const char* format, int error) {
    report_audio_failure(format, static_cast<unsigned long>(error));
}

void note_started() { report_audio_started(); }

class PulseMonitorSource final : public AudioSource {
  public:
    ~PulseMonitorSource() override { release(); }
    bool open(AudioMixFormat& format) override;
    bool read_available(const std::function<void(const void* data, size_t frames)>& sink) override;

  private:
    void pump() {
        while (pa_mainloop_iterate(loop_, 0, nullptr) > 0) {
        }
    }
    // Runs the main loop until `done` holds or the set-up time is over.
    template <typename Done>
    bool pump_until(Done done) {
        while (!done()) {
            if (tick_ms() >= setup_deadline_) return false;
            pa_mainloop_prepare(loop_, 10000);
            pa_mainloop_poll(loop_);
            pa_mainloop_dispatch(loop_);
        }
        return true;
    }
    int error() const { return context_ ? pa_context_errno(context_) : PA_ERR_INTERNAL; }
    void release();

    uint64_t setup_deadline_ = 0;
    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    size_t frame_bytes_ = 0;
    std::vector<uint8_t> partial_;  // bytes of a frame split across two chunks
};

struct SinkQuery {
    bool done = false;
    bool found = false;
    pa_sample_spec spec{};
};

void on_sink_info(pa_context*, const pa_sink_info* info, int eol, void* user) {
    auto* q = static_cast<SinkQuery*>(user);
    if (eol != 0) {
        q->done = true;
        return;
    }
    if (info && !q->found) {
        q->found = true;
        q->spec = info->sample_spec;
    }
}

bool context_settled(pa_context* c) {
    const pa_context_state_t s = pa_context_get_state(c);
    return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
}

bool stream_settled(pa_stream* s) {
    const pa_stream_state_t st = pa_stream_get_state(s);
    return st == PA_STREAM_READY || !PA_STREAM_IS_GOOD(st);
}

bool PulseMonitorSource::open(AudioMixFormat& format) {
    setup_deadline_ = tick_ms() + k_setup_timeout_ms;
    loop_ = pa_mainloop_new();
    if (!loop_) {
        report("Audio: PulseAudio client set-up failed (error %lu)\n", PA_ERR_INTERNAL);
        return false;
    }
    context_ = pa_context_new(pa_mainloop_get_api(loop_), "Vistrel screen sound");
    if (!context_) {
        report("Audio: PulseAudio client set-up failed (error %lu)\n", PA_ERR_INTERNAL);
        release();
        return false;
    }
    // Never start a sound server of our own: no server means no sound.
    const bool connecting =
        pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0;
    const bool settled = connecting && pump_until([this] { return context_settled(context_); });
    if (!connecting || !settled || pa_context_get_state(context_) != PA_CONTEXT_READY) {
        report("Audio: no sound server (PulseAudio error %lu)\n",
               settled || !connecting ? error() : PA_ERR_TIMEOUT);
        release();
        return false;
    }

    SinkQuery query;
    pa_operation* op =
        pa_context_get_sink_info_by_name(context_, "@DEFAULT_SINK@", on_sink_info, &query);
    const bool answered = op && pump_until([&query] { return query.done; });
    if (op) pa_operation_unref(op);
    if (!answered || !query.found) {
        report("Audio: no default sound output (PulseAudio error %lu)\n",
               answered ? PA_ERR_NOENTITY : error());
        release();
        return false;
    }

    // The server converts the sample format for us; keep the sink's rate and
    // channels so that the mixing and decimation stay ours.
    pa_sample_spec spec = query.spec;
    spec.format = query.spec.format == PA_SAMPLE_S16NE ? PA_SAMPLE_S16NE : PA_SAMPLE_FLOAT32NE;
    const bool is_float = spec.format == PA_SAMPLE_FLOAT32NE;
    if (!audio_format_supported(is_float ? 3 : 1, is_float ? 32 : 16, spec.rate, spec.channels,
                                format.kind)) {
        release();
        return false;
    }
    format.rate = spec.rate;
    format.channels = spec.channels;
    frame_bytes_ = pa_frame_size(&spec);

    stream_ = pa_stream_new(context_, "Screen camera sound", &spec, nullptr);
    if (!stream_) {
        report("Audio: monitor stream not created (PulseAudio error %lu)\n", error());
        release();
        return false;
    }
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(pa_usec_to_bytes(200000, &spec));  // 200 ms
    attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(10000, &spec));    // 10 ms
    attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
    if (pa_stream_connect_record(stream_, "@DEFAULT_MONITOR@", &attr, PA_STREAM_ADJUST_LATENCY) <
        0) {
        report("Audio: monitor stream not connected (PulseAudio error %lu)\n", error());
        release();
        return false;
    }
    const bool ready = pump_until([this] { return stream_settled(stream_); });
    if (!ready || pa_stream_get_state(stream_) != PA_STREAM_READY) {
        report("Audio: monitor stream start failed (PulseAudio error %lu)\n",
               ready ? error() : PA_ERR_TIMEOUT);
        release();
        return false;
    }
    note_started();
    return true;
}

bool PulseMonitorSource::read_available(
    const std::function<void(const void* data, size_t frames)>& sink) {
    pump();
    bool ok = pa_context_get_state(context_) == PA_CONTEXT_READY &&
              pa_stream_get_state(stream_) == PA_STREAM_READY;
    while (ok) {
        const size_t readable = pa_stream_readable_size(stream_);
        if (readable == static_cast<size_t>(-1)) {
            ok = false;
            break;
        }
        if (readable == 0) break;
        const void* data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(stream_, &data, &bytes) < 0) {
            ok = false;
            break;
        }
        if (bytes == 0) break;
        if (!data) {
            sink(nullptr, bytes / frame_bytes_);  // a hole in the recording
        } else {
            const auto* p = static_cast<const uint8_t*>(data);
            size_t left = bytes;
            if (!partial_.empty()) {
                const size_t take = std::min(frame_bytes_ - partial_.size(), left);
                partial_.insert(partial_.end(), p, p + take);
                p += take;
                left -= take;
                if (partial_.size() == frame_bytes_) {
                    sink(partial_.data(), 1);
                    partial_.clear();
                }
            }
            if (partial_.empty()) {
                const size_t frames = left / frame_bytes_;
                if (frames > 0) sink(p, frames);
                partial_.assign(p + frames * frame_bytes_, p + left);
            }
        }
        pa_stream_drop(stream_);
    }
    if (ok) return true;
    report("Audio: sound server lost (PulseAudio error %lu), continuing with silence\n", error());
    release();
    return false;
}

void PulseMonitorSource::release() {
    if (stream_) {
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }
    if (context_) {
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    if (loop_) {
        pa_mainloop_free(loop_);
        loop_ = nullptr;
    }
}

}  // namespace

std::unique_ptr<AudioSource> make_platform_audio_source() {
    return std::make_unique<PulseMonitorSource>();
}
