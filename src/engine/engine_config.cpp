// Settings file: parser, typed getters, warnings, the EngineConfig reader,
// rewrite, import, seed, factory defaults and the protected admin_pass.
#include "engine/engine_config.h"

#include <algorithm>
#include <mutex>
#include <set>

#include "engine/base64.h"
#include "engine/crypto.h"
#include "engine/data_protect.h"
#include "engine/log.h"
#include "engine/paths.h"

namespace {

// Left-to-right embedding and pop marks around Latin fragments in Arabic text.
const char* const k_lre = "\u202A";
const char* const k_pdf = "\u202C";

std::string ltr(const std::string& s) {
    return k_lre + s + k_pdf;
}

bool is_blank_or_tab(char c) {
    return c == ' ' || c == '\t';
}

struct WarningList {
    std::mutex mutex;
    std::vector<ConfigWarning> list;
    std::set<std::string> logged;  // English texts already logged
};

WarningList& warnings() {
    static WarningList w;
    return w;
}

// Value as shown in a warning: at most 24 bytes (then "..."), cut on a UTF-8
// character boundary so the text stays valid UTF-8, control bytes shown as '?'
// so that a bad value cannot inject terminal escapes into the log.
std::string shown_value(const std::string& v) {
    std::string s = v;
    if (s.size() >= 25) {
        size_t cut = 24;
        while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
        s = s.substr(0, cut) + "...";
    }
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return s;
}

// Parses digits into a number, capping at just above 100000000 so that long
// runs of digits never overflow.
bool parse_number(std::string_view v, long long* out) {
    if (!is_all_digits(v)) return false;
    long long n = 0;
    for (char c : v) {
        n = n * 10 + (c - '0');
        if (n > 100000000) n = 100000001;
    }
    *out = n;
    return true;
}

std::mutex& config_write_mutex() {
    static std::mutex m;
    return m;
}

bool has_line_break_or_nul(const std::string& s) {
    return s.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

}  // namespace

std::string trim_blanks(std::string_view v) {
    size_t b = 0, e = v.size();
    while (b < e && is_blank_or_tab(v[b])) ++b;
    while (e > b && is_blank_or_tab(v[e - 1])) --e;
    return std::string(v.substr(b, e - b));
}

// ---- Parser -------------------------------------------------------------------

namespace {

// Splits one line into key and value; false for lines the parser ignores.
bool split_line(std::string_view line, std::string* key, std::string* value) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' '))
        line.remove_suffix(1);
    size_t b = 0;
    while (b < line.size() && is_blank_or_tab(line[b])) ++b;
    line.remove_prefix(b);
    if (line.empty() || line.front() == '#') return false;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) return false;
    std::string_view k = line.substr(0, eq);
    while (!k.empty() && is_blank_or_tab(k.back())) k.remove_suffix(1);
    if (k.empty()) return false;
    std::string_view v = line.substr(eq + 1);
    size_t vb = 0;
    while (vb < v.size() && is_blank_or_tab(v[vb])) ++vb;
    *key = std::string(k);
    *value = std::string(v.substr(vb));
    return true;
}

template <typename Fn>
void for_each_line(std::string_view text, Fn fn) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos) nl = text.size();
        fn(text.substr(pos, nl - pos));
        pos = nl + 1;
    }
}

}  // namespace

ConfigMap parse_config_text(std::string_view text) {
    ConfigMap m;
    for_each_line(text, [&](std::string_view line) {
        std::string k, v;
        if (split_line(line, &k, &v)) m[k] = std::move(v);
    });
    return m;
}

std::string config_line_key(std::string_view line) {
    std::string k, v;
    return split_line(line, &k, &v) ? k : std::string();
}

ConfigMap load(const std::string& path) {
    auto text = read_file(path);
    if (!text) return {};
    return parse_config_text(*text);
}

// ---- Warnings -------------------------------------------------------------------

bool add_config_warning(const ConfigWarning& w) {
    WarningList& wl = warnings();
    bool added = false, log_it = false;
    {
        std::lock_guard<std::mutex> lock(wl.mutex);
        bool present = std::any_of(wl.list.begin(), wl.list.end(),
                                   [&](const ConfigWarning& x) { return x.en == w.en; });
        if (!present && wl.list.size() < k_max_config_warnings) {
            wl.list.push_back(w);
            added = true;
        }
        if (!present && wl.logged.size() < 64 && wl.logged.insert(w.en).second) log_it = true;
    }
    if (log_it) engine_log("CONFIG: %s\n", w.en.c_str());
    return added;
}

