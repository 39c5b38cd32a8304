// Pure pieces of start-up: positional ports, stream sizes, duplicate-port
// warnings and the banner text.
#include <cstdio>

#include "app/startup.h"

int positional_port(const std::string& word, int fallback) {
    if (!is_all_digits(word) || word.size() > 5) return fallback;
    const int n = std::stoi(word);
    return n >= 1 && n <= 65535 ? n : fallback;
}

StreamSizes compute_stream_sizes(int screen_w, int screen_h, bool substream, int sub_width,
                                 int main_width) {
    StreamSizes s;
    s.screen_width = screen_w > 0 ? screen_w & ~1 : 0;
    s.screen_height = screen_h > 0 ? screen_h & ~1 : 0;
    if (substream && s.screen_width > 0) {
        const long long w = sub_width & ~1;
        const long long h = (static_cast<long long>(s.screen_height) * w / s.screen_width) & ~1LL;
        if (w >= 1 && h >= 1) {
            s.sub_on = true;
            s.sub_width = static_cast<int>(w);
            s.sub_height = static_cast<int>(h);
        }
    }
    const int even_main = main_width & ~1;
    if (main_width > 0 && even_main < s.screen_width) {
        s.main_width = even_main;
        s.main_height = static_cast<int>(
            (static_cast<long long>(s.screen_height) * even_main / s.screen_width) & ~1LL);
    }
    return s;
}

std::vector<ConfigWarning> duplicate_port_warnings(int rtsp, int onvif, int web, bool web_on) {
    struct Row {
        const char* en;
        const char* ar;
        int port;
        bool on;
    };
    const Row rows[3] = {{"RTSP", "\u202ARTSP\u202C", rtsp, true},
                         {"ONVIF", "\u202AONVIF\u202C", onvif, true},
                         {"Web panel", "لوحة التحكّم", web, web_on}};
    const int pairs[3][2] = {{0, 1}, {0, 2}, {1, 2}};
    std::vector<ConfigWarning> out;
    for (const auto& p : pairs) {
        const Row& a = rows[p[0]];
        const Row& b = rows[p[1]];
        if (!a.on || !b.on || a.port != b.port) continue;
        const std::string port = std::to_string(a.port);
        ConfigWarning w;
        w.en = std::string("\u26A0 Duplicate ports in the config file: ") + a.en + " and " + b.en +
               " both set to " + port + " - one of them was moved automatically to a free port";
        w.ar = std::string("\u26A0 منافذ مكرّرة في ملف الإعدادات: ") + a.ar + " و " + b.ar +
               " مضبوطان على \u202A" + port + "\u202C — تم نقل أحدهما تلقائيًا إلى منفذ حرّ";
        out.push_back(w);
    }
    return out;
}

std::string banner_text(const StartupValues& v) {
    const EngineConfig& c = v.config;
    char buf[1024];
    std::string out = "=== zeb-engine ONVIF screen camera ===\n";
    out += v.address_log;  // override line, or the explanation of the choice
    auto add = [&](const char* fmt, auto... a) {
        std::snprintf(buf, sizeof buf, fmt, a...);
        out += buf;
    };
    const char* ip = v.address.c_str();
    add("  IP        : %s\n", ip);
    add("  ONVIF     : http://%s:%d/onvif/device_service\n", ip, v.onvif_port);
    add("  RTSP main : rtsp://%s:%d/%s\n", ip, v.rtsp_port, c.stream.c_str());
    if (!v.sub_stream.empty())
        add("  RTSP sub  : rtsp://%s:%d/%s  (%dx%d)\n", ip, v.rtsp_port, v.sub_stream.c_str(),
            v.sub_width, v.sub_height);
    else
        out += "  RTSP sub  : disabled (single stream)\n";
    if (c.web_admin) add("  Web Admin : http://%s:%d/\n", ip, v.web_port);
    const bool down = v.main_width > 0;
    add("  Video     : %dx%d @ %d fps, ~%d kbps%s\n", down ? v.main_width : v.screen_width,
        down ? v.main_height : v.screen_height, c.fps, c.bitrate,
        down ? " (downscaled)" : " (full screen)");
    add("  Auth      : %s (user=%s)\n",
        c.stream_auth ? "ON (RTSP Digest + ONVIF WS-Sec)" : "OFF (open)", c.admin_user.c_str());
    return out;
}
