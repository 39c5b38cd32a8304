#include "app/settings_wiring.h"

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "engine/auto_revert.h"
#include "engine/log.h"
#include "engine/ports.h"
#include "host/relaunch.h"
#include "onvif/onvif_context.h"
#include "rtsp/rtsp_engine.h"
#include "video/overlay.h"
#include "video/screen_capture.h"

LiveSwitches apply_live_settings(const ConfigMap& m) {
    const OverlaySettings o = read_overlay_settings(m);
    const bool cursor = read_show_cursor(m);
    engine_set_overlay(rtsp_engine(), o);
    cursor_on.store(cursor);
    bool paused = false;
    if (live_stream_paused(m, &paused)) streaming_paused.store(paused ? 1 : 0);

    auto name = m.find("device_name");
    const std::string camera_name =
        name != m.end() && is_valid_text(name->second, 32, false) ? name->second : "Vistrel";
    OnvifContext& onvif = onvif_context();
    onvif_set_name_live(onvif, camera_name);
    onvif_set_osd_layout(onvif, static_cast<uint32_t>(o.name_pos), o.clock_on,
                         static_cast<uint32_t>(o.clock_pos));

    LiveSwitches s;
    s.name_on = o.name_on;
    s.clock_on = o.clock_on;
    s.cursor_on = cursor;
    s.name_text = o.name_text;
    return s;
}

void start_live_settings_watcher(const StartupValues& v) {
    if (v.panel_only) return;
    LiveSettingsHooks hooks;
    hooks.apply = apply_live_settings;
    std::thread([cfg = v.cfg_path, dir = v.data_dir, hooks] {
        LiveSettingsWatcher(cfg, dir, hooks).run();
    }).detach();
}

void relaunch_engine_and_exit(const std::string& program_dir, bool logon_screen, bool background) {
    std::fflush(stdout);
    if (logon_screen) std::_Exit(0);  // the service starts the camera again
    if (!relaunch_engine(background, program_dir)) {
        engine_log("Could not start a new engine process - restarting in place\n");
        std::fflush(stdout);
        relaunch_in_place(background);
    }
    std::fflush(stdout);
    std::_Exit(0);
}

void start_revert_watcher_if_pending(const StartupValues& v) {
    // A hold that ran out during a long start-up (a port wait) is still
    // pending: the watcher reverts it at its first look.
    if (v.panel_only || !revert_is_pending(v.cfg_path)) return;
    std::thread([cfg = v.cfg_path, dir = v.program_dir, logon = v.logon_screen] {
        revert_watcher(cfg, [&] { relaunch_engine_and_exit(dir, logon, true); });
    }).detach();
}

void apply_bind_failure_rule(StartupValues& v) {
    auto missed = [](int slot) {
        const ServerPortSlot& s = port_slot(slot);
        return s.state.load() != k_slot_state_running || s.actual.load() != s.requested.load();
    };
    BindOutcome o;
    o.rtsp_failed = missed(k_slot_rtsp);
    o.onvif_failed = missed(k_slot_onvif);
    o.web_enabled = v.config.web_admin;
    o.web_failed = o.web_enabled && missed(k_slot_web);
    if (!revert_on_bind_failure(v.cfg_path, o)) return;
    for (socket_t* s : {&v.rtsp_socket, &v.onvif_socket, &v.web_socket}) {
        if (*s != k_invalid_socket) net_close(*s);
        *s = k_invalid_socket;
    }
    relaunch_engine_and_exit(v.program_dir, v.logon_screen, v.background);
}