std::vector<ConfigWarning> config_warnings() {
    std::lock_guard<std::mutex> lock(warnings().mutex);
    return warnings().list;
}

void reset_config_warnings_for_tests() {
    std::lock_guard<std::mutex> lock(warnings().mutex);
    warnings().list.clear();
    warnings().logged.clear();
}

ConfigWarning invalid_value_warning(const std::string& key, const std::string& value,
                                    const std::string& default_text) {
    std::string quoted(1, '"');
    quoted.append(shown_value(value)).push_back('"');
    ConfigWarning w;
    w.en.append("\u26A0 Invalid setting in the config file: ").append(key).append(" = ");
    w.en.append(quoted).append(" - using the default ").append(default_text);
    w.ar.append("\u26A0 إعداد غير صالح في ملف الإعدادات: ").append(ltr(key)).append(" = ");
    w.ar.append(ltr(quoted)).append(" — اتستعملت القيمة الافتراضية ").append(ltr(default_text));
    return w;
}

// An unusable admin_pass locks the login instead of falling back to the factory
// password that anyone can look up; the warning says so and never shows the value.
static ConfigWarning locked_password_warning() {
    ConfigWarning w;
    w.en =
        "\u26A0 Invalid setting in the config file: admin_pass = \"(hidden)\" - login locked "
        "until the password is set again";
    w.ar = "\u26A0 إعداد غير صالح في ملف الإعدادات: " + ltr("admin_pass") + " = " +
           ltr("\"(hidden)\"") + " — تم قفل تسجيل الدخول حتى تُضبط كلمة المرور من جديد";
    return w;
}

// A stream_auth value that cannot be read keeps authentication on: a damaged
// file must never open the streams to everyone.
static ConfigWarning auth_kept_on_warning(const std::string& value) {
    std::string quoted(1, '"');
    quoted.append(shown_value(value)).push_back('"');
    ConfigWarning w;
    w.en = "\u26A0 Invalid setting in the config file: stream_auth = " + quoted +
           " - authentication stays on (1) until the value is fixed";
    w.ar = "\u26A0 إعداد غير صالح في ملف الإعدادات: " + ltr("stream_auth") + " = " + ltr(quoted) +
           " — المصادقة تبقى مفعّلة (" + ltr("1") + ") حتى يُصحَّح الإعداد";
    return w;
}

// ---- Value checks ----------------------------------------------------------------

bool is_all_digits(std::string_view v) {
    return !v.empty() &&
           std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool is_valid_name(std::string_view v) {
    if (v.empty() || v.size() > 32) return false;
    return std::all_of(v.begin(), v.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '-';
    });
}

bool is_valid_text(std::string_view v, size_t max_len, bool allow_empty) {
    if (v.size() > max_len) return false;
    if (v.empty()) return allow_empty;
    for (char c : v) {
        if (static_cast<unsigned char>(c) < 0x20) return false;
        if (c == '"' || c == '&' || c == '\'' || c == '<' || c == '>') return false;
    }
    return true;
}

bool is_valid_ipv4(std::string_view v) {
    int groups = 0;
    size_t pos = 0;
    while (true) {
        size_t start = pos;
        while (pos < v.size() && v[pos] >= '0' && v[pos] <= '9') ++pos;
        size_t len = pos - start;
        if (len < 1 || len > 3) return false;
        int n = 0;
        for (size_t i = start; i < pos; ++i) n = n * 10 + (v[i] - '0');
        if (n > 255) return false;
        ++groups;
        if (pos == v.size()) break;
        if (v[pos] != '.' || groups == 4) return false;
        ++pos;
    }
    return groups == 4;
}

// ---- Getters ----------------------------------------------------------------------

namespace {

const std::string* find_value(const ConfigMap& m, const std::string& key, std::string* trimmed) {
    auto it = m.find(key);
    if (it == m.end()) return nullptr;
    *trimmed = trim_blanks(it->second);
    return &it->second;
}

}  // namespace

