// Hands the start-up values to each subsystem and starts its thread, in the
// engine's start order. A subsystem that is not part of this build logs its
// absence once and is not started. Threads are detached and never joined; a
// thread that cannot be created ends the process.
#include "server_threads.h"

#include <thread>

#include "engine/log.h"
#include "engine/ports.h"
#include "rtsp/rtsp_engine.h"

namespace {

// ONVIF identity and server set-up (before the threads).
void set_up_onvif_identity(StartupValues& v) {
    (void)v;
}

// Overlays, motion, audio and pointer settings handed to the video pipeline.
void hand_over_video_settings(StartupValues& v) {
    const EngineConfig& c = v.config;
    if (c.show_cursor) engine_log("Stream: mouse cursor shown\n");
    if (c.motion)
        engine_log("Motion: on (sensitivity %d, min %d ms, hold %d ms, ignore taskbar %d, corners %d%%, top %d%%, bottom %d%%)\n",
                   c.motion_sens, c.motion_min, c.motion_hold, c.motion_taskbar ? 1 : 0,
                   c.motion_corners, c.motion_top, c.motion_bottom);
    if (c.osd_name || c.osd_clock)
        engine_log("OSD: stream extras on (name=%d clock=%d)\n", c.osd_name ? 1 : 0,
                   c.osd_clock ? 1 : 0);
}

void start_rtsp(StartupValues& v) {
    if (v.rtsp_socket == k_invalid_socket) {
        engine_log("RTSP NOT started: every candidate port was busy (requested %d)\n",
                   port_slot(k_slot_rtsp).requested.load());
        return;
    }
    RtspEngineParams p;
    p.listen_socket = v.rtsp_socket;
    p.port = v.rtsp_port;
    p.fps = v.config.fps;
    p.bitrate = v.config.bitrate;
    p.main_stream_name = v.config.stream;
    p.sub_stream_name = v.sub_stream;
    p.sub_width = v.sub_width;
    p.sub_height = v.sub_height;
    p.sub_bitrate = v.config.sub_bitrate;
    p.main_scaled_width = v.main_width;
    p.main_scaled_height = v.main_height;
    p.user_name = v.config.admin_user;
    p.password = v.admin_pass;
    p.stream_auth = v.config.stream_auth ? 1 : 0;
    p.audio_enabled = v.config.audio ? 1 : 0;
    streaming_paused.store(v.config.stream_on ? 0 : 1);
    std::thread([p] {
        RtspEngine& e = rtsp_engine();
        if (!engine_init(e, p)) {
            engine_log("RTSP init failed\n");
            return;
        }
        rtsp_server(e);
    }).detach();
}

void start_onvif(StartupValues& v) {
    if (v.onvif_socket == k_invalid_socket) {
        engine_log("ONVIF NOT started: every candidate port was busy (requested %d)\n",
                   port_slot(k_slot_onvif).requested.load());
        return;
    }
    engine_log("ONVIF: not in this build\n");
}

void start_discovery(StartupValues& v) {
    if (!v.config.discovery) {
        port_slot(k_slot_wsd).state.store(k_slot_state_off);
        engine_log("WS-Discovery disabled by config (add the camera manually by IP)\n");
        return;
    }
    engine_log("ONVIF: WS-Discovery not in this build\n");
}

void start_web_panel(StartupValues& v) {
    if (!v.config.web_admin) return;
    if (v.web_socket == k_invalid_socket) {
        engine_log("Web panel NOT started: every candidate port was busy (requested %d)\n",
                   port_slot(k_slot_web).requested.load());
        return;
    }
    engine_log("Web: not in this build\n");
}

void start_settings_watcher(StartupValues& v) {
    if (v.panel_only) return;
    engine_log("CFG: live-settings watcher not in this build\n");
}

}  // namespace

void start_subsystems(StartupValues& v) {
    if (v.panel_only) return;  // a panel-only process runs no server
    set_up_onvif_identity(v);
    hand_over_video_settings(v);
    start_rtsp(v);
    start_onvif(v);
    start_discovery(v);
    start_web_panel(v);
    start_settings_watcher(v);
}
