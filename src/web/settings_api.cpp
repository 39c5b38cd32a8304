// The settings and control routes of the web panel. Each request reads the
// settings file afresh (so /config.json shows what the next start will use)
// and writes it only through write_keys or the factory-defaults writer.
#include "web/settings_api.h"

#include <cstdio>
#include <thread>

#include "engine/auto_revert.h"
#include "engine/clock.h"
#include "engine/engine_config.h"
#include "engine/log.h"
#include "engine/net_address.h"
#include "engine/paths.h"
#include "engine/ports.h"
#include "engine/settings_validate.h"
#include "host/relaunch.h"
#include "rtsp/rtsp_engine.h"
#include "video/motion_detector.h"
#include "web/web_text.h"

namespace {

const char* const k_keys_that_arm[] = {"rtsp_port", "onvif_port", "web_port", "web_admin",
                                       "stream_auth"};

// ---- Reading the file the way the panel shows it (no warnings) ------------------

int read_number(const ConfigMap& m, const char* key, int def, int min, int max,
                bool zero_allowed = false) {
    auto it = m.find(key);
    if (it == m.end()) return def;
    const std::string v = trim_blanks(it->second);
    if (!is_all_digits(v) || v.size() > 9) return def;
    const int n = std::stoi(v);
    if (zero_allowed && n == 0) return 0;
    return n >= min && n <= max ? n : def;
}

int read_flag(const ConfigMap& m, const char* key, bool def) {
    auto it = m.find(key);
    if (it == m.end()) return def ? 1 : 0;
    const std::string v = trim_blanks(it->second);
    if (!is_all_digits(v)) return def ? 1 : 0;
    return v.find_first_not_of('0') != std::string::npos ? 1 : 0;
}

std::string read_text(const ConfigMap& m, const char* key, const std::string& def) {
    auto it = m.find(key);
    return it == m.end() ? def : it->second;
}

int running_port(int slot, const ConfigMap& m, const char* key, int def) {
    const ServerPortSlot& s = port_slot(slot);
    const int actual = s.actual.load();
    if (s.state.load() == k_slot_state_running && actual > 0) return actual;
    return read_number(m, key, def, 1, 65535);
}

// ---- JSON -----------------------------------------------------------------------

class JsonObject {
  public:
    void number(const char* name, long long v) { field(name) += std::to_string(v); }
    void text(const char* name, const std::string& v) { field(name) += '"' + json_escape(v) + '"'; }
    void raw(const char* name, const std::string& v) { field(name) += v; }
    std::string done() { return out_ + "}"; }