bool get_flag(const ConfigMap& m, const std::string& key, bool def) {
    std::string v;
    if (!find_value(m, key, &v)) return def;
    if (!is_all_digits(v)) {
        add_config_warning(invalid_value_warning(key, v, def ? "1" : "0"));
        return def;
    }
    return v.find_first_not_of('0') != std::string::npos;
}

int get_int(const ConfigMap& m, const std::string& key, int def, int min, int max,
            bool zero_allowed) {
    std::string v;
    if (!find_value(m, key, &v)) return def;
    long long n = 0;
    if (parse_number(v, &n) && n <= 100000000 &&
        ((n >= min && n <= max) || (zero_allowed && n == 0)))
        return static_cast<int>(n);
    add_config_warning(invalid_value_warning(key, v, std::to_string(def)));
    return def;
}

std::string get_name(const ConfigMap& m, const std::string& key, const std::string& def) {
    std::string v;
    if (!find_value(m, key, &v)) return def;
    if (is_valid_name(v)) return v;
    add_config_warning(invalid_value_warning(key, v, def));
    return def;
}

std::string get_text(const ConfigMap& m, const std::string& key, const std::string& def,
                     size_t max_len, bool allow_empty) {
    std::string v;
    if (!find_value(m, key, &v)) return def;
    if (is_valid_text(v, max_len, allow_empty)) return v;
    add_config_warning(invalid_value_warning(key, v, def));
    return def;
}

std::string get_string(const ConfigMap& m, const std::string& key, const std::string& def) {
    std::string v;
    if (!find_value(m, key, &v)) return def;
    return v;
}

std::string get_address(const ConfigMap& m, const std::string& key) {
    std::string v;
    if (!find_value(m, key, &v) || v.empty()) return "";
    if (is_valid_ipv4(v)) return v;
    add_config_warning(invalid_value_warning(key, v, "auto"));
    return "";
}

// ---- EngineConfig --------------------------------------------------------------------

namespace {

// The switch, corner, opacity, colour and size of one text drawn on the picture (camera
// name, clock, warning). The defaults are the values the fields start with.
void read_text_overlay(const ConfigMap& m, const std::string& on_key, const std::string& prefix,
                       bool& on, int& pos, int& op, int& color, int& size) {
    on = get_flag(m, on_key, on);
    pos = get_int(m, prefix + "pos", pos, 0, 3);
    op = get_int(m, prefix + "op", op, 25, 100);
    color = get_int(m, prefix + "color", color, 0, 4);
    size = get_int(m, prefix + "size", size, 0, 2);
}

}  // namespace

