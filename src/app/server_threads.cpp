// Hands the start-up values to each subsystem and starts its thread, in the
// engine's start order. A subsystem that is not part of this build logs its
// absence once and is not started. Threads are detached and never joined; a
// thread that cannot be created ends the process.
#include "app/server_threads.h"

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "app/desktop_wiring.h"
#include "app/settings_wiring.h"

#include "engine/log.h"
#include "engine/ports.h"
#include "onvif/onvif_context.h"
#include "onvif/onvif_server.h"
#include "onvif/onvif_snapshot.h"
#include "onvif/ws_discovery.h"
#include "rtsp/rtsp_engine.h"
#include "video/motion_detector.h"
#include "video/overlay.h"
#include "video/screen_capture.h"
#include "web/recovery.h"
#include "web/web_server.h"

namespace {

// ONVIF identity and server set-up (before the threads).
void set_up_onvif_identity(StartupValues& v) {
    OnvifContext& ctx = onvif_context();
    const bool scaled = v.main_width > 0 && v.main_height > 0;
    onvif_identity_init(ctx, v.address, static_cast<uint32_t>(v.onvif_port),
                        static_cast<uint32_t>(v.rtsp_port), v.config.stream,
                        static_cast<uint32_t>(scaled ? v.main_width : v.screen_width),
                        static_cast<uint32_t>(scaled ? v.main_height : v.screen_height),
                        static_cast<uint32_t>(v.config.fps), v.sub_stream, v.sub_width,
                        v.sub_height, v.config.admin_user, v.admin_pass,
                        v.config.stream_auth ? 1 : 0, v.config.device_name);
    ctx.listen_socket = v.onvif_socket;
    ctx.web_port = static_cast<uint32_t>(v.web_port);
    ctx.audio_on = v.config.audio;
    onvif_set_osd_layout(ctx, static_cast<uint32_t>(v.config.osd_name_pos), v.config.osd_clock,
                         static_cast<uint32_t>(v.config.osd_clock_pos));
    ctx.snapshot = onvif_snapshot;
    ctx.report_onvif_port = [](int requested, int actual, int state) {
        port_slot(k_slot_onvif).requested.store(requested);
        port_slot(k_slot_onvif).actual.store(actual);
        port_slot(k_slot_onvif).state.store(state);
    };
    ctx.report_discovery_port = [data_dir = v.data_dir](int requested, int actual, int state) {
        port_slot(k_slot_wsd).requested.store(requested);
        port_slot(k_slot_wsd).actual.store(actual);
        port_slot(k_slot_wsd).state.store(state);
        write_ports_status(data_dir);
    };
    engine_log("  ONVIF id  : %s\n", ctx.endpoint_uuid.c_str());
}

// Name and clock plates from the validated settings; only the name text comes
// from the lenient reader (osd_name_text when set, else device_name).
OverlaySettings startup_overlay(const StartupValues& v) {
    const EngineConfig& c = v.config;
    OverlaySettings o;
    o.name_on = c.osd_name;
    o.name_pos = c.osd_name_pos;
    o.name_opacity = c.osd_name_op;
    o.name_color = c.osd_name_color;
    o.name_size = c.osd_name_size;
    o.name_text = read_overlay_settings(v.settings).name_text;
    o.clock_on = c.osd_clock;
    o.clock_pos = c.osd_clock_pos;
    o.clock_opacity = c.osd_clock_op;
    o.clock_color = c.osd_clock_color;
    o.clock_size = c.osd_clock_size;
    return o;
}

// Overlays, motion, audio and pointer settings handed to the video pipeline.
void hand_over_video_settings(StartupValues& v) {
    const EngineConfig& c = v.config;
    cursor_on.store(c.show_cursor);
    damage_capture_on.store(c.damage_capture);
    if (c.show_cursor) engine_log("Stream: mouse cursor shown\n");
    MotionConfig motion;
    motion.enabled = c.motion;
    motion.sensitivity = c.motion_sens;
    motion.min_duration_ms = c.motion_min;
    motion.hold_ms = c.motion_hold;
    motion.top_pct = c.motion_top;
    motion.bottom_pct = c.motion_bottom;
    motion.ignore_taskbar = c.motion_taskbar;
    motion.corners_pct = c.motion_corners;
    motion_configure(motion);
    if (c.motion)
        engine_log("Motion: on (sensitivity %d, min %d ms, hold %d ms, ignore taskbar %d, corners %d%%, top %d%%, bottom %d%%)\n",
                   c.motion_sens, c.motion_min, c.motion_hold, c.motion_taskbar ? 1 : 0,
                   c.motion_corners, c.motion_top, c.motion_bottom);
    if (c.osd_name || c.osd_clock)
        engine_log("OSD: stream extras on (name=%d clock=%d)\n", c.osd_name ? 1 : 0,
                   c.osd_clock ? 1 : 0);
    arm_warning_badge(v);
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
    p.overlay = startup_overlay(v);
    streaming_paused.store(v.config.stream_on ? 0 : 1);
    std::thread([p, data_dir = v.data_dir] {
        RtspEngine& e = rtsp_engine();
        if (!engine_init(e, p)) {
            engine_log("RTSP init failed\n");
            // Nobody will accept on the listener: close it, so that players
            // and recorders are refused at once instead of hanging, and say
            // in ports.status that the stream is not running.
            net_close(p.listen_socket);
            port_slot(k_slot_rtsp).state.store(k_slot_state_off);
            write_ports_status(data_dir);
            engine_log("RTSP: port %d closed - no stream without a picture to send\n", p.port);
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
    std::thread(onvif_server, std::ref(onvif_context())).detach();
}

void start_discovery(StartupValues& v) {
    if (!v.config.discovery) {
        port_slot(k_slot_wsd).state.store(k_slot_state_off);
        engine_log("WS-Discovery disabled by config (add the camera manually by IP)\n");
        return;
    }
    std::thread(discovery_thread, std::ref(onvif_context())).detach();
}

void start_web_panel(StartupValues& v) {
    if (!v.config.web_admin) return;
    if (v.web_socket == k_invalid_socket) {
        engine_log("Web panel NOT started: every candidate port was busy (requested %d)\n",
                   port_slot(k_slot_web).requested.load());
        return;
    }
    // Lives until the process ends, like the values it was filled from.
    static WebAdminContext ctx;
    ctx.listen_socket = v.web_socket;
    ctx.advertised_address = v.address;
    ctx.program_dir = v.program_dir;
    ctx.cfg_path = v.cfg_path;
    ctx.data_dir = v.data_dir;
    ctx.machine_id = panel_machine_id(machine_identifier());
    ctx.version_text = k_version_text;
    ctx.admin_user = v.config.admin_user;
    ctx.admin_pass = v.admin_pass;
    ctx.web_port = v.web_port;
    ctx.settings.screen_width = v.screen_width;
    ctx.settings.screen_height = v.screen_height;
    web_context_init(ctx);
    std::thread(web_server, std::ref(ctx)).detach();
}

void start_settings_watcher(StartupValues& v) {
    start_live_settings_watcher(v);
    start_revert_watcher_if_pending(v);
}

}  // namespace

void start_subsystems(StartupValues& v) {
    if (v.panel_only) return;  // a panel-only process runs no server
    set_up_onvif_identity(v);
    if (!agreement_accepted(v)) {  // interactive start only
        engine_log("EULA declined \u2014 exiting.\n");
        std::fflush(stdout);
        std::_Exit(0);
    }
    hand_over_video_settings(v);
    start_rtsp(v);
    start_onvif(v);
    start_discovery(v);
    start_web_panel(v);
    start_settings_watcher(v);
}