  private:
    std::string& field(const char* name) {
        out_ += out_.size() > 1 ? ",\"" : "\"";
        out_ += name;
        out_ += "\":";
        return out_;
    }
    std::string out_ = "{";
};

std::string bool_word(bool b) {
    return b ? "true" : "false";
}

SettingsAnswer json(std::string body, std::string status = "200 OK") {
    SettingsAnswer a;
    a.status = std::move(status);
    a.body = std::move(body);
    return a;
}

std::string address_list_json() {
    std::string log;
    std::vector<AddressCandidate> list;
    choose_address(enumerate_adapters(), &log, &list);
    std::string out = "[";
    for (const AddressCandidate& c : list) {
        if (out.size() > 1) out += ',';
        out += "{\"a\":\"" + json_escape(c.address) + "\",\"l\":\"" + json_escape(c.adapter) +
               "\",\"x\":" + (c.is_virtual ? "1" : "0") + "}";
    }
    return out + "]";
}

std::string resolution_text(const SettingsApiContext& ctx, const ConfigMap& m) {
    const int w0 = ctx.screen_width, h0 = ctx.screen_height;
    const int mw = read_number(m, "main_width", 0, 320, 7680, true);
    if (mw < 1 || mw >= w0 || w0 <= 0) return std::to_string(w0) + "x" + std::to_string(h0);
    const int w = mw & ~1;
    const int h = static_cast<int>(static_cast<long long>(w) * h0 / w0) & ~1;
    return std::to_string(w) + "x" + std::to_string(h);
}

SettingsAnswer config_json(const SettingsApiContext& ctx) {
    const ConfigMap m = load(ctx.cfg_path);
    const uint64_t now = tick_ms();
    const int rtsp = running_port(k_slot_rtsp, m, "rtsp_port", 554);
    const std::string rtsp_base =
        "rtsp://" + ctx.advertised_address + ":" + std::to_string(rtsp) + "/";
    const MotionStatus mo = motion_status();
    auto age = [now](uint64_t tick) -> long long {
        return tick == 0 ? -1 : static_cast<long long>((now - tick) / 1000);
    };

    JsonObject j;
    j.text("ip", ctx.advertised_address);
    j.text("version", ctx.version_text);
    j.text("resolution", resolution_text(ctx, m));
    j.number("uptime", static_cast<long long>((now - ctx.start_tick) / 1000));
    j.text("rtsp_main", rtsp_base + read_text(m, "stream", "screenlive"));
    j.text("rtsp_sub", rtsp_base + read_text(m, "sub_stream", "screensub"));
    j.text("announce_ip", read_text(m, "announce_ip", ""));
    j.raw("ips", address_list_json());
    j.number("rtsp_port", rtsp);
    j.number("onvif_port", running_port(k_slot_onvif, m, "onvif_port", 18000));
    j.number("web_port", running_port(k_slot_web, m, "web_port", 13030));
    j.number("web_admin", read_flag(m, "web_admin", true));
    j.number("stream_auth", read_flag(m, "stream_auth", false));
    j.number("discovery", read_flag(m, "discovery", true));
    j.text("port_warn_ar", port_warnings(true));
    j.text("port_warn_en", port_warnings(false));
    j.number("fps", read_number(m, "fps", 10, 1, 60));
    j.number("bitrate", read_number(m, "bitrate", 2000, 256, 16384));
    j.text("stream", read_text(m, "stream", "screenlive"));
    j.number("main_width", read_number(m, "main_width", 0, 320, 7680, true));
    j.number("substream", read_flag(m, "substream", true));
    j.text("sub_stream", read_text(m, "sub_stream", "screensub"));
    j.number("sub_width", read_number(m, "sub_width", 640, 160, 1920));
    j.number("sub_bitrate", read_number(m, "sub_bitrate", 512, 64, 2048));
    j.text("admin_user", read_text(m, "admin_user", "zeb"));
    j.number("paused", streaming_paused.load() ? 1 : 0);
    j.number("show_cursor", read_flag(m, "show_cursor", false));
    j.number("motion", read_flag(m, "motion", false));
    j.number("motion_sens", read_number(m, "motion_sens", 5, 1, 10));
    j.number("motion_min", read_number(m, "motion_min", 500, 100, 5000));
    j.number("motion_hold", read_number(m, "motion_hold", 3000, 500, 60000));
    j.number("motion_top", read_number(m, "motion_top", 0, 0, 40, true));
    j.number("motion_bottom", read_number(m, "motion_bottom", 0, 0, 40, true));
    j.number("motion_taskbar", read_flag(m, "motion_taskbar", true));
    j.number("motion_corners", read_number(m, "motion_corners", 0, 0, 30, true));
    j.number("mo_enabled", mo.enabled ? 1 : 0);
    j.number("mo_active", mo.active ? 1 : 0);
    j.number("mo_testing", mo.testing ? 1 : 0);
    j.number("mo_level", mo.level);
    j.number("mo_thr", mo.threshold);
    j.number("mo_cells", mo.cells);
    j.number("mo_events", mo.events);
    j.number("mo_capturing", mo.update_tick != 0 && now - mo.update_tick < 2000 ? 1 : 0);
    j.number("mo_subs", mo.subscribers);
    j.number("mo_pull_age", age(mo.last_pull_tick));
    j.number("mo_push_subs", mo.push_subscribers);
    j.number("mo_push_age", age(mo.last_push_tick));
    j.number("mo_push_ok", mo.push_delivered);
    j.number("mo_push_fail", mo.push_failed);
    j.text("device_name", read_text(m, "device_name", "Vistrel"));
    return json(j.done());
}

// ---- Saving ---------------------------------------------------------------------

// The writer's failure in the panel's words.
std::string write_error_text() {
    switch (last_write_failure()) {
        case WriteFailure::write:
            return "تعذّر كتابة الإعدادات";
        case WriteFailure::replace:
            return "تعذّر حفظ الإعدادات";
        default:
            return "تعذّر فتح ملف الإعدادات";
    }
}

bool is_loopback_client(const std::string& ip) {
    return ip == "::1" || ip.rfind("127.", 0) == 0 || ip.rfind("::ffff:127.", 0) == 0;
}

bool changes_reach(const std::map<std::string, std::string>& changes, const ConfigMap& file) {
    for (const char* key : k_keys_that_arm) {
        auto c = changes.find(key);
        if (c == changes.end()) continue;
        auto f = file.find(key);
        if (f == file.end() || trim_blanks(f->second) != c->second) return true;
    }
    return false;
}

SettingsAnswer error_answer(const std::string& text) {
    return json("{\"ok\":false,\"error\":\"" + json_escape(text) + "\"}", "400 Bad Request");
}

SettingsAnswer save(const SettingsApiContext& ctx, const SettingsRequest& req) {
    const ConfigMap file = load(ctx.cfg_path);
    SaveCheck check = validate_save(parse_form(req.body), file);
    if (!check.ok) return error_answer(check.error);

    // The new password is stored protected when the platform can; the marker
    // that says so is written only once the file holds that form.
    bool password_protected = false;
    const bool password_changed = check.changes.count("admin_pass") != 0;
    if (password_changed) {
        std::string enc = encode_admin_pass(check.changes["admin_pass"], ctx.data_dir);
        if (!enc.empty()) {
            check.changes["admin_pass"] = enc;
            password_protected = true;
        } else {
            engine_log("Web: password protection unavailable - stored as typed\n");
        }
    }

    bool armed = false;
    if (!is_loopback_client(req.client_ip) && changes_reach(check.changes, file))
        armed = revert_arm(ctx.cfg_path, k_revert_hold_seconds, req.client_ip);

    clear_write_failure();
    if (!write_keys(ctx.cfg_path, check.changes)) {
        const std::string text = write_error_text();
        if (armed) revert_confirm(ctx.cfg_path);
        return error_answer(text);
    }
    if (password_changed && !write_pwenc_marker(ctx.data_dir, password_protected))
        engine_log("Web: cannot write the password marker (%s)\n", file_error_text().c_str());

    if (armed) {
        SettingsApiContext copy = ctx;
        std::thread([copy] {
            revert_watcher(copy.cfg_path, [&copy] { relaunch_and_exit(copy); });
        }).detach();
    }
    return json(std::string("{\"ok\":true,\"needsRestart\":true,\"pending\":") + bool_word(armed) +
                ",\"holdSeconds\":" + (armed ? "90" : "0") + "}");
}

// ---- Control routes ---------------------------------------------------------------

SettingsAnswer pending_json(const SettingsApiContext& ctx) {
    const int left = revert_seconds_left(ctx.cfg_path);
    return json("{\"pending\":" + bool_word(left >= 1) +
                ",\"secondsLeft\":" + std::to_string(left) + "}");
}

SettingsAnswer restore(const SettingsApiContext& ctx, const SettingsRequest& req) {
    auto form = parse_form(req.body);
    const int verdict = ctx.check_login ? ctx.check_login(form["user"], form["pass"]) : 1;
    if (verdict == 2) return json("{\"ok\":false}", "429 Too Many Requests");
    if (verdict != 0) return json("{\"ok\":false}", "401 Unauthorized");
    clear_write_failure();
    if (!write_factory_defaults(ctx.cfg_path, true)) {
        engine_log("Web: factory settings could not be written (%s)\n", file_error_text().c_str());
        return json("{\"ok\":false,\"error\":\"" + json_escape(write_error_text()) + "\"}",
                    "500 Internal Server Error");
    }
    // The factory file holds the password in clear; a pending remote change
    // must not bring the old settings back over it.
    remove_file(ctx.cfg_path + ".pending");
    remove_file(ctx.cfg_path + ".bak");
    if (!write_pwenc_marker(ctx.data_dir, false))
        engine_log("Web: cannot write the password marker (%s)\n", file_error_text().c_str());
    engine_log("Web: factory settings restored by admin\n");
    SettingsAnswer a = json("{\"restarting\":true}", "202 Accepted");
    a.after = AfterAnswer::relaunch;
    return a;
}

SettingsAnswer stream(const SettingsApiContext& ctx, const SettingsRequest& req) {
    const bool resume = req.body.find("on=1") != std::string::npos;
    // The file first: the live-settings watcher applies stream_on from it, and
    // reading the old file after the flag was stored would undo the change for
    // a whole watcher period.
    clear_write_failure();
    const bool persisted = write_keys(ctx.cfg_path, {{"stream_on", resume ? "1" : "0"}});
    streaming_paused.store(resume ? 0 : 1);
    if (!persisted)
        engine_log("Web: could not persist stream_on (%s) - runtime state applied only\n",
                   write_error_text().c_str());
    engine_log("Web: stream %s by admin\n", resume ? "RESUMED" : "STOPPED");
    return json("{\"paused\":" + bool_word(streaming_paused.load() != 0) + "}");
}

SettingsAnswer motion_test() {
    if (!motion_status().enabled) return json("{\"ok\":false,\"code\":\"off\"}", "409 Conflict");
    motion_test_event();
    engine_log("Web: motion test event sent\n");
    return json("{\"ok\":true}");
}

}  // namespace