EngineConfig read_engine_config(const ConfigMap& m, int default_rtsp, int default_onvif) {
    EngineConfig c;
    // Start-up keys first, so their warnings come first in the short list.
    c.rtsp_port = get_int(m, "rtsp_port", default_rtsp, 1, 65535);
    c.onvif_port = get_int(m, "onvif_port", default_onvif, 1, 65535);
    c.fps = get_int(m, "fps", 10, 1, 60);
    c.bitrate = get_int(m, "bitrate", 2000, 256, 16384);
    c.web_admin = get_flag(m, "web_admin", true);
    c.web_port = get_int(m, "web_port", k_default_web_port, 1, 65535);
    c.discovery = get_flag(m, "discovery", true);
    c.stream = get_name(m, "stream", "screenlive");
    c.announce_ip = get_address(m, "announce_ip");

    c.substream = get_flag(m, "substream", true);
    c.sub_stream = get_name(m, "sub_stream", "screensub");
    c.sub_width = get_int(m, "sub_width", 640, 160, 1920);
    c.sub_bitrate = get_int(m, "sub_bitrate", 512, 64, 2048);
    c.device_name = get_text(m, "device_name", "Vistrel", 32);
    c.osd_name_text = get_text(m, "osd_name_text", "", 96, true);
    read_text_overlay(m, "osd_name", "osd_name_", c.osd_name, c.osd_name_pos, c.osd_name_op,
                      c.osd_name_color, c.osd_name_size);
    read_text_overlay(m, "osd_clock", "osd_clock_", c.osd_clock, c.osd_clock_pos, c.osd_clock_op,
                      c.osd_clock_color, c.osd_clock_size);
    read_text_overlay(m, "warn_live", "warn_", c.warn_live, c.warn_pos, c.warn_op, c.warn_color,
                      c.warn_size);
    c.warn_text = get_text(m, "warn_text", "", 64, true);
    c.audio = get_flag(m, "audio", false);
    c.show_cursor = get_flag(m, "show_cursor", false);
    c.damage_capture = get_flag(m, "damage_capture", true);
    c.motion = get_flag(m, "motion", false);
    c.motion_sens = get_int(m, "motion_sens", 5, 1, 10);
    c.motion_min = get_int(m, "motion_min", 500, 100, 5000);
    c.motion_hold = get_int(m, "motion_hold", 3000, 500, 60000);
    c.motion_top = get_int(m, "motion_top", 0, 0, 40);
    c.motion_bottom = get_int(m, "motion_bottom", 0, 0, 40);
    c.motion_taskbar = get_flag(m, "motion_taskbar", true);
    c.motion_corners = get_int(m, "motion_corners", 0, 0, 30);
    c.log_verbose = get_flag(m, "log_verbose", false);
    c.main_width = get_int(m, "main_width", 0, 320, 7680, true);
    c.admin_user = get_text(m, "admin_user", "admin", 48);
    // The password itself never appears in a warning (log and panels show them).
    std::string pass;
    if (find_value(m, "admin_pass", &pass) && !is_valid_text(pass, k_admin_pass_max_len, false))
        add_config_warning(locked_password_warning());
    else
        c.admin_pass = get_text(m, "admin_pass", "tolvu", k_admin_pass_max_len);
    c.stream_on = get_flag(m, "stream_on", true);
    std::string auth;
    if (find_value(m, "stream_auth", &auth) && !is_all_digits(auth)) {
        add_config_warning(auth_kept_on_warning(auth));
        c.stream_auth = true;
    } else {
        c.stream_auth = get_flag(m, "stream_auth", false);
    }
    c.show_icon = get_flag(m, "show_icon", true);
    c.protect_mode = get_flag(m, "protect_mode", false);
    std::string lang = get_string(m, "lang", "");
    c.lang = (lang == "ar" || lang == "en") ? lang : "";
    return c;
}

// ---- Rewrite ----------------------------------------------------------------------

std::string rewrite_config_text(std::string_view current,
                                const std::map<std::string, std::string>& updates) {
    std::vector<std::string> lines;
    for_each_line(current, [&](std::string_view line) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.emplace_back(line);
    });
    std::set<std::string> done;
    for (std::string& line : lines) {
        std::string key = config_line_key(line);
        if (key.empty()) continue;
        auto it = updates.find(key);
        if (it == updates.end()) continue;
        line = key + " = " + it->second;
        done.insert(key);
    }
    for (const auto& [key, value] : updates)
        if (!done.count(key)) lines.push_back(key + " = " + value);
    std::string out;
    for (const std::string& line : lines) out += line + "\r\n";
    return out;
}

bool write_keys(const std::string& path, const std::map<std::string, std::string>& updates) {
    if (updates.empty()) return true;
    // A key or value with a line break would smuggle extra lines into the file.
    for (const auto& [key, value] : updates) {
        if (key.empty() || key.find('=') != std::string::npos || has_line_break_or_nul(key) ||
            has_line_break_or_nul(value) || trim_blanks(key) != key || key[0] == '#')
            return false;
    }
    // One read-modify-write at a time in this process, so that two panels
    // saving at once cannot drop each other's keys.
    std::lock_guard<std::mutex> lock(config_write_mutex());
    std::string current;
    if (auto text = read_file(path)) {
        current = std::move(*text);
    } else if (file_exists(path) || directory_exists(path)) {
        // The file is there but unreadable: never replace it by the updates alone.
        return false;
    }
    return write_file_whole(path, rewrite_config_text(current, updates));
}

// ---- Import -------------------------------------------------------------------------

