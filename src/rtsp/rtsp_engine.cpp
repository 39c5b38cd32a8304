#include "rtsp/rtsp_engine.h"

#include "engine/clock.h"
#include "engine/crypto.h"
#include "engine/log.h"
#include "video/h264_encoder.h"
#include "video/overlay.h"
#include "video/screen_capture.h"
#include "video/system_audio.h"

std::atomic<uint8_t> streaming_paused{0};

RtspEngine::RtspEngine() {
    random_source = [](uint8_t* out, size_t len) {
        if (random_bytes(out, len)) return;
        uint64_t t = tick_ms() * 0x9E3779B97F4A7C15ULL;
        for (size_t i = 0; i < len; ++i) out[i] = uint8_t(t >> ((i % 8) * 8));
    };
}
RtspEngine::~RtspEngine() = default;

RtspEngine& rtsp_engine() {
    static RtspEngine* engine = new RtspEngine();  // lives as long as the process
    return *engine;
}

void engine_set_overlay(RtspEngine& e, const OverlaySettings& settings) {
    std::lock_guard<std::mutex> lock(e.overlay_mutex);
    e.live_overlay = settings;
    e.has_live_overlay = true;
    if (e.overlay_target) e.overlay_target->set_overlay(settings);
}

namespace {

// Encodes one picture as an IDR frame and stores the stream's parameter sets.
bool store_parameter_sets(H264Encoder& enc, const uint8_t* bgrx, int src_width, StreamQueue& q) {
    std::vector<uint8_t> au;
    if (!enc.encode(bgrx, src_width, true, au)) return false;
    ParameterSets ps;
    bool ok = extract_parameter_sets(au, ps.sps, ps.pps, ps.profile_level_id);
    std::lock_guard<std::mutex> lock(q.mutex);
    if (!ps.sps.empty()) {
        q.params.sps = ps.sps;
        q.params.profile_level_id = ps.profile_level_id;
    }
    if (!ps.pps.empty()) q.params.pps = ps.pps;
    return ok;
}

// The first frame; a fresh X connection may need a moment before it delivers.
const uint8_t* first_capture(ScreenCapturer& c) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (const uint8_t* f = c.capture()) return f;
        sleep_ms(50);
    }
    return nullptr;
}

}  // namespace

bool engine_init(RtspEngine& e, const RtspEngineParams& p) {
    e.listen_socket = p.listen_socket;
    e.port = p.port;
    e.fps = p.fps;
    e.bitrate = p.bitrate;
    e.main_stream_name = p.main_stream_name;
    e.sub_stream_name = p.sub_stream_name;
    e.sub_width = p.sub_width & ~1;
    e.sub_height = p.sub_height & ~1;
    e.sub_bitrate = p.sub_bitrate;
    e.user_name = p.user_name;
    e.password = p.password;
    e.stream_auth = p.stream_auth;
    e.audio_enabled = p.audio_enabled;
    e.substream_enabled = !e.sub_stream_name.empty() && e.sub_width >= 1 && e.sub_height > 0;
    const int fps = effective_fps(e);

    e.capturer = std::make_unique<ScreenCapturer>();
    if (!e.capturer->init()) {
        engine_log("RTSP: the screen cannot be captured (no X display or no usable screen)\n");
        return false;
    }
    e.capturer->set_overlay(p.overlay);
    {
        // A live change that came before the capturer existed is newer than p.overlay.
        std::lock_guard<std::mutex> lock(e.overlay_mutex);
        if (e.has_live_overlay) e.capturer->set_overlay(e.live_overlay);
        e.overlay_target = e.capturer.get();
    }
    const int cw = e.capturer->width(), ch = e.capturer->height();

    int scaled_w = p.main_scaled_width & ~1;
    if (p.main_scaled_width > 0 && p.main_scaled_height > 0 && scaled_w < cw) {
        e.main_scaled = true;
        e.main_width = scaled_w;
        e.main_height = p.main_scaled_height & ~1;
        e.main_scale_buffer.assign(size_t(e.main_width) * e.main_height * 4, 0);
    } else {
        e.main_scaled = false;
        e.main_width = cw;
        e.main_height = ch;
    }

    e.main_encoder = std::make_unique<H264Encoder>();
    if (!e.main_encoder->open(e.main_width, e.main_height, fps, e.bitrate)) {
        engine_log("RTSP: the H.264 encoder could not be opened for %dx%d\n", e.main_width,
                   e.main_height);
        return false;
    }

    const uint8_t* frame = first_capture(*e.capturer);
    if (!frame) {
        engine_log("RTSP: no picture could be grabbed from the screen\n");
        return false;
    }
    bool main_ok;
    if (e.main_scaled) {
        scale_nearest(frame, cw, ch, e.main_scale_buffer.data(), e.main_width, e.main_height);
        main_ok = store_parameter_sets(*e.main_encoder, e.main_scale_buffer.data(), e.main_width,
                                       e.main_queue);
    } else {
        main_ok = store_parameter_sets(*e.main_encoder, frame, cw, e.main_queue);
    }

    if (e.substream_enabled) {
        e.sub_encoder = std::make_unique<H264Encoder>();
        if (e.sub_encoder->open(e.sub_width, e.sub_height, fps, e.sub_bitrate)) {
            e.sub_scale_buffer.assign(size_t(e.sub_width) * e.sub_height * 4, 0);
            scale_nearest(frame, cw, ch, e.sub_scale_buffer.data(), e.sub_width, e.sub_height);
            store_parameter_sets(*e.sub_encoder, e.sub_scale_buffer.data(), e.sub_width,
                                 e.sub_queue);
        } else {
            e.substream_enabled = false;
        }
    }
    if (!main_ok) engine_log("RTSP: the first encoded picture carried no SPS and PPS\n");
    return main_ok;
}
