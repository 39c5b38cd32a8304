// Relaunch with fork + execv of /proc/self/exe.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "engine/paths.h"
#include "host/relaunch.h"

bool relaunch_engine(bool background) {
    const std::string exe = program_path();
    if (exe.empty()) return false;
    std::vector<std::string> words = {exe, "--relaunch"};
    if (background) words.push_back("--background");
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    // Double fork: the new engine is not our child, so no zombie is left when
    // it outlives us, and it does not end with us.
    pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        setsid();
        pid_t grandchild = fork();
        if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);  // the stop signals are blocked here
        execv("/proc/self/exe", argv.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
