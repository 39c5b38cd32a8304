// Start-up's calls into the desktop interface.
#include "app/desktop_wiring.h"

#include "engine/log.h"
#include "engine/net_address.h"
#include "engine/paths.h"
#include "engine/ports.h"
#include "rtsp/rtsp_engine.h"
#include "ui/desktop.h"
#include "ui/stream_badge.h"

namespace {

bool interactive(const StartupValues& v) {
    return !v.background && !v.relaunch && !v.panel_only;
}

WelcomeValues welcome_values(const StartupValues& v) {
    WelcomeValues w;
    w.address = v.address;
    w.rtsp_port = v.rtsp_port;
    w.onvif_port = v.onvif_port;
    w.web_port = v.web_port;
    w.web_on = v.config.web_admin;
    w.stream = v.config.stream;
    return w;
}

}  // namespace

bool desktop_one_shot(const std::vector<std::string>& args, int* code) {
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--dump-welcome" && i + 1 < args.size()) {
            *code = dump_welcome(args[i + 1]);
            return true;
        }
        if (args[i] == "--selftest-strings") {
            const std::string* file = i + 1 < args.size() ? &args[i + 1] : nullptr;
            *code = selftest_strings_mode(file);
            return true;
        }
    }
    return false;
}

int welcome_only_mode(const StartupValues& v) {
    bool arabic = false;
    for (size_t i = 1; i + 1 < v.args.size(); ++i)
        if (v.args[i] == "--lang") arabic = v.args[i + 1] == "ar";
    WelcomeValues w;
    w.address = v.config.announce_ip;
    if (w.address.empty()) {
        std::string log;
        w.address = choose_address(&log);
    }
    // The ports really in use when a camera runs, else the configured ones.
    w.rtsp_port = v.config.rtsp_port;
    w.onvif_port = v.config.onvif_port;
    w.web_port = v.config.web_port;
    if (read_ports_status(v.data_dir)) {
        auto actual = [](int slot, int configured) {
            const int a = port_slot(slot).actual.load();
            return a > 0 ? a : configured;
        };
        w.rtsp_port = actual(k_slot_rtsp, w.rtsp_port);
        w.onvif_port = actual(k_slot_onvif, w.onvif_port);
        w.web_port = actual(k_slot_web, w.web_port);
    }
    w.web_on = v.config.web_admin;
    w.stream = v.config.stream;
    if (!desktop_available()) {
        engine_log("UI: no desktop display - the welcome window cannot be shown\n");
        return 1;
    }
    show_welcome_window(w, arabic);
    write_file_whole(v.data_dir + "/welcomed.flag", "1");
    return 0;
}

void first_run_welcome(const StartupValues& v) {
    if (!interactive(v) || file_exists(v.data_dir + "/welcomed.flag")) return;
    if (!desktop_available()) return;  // shown at a start that has a desktop
    show_welcome_window(welcome_values(v), v.lang == "ar");
    if (!write_file_whole(v.data_dir + "/welcomed.flag", "1"))
        engine_log("UI: cannot write welcomed.flag (%s)\n", file_error_text().c_str());
}

bool agreement_accepted(const StartupValues& v) {
    if (!interactive(v)) return true;
    auto it = v.settings.find("eula_accepted");
    if (it != v.settings.end() && trim_blanks(it->second) == "1") return true;
    if (!desktop_available()) return true;  // asked at a start that has a desktop
    if (!show_agreement(v.lang == "ar")) return false;
    if (!write_keys(v.cfg_path, {{"eula_accepted", "1"}}))
        engine_log("UI: cannot record the accepted agreement (%s)\n", file_error_text().c_str());
    return true;
}

void arm_warning_badge(const StartupValues& v) {
    const EngineConfig& c = v.config;
    if (!c.warn_live || v.logon_screen || v.panel_only) return;
    BadgeSettings s;
    s.corner = c.warn_pos;
    s.opacity = c.warn_op;
    s.colour = c.warn_color;
    s.size = c.warn_size;
    s.text = c.warn_text;
    if (arm_stream_badge(s, [] { return static_cast<int>(rtsp_engine().playing_clients.load()); }))
        engine_log("OSD: local streaming warning armed (corner=%d)\n", c.warn_pos);
}

int run_main_loop(const PanelLoopArgs& pl, const StartupValues& v) {
    if (v.background) return run_control_panel_loop(pl);
    DesktopInfo d;
    d.cfg_path = v.cfg_path;
    d.lang = v.lang;
    d.version = k_version_text;
    d.admin_user = v.config.admin_user;
    d.admin_pass = v.admin_pass;
    d.sub_stream = v.sub_stream;
    d.background = v.background;
    return run_desktop_loop(pl, d);
}
