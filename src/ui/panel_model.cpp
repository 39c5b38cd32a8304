// The control panel's fields, texts and settings-file steps, without a toolkit.
#include "ui/panel_model.h"

#include "engine/clock.h"
#include "engine/data_protect.h"
#include "engine/engine_config.h"
#include "engine/log.h"
#include "engine/paths.h"
#include "engine/ports.h"
#include "engine/settings_validate.h"
#include "engine/ui_strings.h"
#include "rtsp/recent_clients.h"
#include "rtsp/rtsp_engine.h"
#include "video/motion_detector.h"

namespace {

const std::string k_lrm = "\u200E";

std::string default_value(const EngineConfig& c, const std::string& k) {
    auto b = [](bool v) { return std::string(v ? "1" : "0"); };
    if (k == "fps") return std::to_string(c.fps);
    if (k == "bitrate") return std::to_string(c.bitrate);
    if (k == "main_width") return std::to_string(c.main_width);
    if (k == "substream") return b(c.substream);
    if (k == "sub_width") return std::to_string(c.sub_width);
    if (k == "stream") return c.stream;
    if (k == "show_cursor") return b(c.show_cursor);
    if (k == "rtsp_port") return std::to_string(c.rtsp_port);
    if (k == "onvif_port") return std::to_string(c.onvif_port);
    if (k == "web_admin") return b(c.web_admin);
    if (k == "web_port") return std::to_string(c.web_port);
    if (k == "announce_ip") return c.announce_ip;
    if (k == "device_name") return c.device_name;
    if (k == "admin_user") return c.admin_user;
    if (k == "stream_auth") return b(c.stream_auth);
    return "";
}

ConfigMap load_file(const std::string& cfg) {
    auto text = read_file(cfg);
    return text ? parse_config_text(*text) : ConfigMap{};
}

std::string rtsp_link(const PanelModel& m, const std::string& path) {
    return "rtsp://" + m.args.address + ":" + std::to_string(m.args.rtsp_port) + "/" + path;
}

std::string clients_text(const PanelModel& m, const char* newline) {
    const std::vector<RecentClient> list = clients_snapshot();
    if (list.empty()) return panel_text(m, "no_viewers");
    std::string s;
    const uint64_t now = tick_ms();
    for (const RecentClient& c : list) {
        const char* kind = c.kind == k_client_sub     ? "viewer_sub"
                           : c.kind == k_client_onvif ? "viewer_onvif"
                                                      : "viewer_main";
        if (!s.empty()) s += newline;
        s += k_lrm + c.address + k_lrm + "  \u2014  " + panel_text(m, kind) + "  \u2014  ";
        if (c.active)
            s += panel_text(m, "viewer_playing");
        else
            s += panel_text(m, "viewer_left") + " (" + std::to_string((now - c.tick) / 1000) + " " +
                 panel_text(m, "seconds_ago") + ")";
    }
    return s;
}

}  // namespace

void panel_model_init(PanelModel& m, const PanelLoopArgs& args, const DesktopInfo& info,
                      std::function<void()> exit_for_restart) {
    m.args = args;
    m.info = info;
    m.arabic = info.lang == "ar";
    m.on_exit_for_restart = std::move(exit_for_restart);
}

std::string panel_text(const PanelModel& m, const char* id) {
    return ui_text(id, m.arabic);
}

std::string panel_link_main(const PanelModel& m) {
    return rtsp_link(m, m.args.stream);
}

std::vector<PanelLink> panel_links(const PanelModel& m) {
    std::vector<PanelLink> links = {{"rtsp_main", panel_link_main(m), "copy_main"}};
    if (!m.info.sub_stream.empty())
        links.push_back({"rtsp_sub", rtsp_link(m, m.info.sub_stream), "copy_sub"});
    links.push_back({"onvif_link",
                     "http://" + m.args.address + ":" + std::to_string(m.args.onvif_port) +
                         "/onvif/device_service",
                     "copy_onvif"});
    if (m.args.web_port > 0)
        links.push_back({"web_link",
                         "http://" + m.args.address + ":" + std::to_string(m.args.web_port) + "/",
                         "copy_web"});
    return links;
}

std::map<std::string, std::string> panel_file_values(const PanelModel& m) {
    const EngineConfig c =
        read_engine_config(load_file(m.info.cfg_path), k_default_rtsp_port, k_default_onvif_port);
    std::map<std::string, std::string> values;
    for (const PanelField& f : k_panel_fields)
        values[f.key] = f.kind == PanelFieldKind::password ? "" : default_value(c, f.key);
    return values;
}

PanelStatus panel_status(const PanelModel& m, const char* newline) {
    PanelStatus s;
    const bool paused = streaming_paused.load() != 0;
    s.state = panel_text(m, paused ? "streaming_paused" : "streaming_on");
    s.pause_button = panel_text(m, paused ? "resume" : "pause");
    s.viewers = clients_text(m, newline);
    const MotionStatus ms = motion_status();
    const char* motion = !ms.enabled ? "motion_off" : ms.active ? "motion_active" : "motion_idle";
    s.motion = panel_text(m, "motion") + ": " + panel_text(m, motion);
    std::string w = port_warnings(m.arabic);
    for (const ConfigWarning& cw : config_warnings())
        w.append(w.empty() ? "" : newline).append(m.arabic ? cw.ar : cw.en);
    s.ports = w.empty() ? panel_text(m, "ports_ok") : w;
    return s;
}

std::string panel_save(const PanelModel& m, const std::map<std::string, std::string>& form) {
    SaveCheck check = validate_save(form, load_file(m.info.cfg_path));
    if (!check.ok) {
        engine_log("UI: settings not saved: %s\n", check.error.c_str());
        return check.error;
    }
    bool password_protected = false;
    const bool password_changed = check.changes.count("admin_pass") != 0;
    if (password_changed) {
        std::string enc = encode_admin_pass(check.changes["admin_pass"], m.args.data_dir);
        if (!enc.empty()) {
            check.changes["admin_pass"] = enc;
            password_protected = true;
        }
    }
    if (!write_keys(m.info.cfg_path, check.changes))
        return "Could not write the settings file (" + file_error_text() + ")";
    if (password_changed) write_pwenc_marker(m.args.data_dir, password_protected);
    engine_log("UI: settings saved from the control panel (%d keys) - restarting\n",
               static_cast<int>(check.changes.size()));
    return "";
}

const char* panel_export(const PanelModel& m, const std::string& path) {
    auto text = read_file(m.info.cfg_path);
    const bool ok = !path.empty() && write_file_whole(path, text ? *text : std::string());
    return ok ? "exported" : "export_failed";
}

bool panel_import(const PanelModel& m, const std::string& path) {
    const ImportResult r = import_file(path, m.info.cfg_path);
    engine_log("Import settings: %d applied, %d rejected%s\n", r.applied, r.rejected,
               r.written ? "" : " (nothing written)");
    return r.written;
}

void panel_model_toggle_pause(const PanelModel& m) {
    const bool resume = streaming_paused.load() != 0;
    // The file first, so the live-settings watcher does not undo the change.
    if (!write_keys(m.info.cfg_path, {{"stream_on", resume ? "1" : "0"}}))
        engine_log("UI: could not persist stream_on - runtime state applied only\n");
    if (!m.args.panel_only) streaming_paused.store(resume ? 0 : 1);
    engine_log("UI: streaming %s from the desktop\n", resume ? "resumed" : "paused");
}
