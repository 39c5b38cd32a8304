#include "engine/settings_validate.h"

#include <cstdint>
#include <vector>

namespace {

const char* const k_lrm = "\u200E";

struct NumberRule {
    const char* key;
    int min, max;
    bool zero_allowed, even;
};

// Numbers and flags are checked in this one order, so the first error a
// user sees does not depend on the order of the form's fields.
struct Item {
    const char* key;
    bool flag;
    NumberRule rule;
};

const std::vector<Item>& items() {
    static const std::vector<Item> list = {
        {"rtsp_port", false, {"rtsp_port", 1, 65535, false, false}},
        {"onvif_port", false, {"onvif_port", 1, 65535, false, false}},
        {"web_port", false, {"web_port", 1, 65535, false, false}},
        {"web_admin", true, {}},
        {"substream", true, {}},
        {"stream_auth", true, {}},
        {"discovery", true, {}},
        {"main_width", false, {"main_width", 320, 7680, true, true}},
        {"fps", false, {"fps", 1, 60, false, false}},
        {"bitrate", false, {"bitrate", 256, 16384, false, false}},
        {"sub_width", false, {"sub_width", 160, 1920, false, true}},
        {"sub_bitrate", false, {"sub_bitrate", 64, 2048, false, false}},
        {"show_cursor", true, {}},
        {"motion", true, {}},
        {"motion_sens", false, {"motion_sens", 1, 10, false, false}},
        {"motion_min", false, {"motion_min", 100, 5000, false, false}},
        {"motion_hold", false, {"motion_hold", 500, 60000, false, false}},
        {"motion_top", false, {"motion_top", 0, 40, true, false}},
        {"motion_bottom", false, {"motion_bottom", 0, 40, true, false}},
        {"motion_taskbar", true, {}},
        {"motion_corners", false, {"motion_corners", 0, 30, true, false}},
    };
    return list;
}

// Decimal value of an all-digit text; anything above 100000000 is reported
// as 100000001 so that it fails every range without overflowing.
int64_t capped_value(const std::string& digits) {
    int64_t n = 0;
    for (char c : digits) {
        n = n * 10 + (c - '0');
        if (n > 100000000) return 100000001;
    }
    return n;
}

// Number text as stored, or nothing when the value breaks the rule.
bool check_number(const std::string& raw, const NumberRule& r, std::string* stored) {
    const std::string v = trim_blanks(raw);
    if (!is_all_digits(v)) return false;
    const int64_t n = capped_value(v);
    if (n > 100000000) return false;
    const bool zero_ok = r.zero_allowed && n == 0;
    if (!zero_ok && (n < r.min || n > r.max)) return false;
    if (r.even && n % 2 != 0) return false;
    *stored = std::to_string(n);
    return true;
}

std::string wrap(const std::string& s) {
    return k_lrm + s + k_lrm;
}

}  // namespace

std::string number_error_text(const std::string& key, int min, int max, bool zero_allowed,
                              bool even) {
    std::string range = std::to_string(min) + " \u2013 " + std::to_string(max);
    if (zero_allowed) range = "0 / " + range;
    std::string t = "قيمة غير صالحة في " + wrap(key) + " — المسموح: " + wrap(range);
    if (even) t += " (رقم زوجي)";
    t += " | Invalid value in " + key + " - allowed: " + range;
    if (even) t += " (even number)";
    return t;
}

std::string name_error_text(const std::string& key) {
    return "قيمة غير صالحة في " + wrap(key) + " — المسموح: " + wrap("A-Z a-z 0-9 _ - (1\u201332)") +
           " | Invalid value in " + key + " - allowed: A-Z a-z 0-9 _ - (1-32)";
}

std::string device_name_error_text() {
    return "اسم الجهاز لازم يكون من " + wrap("1") + " إلى " + wrap("32") +
           " حرفًا، وبدون المحارف < > & \" ' | Device name must be 1 to 32 characters, without "
           "the characters < > & \" '";
}

std::string announce_ip_error_text() {
    return "عنوان غير صالح في «العنوان المُعلَن» | Invalid address in \"Announced address\"";
}

std::string same_ports_error_text() {
    return "لازم كل خدمة على منفذ مختلف: " + wrap("RTSP") + " و" + wrap("ONVIF") +
           " ولوحة التحكّم | Each service needs a different port: RTSP, ONVIF and the Web panel "
           "cannot share the same number";
}

std::string password_error_text() {
    return "كلمة مرور غير صالحة";
}

std::string nothing_to_save_error_text() {
    return "لا يوجد ما يُحفظ";
}

bool form_flag(const std::string& value) {
    if (value == "1" || value == "on") return true;
    if (value.size() != 4) return false;
    std::string lower;
    for (char c : value) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return lower == "true";
}

int file_port(const ConfigMap& file, const std::string& key, int def) {
    auto it = file.find(key);
    if (it == file.end()) return def;
    const std::string v = trim_blanks(it->second);
    if (!is_all_digits(v)) return def;
    const int64_t n = capped_value(v);
    return n >= 1 && n <= 65535 ? static_cast<int>(n) : def;
}

SaveCheck validate_save(const std::map<std::string, std::string>& form, const ConfigMap& file) {
    SaveCheck r;
    auto fail = [&r](std::string text) {
        r.changes.clear();
        r.error = std::move(text);
        return r;
    };

    // 1. Numbers and flags.
    for (const Item& item : items()) {
        auto it = form.find(item.key);
        if (it == form.end()) continue;
        if (item.flag) {
            r.changes[item.key] = form_flag(it->second) ? "1" : "0";
            continue;
        }
        std::string stored;
        const NumberRule& n = item.rule;
        if (!check_number(it->second, n, &stored))
            return fail(number_error_text(n.key, n.min, n.max, n.zero_allowed, n.even));
        r.changes[item.key] = stored;
    }

    // 2. Names, taken as sent.
    for (const char* key : {"stream", "sub_stream", "admin_user"}) {
        auto it = form.find(key);
        if (it == form.end()) continue;
        if (!is_valid_name(it->second)) return fail(name_error_text(key));
        r.changes[key] = it->second;
    }

    // 3. Device name.
    if (auto it = form.find("device_name"); it != form.end()) {
        if (!is_valid_text(it->second, 32, false)) return fail(device_name_error_text());
        r.changes["device_name"] = it->second;
    }

    // 4. Announced address: empty clears it.
    if (auto it = form.find("announce_ip"); it != form.end()) {
        if (!it->second.empty() && !is_valid_ipv4(it->second))
            return fail(announce_ip_error_text());
        r.changes["announce_ip"] = it->second;
    }

    // 5. Three services, three ports: what the form sets, else what the file keeps.
    auto effective = [&](const char* key, int def) {
        auto it = r.changes.find(key);
        return it != r.changes.end() ? std::stoi(it->second) : file_port(file, key, def);
    };
    const int rtsp = effective("rtsp_port", 554);
    const int onvif = effective("onvif_port", 18000);
    const int web = effective("web_port", 13030);
    if (rtsp == onvif || rtsp == web || onvif == web) return fail(same_ports_error_text());

    // 6. Password: empty keeps the current one.
    if (auto it = form.find("admin_pass"); it != form.end() && !it->second.empty()) {
        if (it->second.size() > 64) return fail(password_error_text());
        for (char c : it->second) {
            const auto b = static_cast<unsigned char>(c);
            if (b < 32 || b == 127) return fail(password_error_text());
        }
        r.changes["admin_pass"] = it->second;
    }

    // 7.
    if (r.changes.empty()) return fail(nothing_to_save_error_text());
    r.ok = true;
    return r;
}
