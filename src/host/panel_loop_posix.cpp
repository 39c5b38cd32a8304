// Control-panel loop: signalfd for the stop signals, panel.sock for requests.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/log.h"
#include "host/panel_loop.h"

namespace {

sigset_t stop_set() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

int open_panel_socket(const std::string& data_dir) {
    const std::string path = data_dir + "/panel.sock";
    sockaddr_un sa{};
    if (path.size() >= sizeof sa.sun_path) return -1;
    sa.sun_family = AF_UNIX;
    std::memcpy(sa.sun_path, path.c_str(), path.size() + 1);
    int s = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (s < 0) return -1;
    unlink(path.c_str());  // left over from an earlier run; we hold the instance lock
    if (bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        engine_log("Panel: cannot listen on %s (%s)\n", path.c_str(), std::strerror(errno));
        close(s);
        return -1;
    }
    // The data directory is shared by every local user: only our own user may
    // ask this instance for its panel. Another user's start must find no
    // listener, so that it becomes a panel-only instance in its own session.
    chmod(path.c_str(), 0600);
    return s;
}

}  // namespace

void block_stop_signals() {
    sigset_t set = stop_set();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int open_stop_signal_fd() {
    sigset_t set = stop_set();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    return signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
}

bool read_stop_signal(int fd) {
    signalfd_siginfo si{};
    return read(fd, &si, sizeof si) == static_cast<ssize_t>(sizeof si);
}

int open_panel_request_socket(const std::string& data_dir) { return open_panel_socket(data_dir); }

int drain_panel_requests(int fd) {
    char buf[256];
    int n = 0;
    while (recv(fd, buf, sizeof buf, 0) > 0) ++n;
    return n;
}

void close_panel_request_socket(int fd, const std::string& data_dir) {
    if (fd < 0) return;
    close(fd);
    unlink((data_dir + "/panel.sock").c_str());
}

void close_descriptor(int fd) {
    if (fd >= 0) close(fd);
}

int run_control_panel_loop(const PanelLoopArgs& args) {
    sigset_t set = stop_set();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    int sfd = signalfd(-1, &set, SFD_CLOEXEC);
    int panel = args.listen_for_show && !args.panel_only ? open_panel_socket(args.data_dir) : -1;
    for (;;) {
        pollfd fds[2] = {{sfd, POLLIN, 0}, {panel, POLLIN, 0}};
        int n = poll(fds, 2, sfd < 0 ? 1000 : -1);
        if (n < 0 && errno != EINTR) break;
        if (sfd >= 0 && (fds[0].revents & POLLIN)) {
            signalfd_siginfo si{};
            if (read(sfd, &si, sizeof si) == static_cast<ssize_t>(sizeof si)) break;
        }
        if (panel >= 0 && (fds[1].revents & POLLIN)) {
            char buf[256];
            while (recv(panel, buf, sizeof buf, 0) > 0) {
                engine_log(
                    "Panel: show-panel request received (the desktop panel is not in this "
                    "build)\n");
            }
        }
    }
    if (panel >= 0) {
        close(panel);
        unlink((args.data_dir + "/panel.sock").c_str());
    }
    if (sfd >= 0) close(sfd);
    return 0;
}
