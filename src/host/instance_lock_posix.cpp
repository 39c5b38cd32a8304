// Single instance with flock, show-panel request over a Unix datagram socket.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/clock.h"
#include "engine/log.h"
#include "host/instance_lock.h"

namespace {

int g_lock_fd = -1;  // kept open for the life of the process

// 1 locked, 0 held by another process, -1 the lock file cannot be opened.
int try_lock(const std::string& path) {
    if (g_lock_fd < 0) {
        // Every local user's camera locks the same file, whoever made it; a
        // lock needs only a descriptor, so read access is enough.
        g_lock_fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (g_lock_fd < 0 && errno == EACCES) g_lock_fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (g_lock_fd < 0) return -1;
    }
    if (flock(g_lock_fd, LOCK_EX | LOCK_NB) == 0) return 1;
    if (errno == EWOULDBLOCK) return 0;
    return -1;
}

}  // namespace

bool send_show_panel(const std::string& data_dir) {
    const std::string path = data_dir + "/panel.sock";
    sockaddr_un sa{};
    if (path.size() >= sizeof sa.sun_path) return false;
    sa.sun_family = AF_UNIX;
    std::memcpy(sa.sun_path, path.c_str(), path.size() + 1);
    int s = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) return false;
    static const char msg[] = "ZEB_ShowAdmin_Orvanta";
    bool ok = sendto(s, msg, sizeof msg - 1, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&sa),
                     sizeof sa) == static_cast<ssize_t>(sizeof msg - 1);
    close(s);
    return ok;
}

InstanceOutcome acquire_instance(const std::string& data_dir, const InstanceOptions& opt) {
    const std::string path = data_dir + "/instance.lock";
    int r = try_lock(path);
    if (r == 1) return InstanceOutcome::engine;
    if (r < 0) {
        // Without a lock file (read-only data directory) the camera still runs:
        // refusing to start would leave the user with no camera at all.
        engine_log("Instance: cannot create %s (%s) - running without the single-instance lock\n",
                   path.c_str(), std::strerror(errno));
        return InstanceOutcome::engine;
    }
    if (opt.relaunch) {
        for (int i = 0; i < opt.relaunch_tries; ++i) {
            sleep_ms(opt.relaunch_wait_ms);
            if (try_lock(path) == 1) return InstanceOutcome::engine;
        }
        return InstanceOutcome::engine;
    }
    if (opt.background) return InstanceOutcome::exit_quietly;
    for (int i = 0; i <= opt.show_tries; ++i) {
        if (send_show_panel(data_dir)) return InstanceOutcome::exit_quietly;
        if (i < opt.show_tries) sleep_ms(opt.show_wait_ms);
    }
    engine_log("Panel-only mode: the camera runs in another session on this PC\n");
    return InstanceOutcome::panel_only;
}