const std::vector<std::string>& importable_keys() {
    static const std::vector<std::string> keys = {
        "fps",           "bitrate",        "main_width",      "substream",      "sub_width",
        "sub_bitrate",   "rtsp_port",      "onvif_port",      "web_port",       "web_admin",
        "stream_auth",   "discovery",      "audio",           "show_cursor",    "osd_name",
        "osd_name_pos",  "osd_name_op",    "osd_name_color",  "osd_name_size",  "osd_clock",
        "osd_clock_pos", "osd_clock_op",   "osd_clock_color", "osd_clock_size", "warn_live",
        "warn_pos",      "warn_op",        "warn_color",      "warn_size",      "warn_text",
        "motion",        "motion_sens",    "motion_min",      "motion_hold",    "motion_top",
        "motion_bottom", "motion_taskbar", "motion_corners",  "show_icon",      "protect_mode",
        "lang"};
    return keys;
}

bool import_value_ok(const std::string& key, const std::string& value) {
    if (key == "lang") return value == "ar" || value == "en";
    if (key == "warn_text") return is_valid_text(value, 160, true);
    if (key == "stream" || key == "sub_stream") return is_valid_name(value);
    return is_all_digits(value) && value.size() <= 9;
}

ImportResult import_file(const std::string& import_path, const std::string& cfg_path) {
    ImportResult r;
    auto text = read_file(import_path, 64u << 20, true);  // a file the user names
    if (!text) return r;
    const auto& allowed = importable_keys();
    std::map<std::string, std::string> accepted;
    for (const auto& [key, raw] : parse_config_text(*text)) {
        std::string value = trim_blanks(raw);
        if (std::find(allowed.begin(), allowed.end(), key) != allowed.end() &&
            import_value_ok(key, value)) {
            accepted[key] = value;
            ++r.applied;
        } else {
            ++r.rejected;
        }
    }
    r.written = !accepted.empty() && write_keys(cfg_path, accepted);
    return r;
}

// ---- Seed and factory defaults -----------------------------------------------------------

bool seed(const std::string& data_dir, const std::string& program_dir) {
    for (const char* name : {"default-settings.cfg", "core.dat"}) {
        // The program directory belongs to whoever installed the program.
        auto text = read_file(program_dir + "/" + name, 64u << 20, true);
        if (!text) continue;
        return write_file_whole(config_path(data_dir), *text);
    }
    return false;
}

std::string factory_defaults_text(bool web_variant) {
    static const char* const lines[] = {
        "rtsp_port  = 554",   "onvif_port = 18000",      "fps        = 10",
        "bitrate    = 2000",  "stream     = screenlive", "main_width = 0",
        "substream   = 1",    "sub_stream  = screensub", "sub_width   = 640",
        "sub_bitrate = 512",  "stream_on  = 1",          "stream_auth = 0",
        "web_admin  = 1",     "web_port   = 13030",      "announce_ip = ",
        "admin_user = admin", "admin_pass = tolvu",      "device_name = Vistrel",
        "discovery  = 1"};
    std::string out =
        web_variant ? "# إعدادات محرّك Vistrel"
                    : "# Vistrel config (2.0.5 for Windows Server defaults: 554 / 18000 / 13030)";
    out += "\r\n";
    for (const char* l : lines) out += std::string(l) + "\r\n";
    return out;
}

bool write_factory_defaults(const std::string& cfg_path, bool web_variant) {
    std::lock_guard<std::mutex> lock(config_write_mutex());
    return write_file_whole(cfg_path, factory_defaults_text(web_variant));
}

std::string config_path(const std::string& data_dir) {
    return data_dir + "/zeb.cfg";
}

// ---- Protected admin_pass ------------------------------------------------------------------

std::string decode_admin_pass(const std::string& stored, const std::string& data_dir,
                              bool* tampered) {
    auto lockout = [&] {
        if (tampered) *tampered = true;
        uint8_t r[16] = {};
        random_bytes(r, sizeof r);
        // Starts with a control character: no typed entry can ever match it.
        return std::string("\x01locked-") + to_hex(r, sizeof r);
    };
    if (tampered) *tampered = false;
    if (stored.rfind("enc:", 0) == 0) {
        auto blob = base64_decode(stored.substr(4));
        if (!blob) return lockout();
        auto plain = unprotect_data(*blob, data_dir);
        if (!plain) return lockout();
        return *plain;
    }
    if (read_pwenc_marker(data_dir)) return lockout();
    return stored;
}

std::string encode_admin_pass(const std::string& clear, const std::string& data_dir) {
    auto blob = protect_data(clear, data_dir);
    if (!blob) return "";
    return "enc:" + base64_encode(*blob);
}
