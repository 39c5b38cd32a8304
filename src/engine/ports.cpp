// Port fallback, the port slots, ports.status and the port warnings.
#include "engine/ports.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <mutex>

#include "engine/clock.h"
#include "engine/engine_config.h"
#include "engine/log.h"
#include "engine/paths.h"

namespace {

ServerPortSlot g_slots[k_port_slot_count];

// Guards both tables: port -> holding program (another process), and
// port -> server of this process that listens there.
std::mutex g_owner_mutex;
std::map<int, std::string>& owners() {
    static std::map<int, std::string> m;
    return m;
}
std::map<int, std::string>& own_listeners() {
    static std::map<int, std::string> m;
    return m;
}

const char* const k_file_names[k_port_slot_count] = {"rtsp", "onvif", "web", "wsd"};
const char* const k_en_names[3] = {"RTSP", "ONVIF", "Web panel"};
const char* const k_ar_names[3] = {"\u202ARTSP\u202C", "\u202AONVIF\u202C", "لوحة التحكّم"};

std::string format900(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format900(const char* fmt, ...) {
    char buf[900];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

std::string owner_suffix(int port) {
    std::string o = port_owner(port);
    return o.empty() ? std::string() : " (" + o + ")";
}

std::string slot_warning(int i, bool arabic) {
    const ServerPortSlot& s = g_slots[i];
    const int req = s.requested.load();
    const int act = s.actual.load();
    const int state = s.state.load();
    const std::string name = arabic ? k_ar_names[i] : k_en_names[i];
    if (s.moved()) {
        const std::string own = own_listener(req);
        if (!own.empty()) {
            // Two servers of this camera were given one port: no other
            // program is to blame, and waiting will not free it.
            if (arabic)
                return format900(
                    "\u26A0 المنفذ \u202A%d\u202C (%s) مستخدم من خادم %s في هذه الكاميرا نفسها، "
                    "لذلك الخدمة تعمل حاليًا على \u202A%d\u202C. خصّص لكل خادم منفذًا خاصًا في "
                    "تبويب الشبكة.",
                    req, name.c_str(), ("\u202A" + own + "\u202C").c_str(), act);
            return format900(
                "\u26A0 Port %d (%s) is already used by this camera's %s server, so the service "
                "runs on %d for now. Give each server its own port in the Network tab.",
                req, name.c_str(), own.c_str(), act);
        }
        const std::string owner = owner_suffix(req);
        if (i == k_slot_rtsp && req == 554) {
            if (arabic)
                return format900(
                    "\u26A0 منفذ البث القياسي \u202A554\u202C مستخدم من برنامج آخر%s، لذلك البث "
                    "يعمل حاليًا على \u202A%d\u202C.\n"
                    "   بعض أجهزة التسجيل وتطبيقات الجوال تبحث عن \u202A554\u202C فقط ولن تجد "
                    "الكاميرا تلقائيًا.\n"
                    "   الحل: أضفها يدويًا بالعنوان \u202Artsp://<IP>:%d/\u202C أو حرّر المنفذ "
                    "\u202A554\u202C.",
                    owner.c_str(), act, act);
            return format900(
                "\u26A0 The standard streaming port 554 is used by another program%s, so the "
                "stream is on %d for now.\n"
                "   Some NVRs and mobile apps only look for 554 and will not find the camera "
                "automatically.\n"
                "   Fix: add it manually as rtsp://<IP>:%d/ , or free port 554.",
                owner.c_str(), act, act);
        }
        if (arabic)
            return format900(
                "\u26A0 المنفذ \u202A%d\u202C (%s) مستخدم من برنامج آخر%s، لذلك الخدمة تعمل حاليًا "
                "على \u202A%d\u202C. "
                "ستعود إلى \u202A%d\u202C تلقائيًا عندما يتحرّر المنفذ. إذا تكرّر ذلك، اختر منفذًا آخر "
                "في تبويب الشبكة.",
                req, name.c_str(), owner.c_str(), act, req);
        return format900(
            "\u26A0 Port %d (%s) is used by another program%s, so the service runs on %d for now. "
            "It goes back to %d by itself when the port is free. If this keeps happening, choose "
            "another port in the Network tab.",
            req, name.c_str(), owner.c_str(), act, req);
    }
    if (state == k_slot_state_down) {
        if (arabic)
            return format900(
                "\u26A0 خدمة %s متوقفة: كل المنافذ البديلة كانت مشغولة (المطلوب \u202A%d\u202C)",
                name.c_str(), req);
        return format900("\u26A0 %s service is DOWN: every fallback port was busy (requested %d)",
                         name.c_str(), req);
    }
    return "";
}

// Strict decimal field of ports.status.
bool parse_field(const std::string& s, int* out) {
    if (s.empty() || s.size() > 9 || !is_all_digits(s)) return false;
    *out = std::stoi(s);
    return true;
}

}  // namespace

bool ServerPortSlot::moved() const {
    const int req = requested.load();
    const int act = actual.load();
    return state.load() == k_slot_state_running && req != 0 && act != 0 && act != req;
}

ServerPortSlot& port_slot(int index) {
    return g_slots[std::clamp(index, 0, k_port_slot_count - 1)];
}

void reset_port_slots_for_tests() {
    for (auto& s : g_slots) {
        s.requested.store(0);
        s.actual.store(0);
        s.state.store(0);
    }
    std::lock_guard<std::mutex> lock(g_owner_mutex);
    owners().clear();
    own_listeners().clear();
}

std::vector<int> candidate_ports(int port) {
    std::vector<int> out;
    auto add = [&](long p) {
        if (p >= 1 && p <= 65535 && std::find(out.begin(), out.end(), p) == out.end())
            out.push_back(static_cast<int>(p));
    };
    add(port);
    if (port == 554) add(8554);
    add(static_cast<long>(port) + 10000);
    add(static_cast<long>(port) + 20000);
    add(static_cast<long>(port) + 30000);
    for (int i = 1; i <= 20; ++i) add(static_cast<long>(port) + i);
    return out;
}

socket_t bind_with_fallback(int port, int* actual_out, int first_attempts, uint32_t retry_ms,
                            const char* server_name) {
    if (actual_out) *actual_out = 0;
    const std::vector<int> candidates = candidate_ports(port);
    for (size_t c = 0; c < candidates.size(); ++c) {
        const int cand = candidates[c];
        // Our own earlier server holds it: it will not let go, so move on at once.
        const int attempts = !own_listener(cand).empty() ? 0
                             : c == 0                    ? std::max(1, first_attempts)
                                                         : 1;
        for (int a = 0; a < attempts; ++a) {
            socket_t s = tcp_listen(static_cast<uint16_t>(cand), 8, true);
            if (s != k_invalid_socket) {
                if (actual_out) *actual_out = cand;
                std::lock_guard<std::mutex> lock(g_owner_mutex);
                own_listeners()[cand] = server_name ? server_name : "another";
                return s;
            }
            if (a == 0 && c == 0 && attempts > 1 && server_name) {
                // Say at once why start-up pauses, instead of 15 silent seconds.
                const std::string owner = lookup_port_owner(cand);
                const std::string held = owner.empty() ? "" : ", held by " + owner;
                const uint32_t wait_ms = static_cast<uint32_t>(attempts - 1) * retry_ms;
                engine_log(
                    "net: port %d (%s) is busy%s - waiting up to %u s for it, then moving "
                    "to a fallback port\n",
                    cand, server_name, held.c_str(), (wait_ms + 500) / 1000);
            }
            if (a + 1 < attempts) sleep_ms(retry_ms);
        }
        if (c == 0 && attempts > 0) {
            std::string owner = lookup_port_owner(cand);
            if (!owner.empty()) set_port_owner(cand, owner);
        }
    }
    return k_invalid_socket;
}

socket_t bind_slot(int slot, int requested, int* port_out, int first_attempts, uint32_t retry_ms) {
    ServerPortSlot& s = port_slot(slot);
    s.requested.store(requested);
    int actual = 0;
    const char* name = k_en_names[std::clamp(slot, 0, 2)];
    socket_t sock = bind_with_fallback(requested, &actual, first_attempts, retry_ms, name);
    s.actual.store(actual);
    s.state.store(sock == k_invalid_socket ? k_slot_state_down : k_slot_state_running);
    if (port_out) *port_out = sock == k_invalid_socket ? requested : actual;
    return sock;
}

std::string own_listener(int port) {
    std::lock_guard<std::mutex> lock(g_owner_mutex);
    auto it = own_listeners().find(port);
    return it == own_listeners().end() ? std::string() : it->second;
}

void set_port_owner(int port, const std::string& owner) {
    std::lock_guard<std::mutex> lock(g_owner_mutex);
    owners()[port] = owner;
}

std::string port_owner(int port) {
    std::lock_guard<std::mutex> lock(g_owner_mutex);
    auto it = owners().find(port);
    return it == owners().end() ? std::string() : it->second;
}

std::string format_ports_status() {
    std::string out;
    for (int i = 0; i < k_port_slot_count; ++i) {
        char line[96];
        std::snprintf(line, sizeof line, "%s=%d,%d,%d\r\n", k_file_names[i],
                      g_slots[i].requested.load(), g_slots[i].actual.load(),
                      g_slots[i].state.load());
        out += line;
    }
    return out;
}

bool parse_ports_status(const std::string& text) {
    bool understood = false;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) nl = text.size();
        std::string line = text.substr(pos, nl - pos);
        pos = nl + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string name = line.substr(0, eq);
        const std::string rest = line.substr(eq + 1);
        size_t c1 = rest.find(',');
        size_t c2 = c1 == std::string::npos ? c1 : rest.find(',', c1 + 1);
        if (c2 == std::string::npos || rest.find(',', c2 + 1) != std::string::npos) continue;
        int v[3];
        if (!parse_field(rest.substr(0, c1), &v[0]) ||
            !parse_field(rest.substr(c1 + 1, c2 - c1 - 1), &v[1]) ||
            !parse_field(rest.substr(c2 + 1), &v[2]))
            continue;
        for (int i = 0; i < k_port_slot_count; ++i) {
            if (name != k_file_names[i]) continue;
            g_slots[i].requested.store(v[0]);
            g_slots[i].actual.store(v[1]);
            g_slots[i].state.store(v[2]);
            understood = true;
        }
    }
    return understood;
}

bool write_ports_status(const std::string& data_dir) {
    return write_file_whole(data_dir + "/ports.status", format_ports_status());
}

bool read_ports_status(const std::string& data_dir) {
    auto text = read_file(data_dir + "/ports.status", 1 << 16);
    return text && parse_ports_status(*text);
}

std::string port_warnings(bool arabic) {
    std::vector<std::string> lines;
    for (const ConfigWarning& w : config_warnings()) lines.push_back(arabic ? w.ar : w.en);
    for (int i = k_slot_rtsp; i <= k_slot_web; ++i) {
        std::string w = slot_warning(i, arabic);
        if (!w.empty()) lines.push_back(w);
    }
    if (g_slots[k_slot_wsd].state.load() == k_slot_state_down)
        lines.push_back(arabic ? "\u26A0 الاكتشاف التلقائي (\u202AWS-Discovery\u202C) متوقف: أضف "
                                 "الكاميرا يدويًا بعنوان \u202AIP\u202C والمنفذ (كل شيء آخر يعمل)"
                               : "\u26A0 Auto-discovery (WS-Discovery) is off: add the camera "
                                 "manually by IP and port (everything else works)");
    std::string out;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i) out += '\n';
        out += lines[i];
    }
    return out;
}
