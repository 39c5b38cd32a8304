// Pure pieces of start-up: positional ports, stream sizes, duplicate-port
// warnings, the banner text and the command-line help.
#include <cstdio>

#include "app/startup.h"
#include "engine/paths.h"

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
    if (v.screen_width <= 0 || v.screen_height <= 0) {
        add("  Video     : no screen @ %d fps, ~%d kbps\n", c.fps, c.bitrate);
        add("  Auth      : %s (user=%s)\n",
            c.stream_auth ? "ON (RTSP Digest + ONVIF WS-Sec)" : "OFF (open)", c.admin_user.c_str());
        return out;
    }
    add("  Video     : %dx%d @ %d fps, ~%d kbps%s\n", down ? v.main_width : v.screen_width,
        down ? v.main_height : v.screen_height, c.fps, c.bitrate,
        down ? " (downscaled)" : " (full screen)");
    add("  Auth      : %s (user=%s)\n",
        c.stream_auth ? "ON (RTSP Digest + ONVIF WS-Sec)" : "OFF (open)", c.admin_user.c_str());
    return out;
}

namespace {

struct OptionHelp {
    const char* word;
    int arguments;  // 0 none, 1 one, 2 one that may be missing
    const char* help;
};

const OptionHelp k_options[] = {
    {"--background", 0, "start without opening the control panel"},
    {"--logon-screen", 0, "stream the sign-in screen, with no user interface"},
    {"--relaunch", 0, "wait for the camera that is ending, then take over"},
    {"--handover", 0, "as --relaunch, for the cameras the service starts"},
    {"--check-pass PASSWORD", 1, "exit 0 when PASSWORD is the administrator password, else 1"},
    {"--import-settings FILE", 1, "copy the importable keys of FILE into zeb.cfg"},
    {"--dump-screens DIR", 1, "write the \"Stream paused\" picture at four sizes as PNG"},
    {"--recovery-code", 0, "print a one-time code (24 h) that resets the web panel's login"},
    {"--dump-welcome DIR", 1, "write the welcome window as PNG"},
    {"--welcome", 0, "show only the welcome window"},
    {"--lang ar|en", 1, "language of the welcome window"},
    {"--selftest-strings [FILE]", 2, "run the interface string self-test"},
    {"--service", 0, "run as the system service"},
    {"--install-service", 0, "install the system service"},
    {"--uninstall-service", 0, "remove the system service"},
    {"--help, -h", 0, "print this help and exit"},
    {"--version", 0, "print the program's name and version and exit"},
};

// The option word itself, without its argument or alias.
std::string option_word(const OptionHelp& o) {
    const std::string s = o.word;
    return s.substr(0, s.find_first_of(" ,"));
}

}  // namespace

CommandLineScan scan_command_line(const std::vector<std::string>& args) {
    CommandLineScan r;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& w = args[i];
        const OptionHelp* known = nullptr;
        for (const OptionHelp& o : k_options)
            if (w == option_word(o)) known = &o;
        if (known) {
            r.help |= w == "--help";
            r.version |= w == "--version";
            // Skip the option's argument (an optional one only when it is no option).
            if (known->arguments == 1 ||
                (known->arguments == 2 && i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0))
                ++i;
        } else if (w == "-h") {
            r.help = true;
        } else if (w.size() > 2 && w.rfind("--", 0) == 0) {
            r.unknown.push_back(w);
        }
    }
    return r;
}

std::string help_text() {
    std::string out =
        "Usage: zeb_onvif [RTSP-PORT [ONVIF-PORT]] [OPTION...]\n"
        "Makes this computer's screen a network camera (RTSP, ONVIF). Settings: zeb.cfg in the\n"
        "data directory (" +
        data_directory_rule() +
        ").\n"
        "  RTSP-PORT ONVIF-PORT       ports to use when zeb.cfg sets none (default 8554 8000)\n";
    char line[256];
    for (const OptionHelp& o : k_options) {
        std::snprintf(line, sizeof line, "  %-26s %s\n", o.word, o.help);
        out += line;
    }
    return out;
}

std::string version_text() {
    std::string v = k_version_text;
    return "zeb_onvif (Vistrel screen camera) " + v.substr(0, v.find(' ')) + "\n";
}
