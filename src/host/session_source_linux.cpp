// Session list from systemd-logind (sd-login).
#include <dirent.h>
#include <systemd/sd-login.h>

#include <cstdlib>
#include <cstring>

#include "engine/paths.h"
#include "host/session_sources.h"

namespace {

std::string take(char* s) {
    std::string r = s ? s : "";
    std::free(s);
    return r;
}

// One variable of a process's environment; empty when absent or unreadable.
std::string environ_value(const std::string& pid, const std::string& name) {
    auto env = read_file("/proc/" + pid + "/environ", 1 << 20);
    if (!env) return "";
    const std::string key = name + "=";
    for (size_t at = 0; at < env->size();) {
        size_t end = env->find('\0', at);
        if (end == std::string::npos) end = env->size();
        if (env->compare(at, key.size(), key) == 0)
            return env->substr(at + key.size(), end - at - key.size());
        at = end + 1;
    }
    return "";
}

// logind does not know the X authority file: take it from a process of the
// session that talks to the same display (the greeter, the desktop shell).
std::string session_xauthority(const std::string& session, const std::string& display) {
    DIR* d = opendir("/proc");
    if (!d) return "";
    std::string found;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
        char* sid = nullptr;
        if (sd_pid_get_session(std::atoi(e->d_name), &sid) < 0) continue;
        if (take(sid) != session) continue;
        if (environ_value(e->d_name, "DISPLAY") != display) continue;
        found = environ_value(e->d_name, "XAUTHORITY");
        if (!found.empty()) break;
    }
    closedir(d);
    return found;
}

class LogindSessionSource : public SessionSource {
  public:
    SessionSnapshot read() override {
        SessionSnapshot snap;
        char* active = nullptr;
        if (sd_seat_get_active("seat0", &active, nullptr) >= 0) snap.console = take(active);
        char** ids = nullptr;
        const int n = sd_get_sessions(&ids);
        for (int i = 0; i < n; ++i) {
            SessionInfo s;
            s.id = ids[i];
            s.active = sd_session_is_active(ids[i]) > 0;
            char* v = nullptr;
            if (sd_session_get_class(ids[i], &v) >= 0) s.session_class = take(v);
            v = nullptr;
            if (sd_session_get_type(ids[i], &v) >= 0) s.type = take(v);
            v = nullptr;
            if (sd_session_get_display(ids[i], &v) >= 0) s.display = take(v);
            uid_t uid = 0;
            if (sd_session_get_uid(ids[i], &uid) >= 0) s.uid = uid;
            s.runtime_dir = "/run/user/" + std::to_string(s.uid);
            if (!s.display.empty() && (s.active || s.id == snap.console))
                s.xauthority = session_xauthority(s.id, s.display);
            snap.sessions.push_back(s);
            std::free(ids[i]);
        }
        std::free(ids);
        return snap;
    }
};

}  // namespace

std::unique_ptr<SessionSource> make_logind_session_source() {
    return std::make_unique<LogindSessionSource>();
}