bool is_settings_route(const std::string& method, const std::string& path) {
    if (method == "GET") return path == "/config.json" || path == "/pending.json";
    if (method != "POST") return false;
    return path == "/save" || path == "/confirm" || path == "/restart" || path == "/restore" ||
           path == "/stream" || path == "/motion_test";
}

SettingsAnswer handle_settings_route(SettingsApiContext& ctx, const SettingsRequest& req) {
    if (!is_settings_route(req.method, req.path)) return json("{\"ok\":false}", "404 Not Found");
    const std::string& p = req.path;
    if (p == "/config.json") return config_json(ctx);
    if (p == "/pending.json") return pending_json(ctx);
    if (p == "/save") return save(ctx, req);
    if (p == "/confirm")
        return json("{\"ok\":true,\"was_pending\":" + bool_word(revert_confirm(ctx.cfg_path)) +
                    "}");
    if (p == "/restart") {
        SettingsAnswer a = json("{\"restarting\":true}", "202 Accepted");
        a.after = AfterAnswer::save_sessions_then_relaunch;
        return a;
    }
    if (p == "/restore") return restore(ctx, req);
    if (p == "/stream") return stream(ctx, req);
    return motion_test();
}

void relaunch_and_exit(const SettingsApiContext& ctx) {
    std::fflush(stdout);
    if (process_started_with("--logon-screen"))
        std::_Exit(0);  // the service starts the camera again
    if (!relaunch_engine(true, ctx.program_dir)) {
        engine_log("Web: could not start a new engine process - restarting in place\n");
        std::fflush(stdout);
        relaunch_in_place(true);
        engine_log("Web: restart in place failed too - exiting\n");
        std::fflush(stdout);
    }
    std::_Exit(0);
}
