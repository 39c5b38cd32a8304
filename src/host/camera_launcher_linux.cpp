// Camera processes on Linux: /proc for the list, fork + execve for the start,
// SIGTERM then SIGKILL for the end.
#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <systemd/sd-login.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/clock.h"
#include "engine/log.h"
#include "engine/paths.h"
#include "host/camera_launcher.h"

namespace {

std::vector<std::string> nul_list(const std::string& path) {
    std::vector<std::string> out;
    auto text = read_file(path, 1 << 20);
    if (!text) return out;
    for (size_t at = 0; at < text->size();) {
        size_t end = text->find('\0', at);
        if (end == std::string::npos) end = text->size();
        out.push_back(text->substr(at, end - at));
        at = end + 1;
    }
    return out;
}

std::string value_of(const std::vector<std::string>& env, const std::string& name) {
    const std::string key = name + "=";
    for (const std::string& e : env)
        if (e.compare(0, key.size(), key) == 0) return e.substr(key.size());
    return "";
}

std::string comm_of(const std::string& pid) {
    auto t = read_file("/proc/" + pid + "/comm", 256);
    if (!t) return "";
    while (!t->empty() && t->back() == '\n') t->pop_back();
    return *t;
}

// Running and not a zombie waiting for its parent.
bool alive(long pid) {
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) return false;
    auto stat = read_file("/proc/" + std::to_string(pid) + "/stat", 4096);
    if (!stat) return false;
    const size_t paren = stat->rfind(')');
    return paren == std::string::npos || paren + 2 >= stat->size() || (*stat)[paren + 2] != 'Z';
}

class ProcessLauncher : public CameraLauncher {
  public:
    explicit ProcessLauncher(bool session_from_env) : session_from_env_(session_from_env) {
        own_name_ = comm_of("self");
        const char* pd = std::getenv("ProgramData");
        own_data_ = pd ? pd : "";
        own_data_set_ = pd != nullptr;
    }

    std::vector<CameraProcess> cameras() override {
        reap();
        std::vector<CameraProcess> out;
        DIR* d = opendir("/proc");
        if (!d) return out;
        const long self = getpid();
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
            const long pid = std::atol(e->d_name);
            if (pid == self || comm_of(e->d_name) != own_name_ || !alive(pid)) continue;
            const std::string dir = std::string("/proc/") + e->d_name;
            bool service_mode = false;
            for (const std::string& w : nul_list(dir + "/cmdline"))
                service_mode |=
                    w == "--service" || w == "--install-service" || w == "--uninstall-service";
            if (service_mode) continue;
            // Only cameras that share our data directory share our instance
            // lock: a camera of another installation is none of our business.
            const std::vector<std::string> env = nul_list(dir + "/environ");
            bool has_pd = false;
            for (const std::string& v : env) has_pd |= v.compare(0, 12, "ProgramData=") == 0;
            if (has_pd != own_data_set_ || value_of(env, "ProgramData") != own_data_) continue;
            CameraProcess c;
            c.pid = pid;
            char* sid = nullptr;
            if (!session_from_env_ && sd_pid_get_session(static_cast<pid_t>(pid), &sid) >= 0)
                c.session = sid;
            std::free(sid);
            if (c.session.empty()) c.session = value_of(env, "XDG_SESSION_ID");
            out.push_back(c);
        }
        closedir(d);
        return out;
    }

    bool end_camera(long pid, unsigned wait_ms) override {
        kill(static_cast<pid_t>(pid), SIGTERM);
        const uint64_t until = tick_ms() + wait_ms;
        while (tick_ms() < until) {
            reap();
            if (!alive(pid)) return true;
            sleep_ms(50);
        }
        kill(static_cast<pid_t>(pid), SIGKILL);
        for (int i = 0; i < 40; ++i) {
            reap();
            if (!alive(pid)) break;
            sleep_ms(50);
        }
        return false;
    }

    long start_user_camera(const SessionInfo& s, bool handover) override {
        std::vector<std::string> words = {program_path(), "--background"};
        if (handover) words.push_back("--handover");
        return start(s, s.uid, words);
    }

    long start_logon_camera(const SessionInfo& s) override {
        return start(s, 0, {program_path(), "--background", "--logon-screen", "--handover"});
    }

    bool child_running(long pid) override {
        reap();
        return alive(pid);
    }

  private:
    void reap() {
        while (waitpid(-1, nullptr, WNOHANG) > 0) {
        }
    }

    long start(const SessionInfo& s, unsigned uid, std::vector<std::string> words) {
        passwd pw{}, *found = nullptr;
        std::vector<char> buf(16384);
        if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) != 0 || !found) {
            engine_log("Service: no account for uid %u - no camera in session %s\n", uid,
                       s.id.c_str());
            return -1;
        }
        std::vector<std::string> env = {
            std::string("HOME=") + pw.pw_dir,
            std::string("USER=") + pw.pw_name,
            std::string("LOGNAME=") + pw.pw_name,
            std::string("SHELL=") + pw.pw_shell,
            "PATH=/usr/local/bin:/usr/bin:/bin",
            "DISPLAY=" + s.display,
            "XDG_SESSION_ID=" + s.id,
        };
        std::string xauthority = s.xauthority;
        if (xauthority.empty() && uid != 0 && file_exists(std::string(pw.pw_dir) + "/.Xauthority"))
            xauthority = std::string(pw.pw_dir) + "/.Xauthority";
        if (!xauthority.empty()) env.push_back("XAUTHORITY=" + xauthority);
        if (!s.runtime_dir.empty()) env.push_back("XDG_RUNTIME_DIR=" + s.runtime_dir);
        if (own_data_set_) env.push_back("ProgramData=" + own_data_);
        if (const char* lang = std::getenv("LANG")) env.push_back(std::string("LANG=") + lang);
        std::vector<char*> argv, envp;
        for (auto& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        const std::string dir = program_directory();
        const gid_t gid = pw.pw_gid;
        const std::string name = pw.pw_name;

        const pid_t pid = fork();
        if (pid < 0) {
            engine_log("Service: cannot start a camera (%s)\n", std::strerror(errno));
            return -1;
        }
        if (pid == 0) {
            setsid();
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            if (chdir(dir.c_str()) != 0) {
            }
            // Never run a user's camera with the service's rights.
            if (initgroups(name.c_str(), gid) != 0 || setgid(gid) != 0 || setuid(uid) != 0)
                _exit(126);
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        return pid;
    }

    bool session_from_env_;
    std::string own_name_;
    std::string own_data_;
    bool own_data_set_ = false;
};

}  // namespace

std::unique_ptr<CameraLauncher> make_process_launcher(bool session_from_environment) {
    return std::make_unique<ProcessLauncher>(session_from_environment);
}
