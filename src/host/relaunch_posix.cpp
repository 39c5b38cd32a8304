// Relaunch with fork + execv of /proc/self/exe.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "engine/paths.h"
#include "host/relaunch.h"

namespace {

std::vector<std::string> relaunch_words(bool background) {
    std::vector<std::string> words = {program_path(), "--relaunch"};
    if (background) words.push_back("--background");
    return words;
}

std::vector<char*> argv_of(std::vector<std::string>& words) {
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    return argv;
}

}  // namespace

void relaunch_in_place(bool background) {
    std::vector<std::string> words = relaunch_words(background);
    if (words[0].empty()) return;
    std::vector<char*> argv = argv_of(words);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execv("/proc/self/exe", argv.data());
}

bool relaunch_engine(bool background, const std::string& working_dir) {
    std::vector<std::string> words = relaunch_words(background);
    if (words[0].empty()) return false;
    std::vector<char*> argv = argv_of(words);
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
        // A working directory that is gone is no reason not to start.
        if (!working_dir.empty() && chdir(working_dir.c_str()) != 0) {
        }
        execv("/proc/self/exe", argv.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool process_started_with(const std::string& word) {
    auto text = read_file("/proc/self/cmdline", 1 << 20);
    if (!text) return false;
    size_t start = 0;
    bool first = true;
    while (start < text->size()) {
        size_t end = text->find('\0', start);
        if (end == std::string::npos) end = text->size();
        if (!first && text->compare(start, end - start, word) == 0) return true;
        first = false;
        start = end + 1;
    }
    return false;
}
