// The camera service on Linux: a systemd unit, logind sessions, the shared
// data directory with a default POSIX ACL.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/clock.h"
#include "engine/data_protect.h"
#include "engine/log.h"
#include "engine/paths.h"
#include "host/camera_launcher.h"
#include "host/relaunch.h"
#include "host/service.h"
#include "host/session_sources.h"

namespace {

// Tests install into a directory tree of their own; the shipped build has no
// such switch.
std::string system_root() {
#ifdef ZEB_TEST_HOOKS
    if (const char* r = std::getenv("ZEB_TEST_SYSTEM_ROOT")) return r;
#endif
    return "";
}

std::string unit_directory() {
    return system_root() + "/etc/systemd/system";
}
std::string unit_path() {
    return unit_directory() + "/" + k_service_unit;
}

// Runs systemctl with the words; true when it exited 0.
bool systemctl(std::vector<std::string> words) {
    words.insert(words.begin(), "systemctl");
    const std::string root = system_root();
    if (!root.empty()) words.insert(words.begin() + 1, "--root=" + root);
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        execvp("systemctl", argv.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The service manager can be reached: systemd runs, or a test gave its tree.
bool manager_available() {
    if (!system_root().empty() || sd_booted() > 0) return true;
    engine_log(
        "Service: systemd is not running on this machine - the service manager cannot "
        "be reached\n");
    return false;
}

// A default ACL of the three base entries, all rwx: new files and folders
// take their permissions from it (cut by the mode their creator asks for)
// instead of from the creator's umask.
bool set_inherited_rights(const std::string& dir) {
    struct Entry {
        uint16_t tag, perm;
        uint32_t id;
    };
    struct Acl {
        uint32_t version = 2;
        Entry e[3] = {{0x01, 7, 0xFFFFFFFFu}, {0x04, 7, 0xFFFFFFFFu}, {0x20, 7, 0xFFFFFFFFu}};
    } acl;
    static_assert(sizeof(Acl) == 4 + 3 * 8);
    return setxattr(dir.c_str(), "system.posix_acl_default", &acl, sizeof acl, 0) == 0;
}

// 1 for a stop signal, 2 when a child ended, 0 when the time ran out.
int wait_for_signal(int sfd, uint64_t ms) {
    pollfd p = {sfd, POLLIN, 0};
    int n = poll(&p, 1, static_cast<int>(ms));
    if (n > 0 && (p.revents & POLLIN)) {
        signalfd_siginfo si{};
        if (read(sfd, &si, sizeof si) == static_cast<ssize_t>(sizeof si))
            return si.ssi_signo == SIGCHLD ? 2 : 1;
    }
    return 0;
}

// A camera the service started that ends is replaced at the next pass, which
// comes early then, but never sooner than this after the last one: a camera
// that dies at once must not become a busy loop.
constexpr uint64_t k_min_pass_gap_ms = 1000;

}  // namespace

bool prepare_shared_data_directory(const std::string& dir) {
    if (!directory_exists(dir) && !make_directories(dir)) {
        engine_log("Service: cannot create %s (%s)\n", dir.c_str(), file_error_text().c_str());
        return false;
    }
    bool ok = true;
    if (chmod(dir.c_str(), 0777) != 0) {
        engine_log("Service: cannot open %s to local users (%s)\n", dir.c_str(),
                   std::strerror(errno));
        ok = false;
    }
    if (!set_inherited_rights(dir)) {
        engine_log(
            "Service: %s takes no inherited rights (%s) - new files follow each "
            "process's umask\n",
            dir.c_str(), std::strerror(errno));
        ok = false;
    }
    // The machine key protects the stored password for every camera on this
    // machine, whichever user it runs as: make it now and let all read it.
    protect_data("", dir);
    chmod((dir + "/machine.key").c_str(), 0644);
    // The lock file must be lockable by every user's camera.
    const std::string lock = dir + "/instance.lock";
    if (file_exists(lock)) chmod(lock.c_str(), 0666);
    return ok;
}

bool service_installed() {
    const std::string root = system_root();
    for (const char* d :
         {"/etc/systemd/system/", "/lib/systemd/system/", "/usr/lib/systemd/system/"})
        if (file_exists(root + d + k_service_unit)) return true;
    return false;
}

int install_service() {
    if (!manager_available()) return 1;
    const std::string exe = program_path();
    const std::string path = unit_path();
    const bool existed = file_exists(path);
    if (exe.empty() || !make_directories(unit_directory()) ||
        !write_file_whole(path, service_unit_text(exe))) {
        engine_log("Service: cannot write %s (%s)\n", path.c_str(), file_error_text().c_str());
        return 1;
    }
    prepare_shared_data_directory(data_directory());
    const bool offline = !system_root().empty();
    if (!offline && !systemctl({"daemon-reload"})) return 1;
    if (!systemctl({"enable", k_service_unit})) return 1;
    engine_log("Service: %s %s\n", existed ? "updated" : "installed", path.c_str());
    // A start failure is not the installation's: the unit stays enabled and
    // systemd tries again at the next boot.
    if (!offline && !systemctl({"restart", k_service_unit}))
        engine_log("Service: %s did not start\n", k_service_unit);
    return 0;
}

int uninstall_service() {
    if (!manager_available()) return 1;
    const bool offline = !system_root().empty();
    if (!offline) systemctl({"stop", k_service_unit});
    const std::string path = unit_path();
    if (file_exists(path)) {
        systemctl({"disable", k_service_unit});
        if (!remove_file(path)) {
            engine_log("Service: cannot remove %s (%s)\n", path.c_str(), file_error_text().c_str());
            return 1;
        }
    }
    if (!offline) systemctl({"daemon-reload"});
    engine_log("Service: removed %s\n", path.c_str());
    return 0;
}

int run_service(const std::vector<std::string>& args) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::string session_file;
#ifdef ZEB_TEST_HOOKS
    for (size_t i = 1; i + 1 < args.size(); ++i)
        if (args[i] == "--session-file") session_file = args[i + 1];
#else
    (void)args;
#endif
    if (session_file.empty() && sd_booted() <= 0) {
        engine_log("Service: systemd-logind is not running - no sessions to watch\n");
        return 1;
    }
    if (geteuid() != 0) {
        // Cameras run as each session's user: only root can start them so.
        engine_log("Service: must run as root\n");
        return 1;
    }
    prepare_shared_data_directory(data_directory());

    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGCHLD);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    const int sfd = signalfd(-1, &set, SFD_CLOEXEC);
    if (sfd < 0) {
        engine_log("Service: cannot watch for the stop signal (%s)\n", std::strerror(errno));
        return 1;
    }
    auto source = session_file.empty() ? make_logind_session_source()
                                       : make_file_session_source(session_file);
    auto launcher = make_process_launcher(!session_file.empty());
    engine_log("Service: %s running, watching the sessions every %u ms\n", k_service_name,
               k_watch_interval_ms);
    WatchState st;
    uint64_t last_pass = 0;
    bool child_ended = true;
    for (;;) {
        const uint64_t now = tick_ms();
        const uint64_t due = last_pass + (child_ended ? k_min_pass_gap_ms : k_watch_interval_ms);
        if (last_pass == 0 || now >= due) {
            watch_pass(st, *source, *launcher);
            last_pass = tick_ms();
            child_ended = false;
            continue;
        }
        const int w = wait_for_signal(sfd, due - now);
        if (w == 1) break;
        if (w == 2) child_ended = true;
    }
    watch_stop(st, *launcher);
    engine_log("Service: stopped\n");
    close(sfd);
    return 0;
}

bool request_engine_restart(const std::string& data_dir) {
    const bool written = write_file_whole(data_dir + "/restart.req", "1");
    if (written && service_installed()) return true;
    return relaunch_engine(false);
}
