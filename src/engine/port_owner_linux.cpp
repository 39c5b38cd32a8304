// Holder of a listening TCP port, found through /proc: the listener's socket
// inode in /proc/net/tcp{,6}, the process whose fd links to that inode, and
// its /proc/PID/comm name.
#include <dirent.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/paths.h"
#include "engine/ports.h"

namespace {

// Inodes of sockets listening on port (state 0A) in one /proc/net table.
void listener_inodes(const char* table, int port, std::vector<unsigned long>* out) {
    auto text = read_file(table, 64u << 20);
    if (!text) return;
    size_t pos = text->find('\n');  // header line
    while (pos != std::string::npos && pos + 1 < text->size()) {
        size_t nl = text->find('\n', pos + 1);
        std::string line =
            text->substr(pos + 1, nl == std::string::npos ? std::string::npos : nl - pos - 1);
        pos = nl;
        char local[128] = {}, remote[128] = {};
        unsigned st = 0;
        unsigned long inode = 0;
        // sl local rem st tx:rx tr:when retrnsmt uid timeout inode
        if (std::sscanf(line.c_str(), "%*s %127s %127s %x %*s %*s %*s %*s %*s %lu", local, remote,
                        &st, &inode) != 4)
            continue;
        const char* colon = std::strrchr(local, ':');
        if (!colon || st != 0x0A) continue;
        unsigned long p = std::strtoul(colon + 1, nullptr, 16);
        if (static_cast<int>(p) == port && inode != 0) out->push_back(inode);
    }
}

std::string comm_of(const std::string& pid) {
    auto text = read_file("/proc/" + pid + "/comm", 4096);
    if (!text) return "";
    std::string name = *text;
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
    return name;
}

}  // namespace

std::string lookup_port_owner(int port) {
    std::vector<unsigned long> inodes;
    listener_inodes("/proc/net/tcp", port, &inodes);
    listener_inodes("/proc/net/tcp6", port, &inodes);
    if (inodes.empty()) return "";
    std::vector<std::string> targets;
    for (unsigned long i : inodes) targets.push_back("socket:[" + std::to_string(i) + "]");

    DIR* proc = opendir("/proc");
    if (!proc) return "";
    std::string found_pid;
    while (dirent* e = readdir(proc)) {
        if (!std::isdigit(static_cast<unsigned char>(e->d_name[0]))) continue;
        const std::string pid = e->d_name;
        const std::string fd_dir = "/proc/" + pid + "/fd";
        DIR* fds = opendir(fd_dir.c_str());
        if (!fds) continue;
        while (dirent* f = readdir(fds)) {
            if (f->d_name[0] == '.') continue;
            char link[PATH_MAX];
            ssize_t n = readlink((fd_dir + "/" + f->d_name).c_str(), link, sizeof link - 1);
            if (n <= 0) continue;
            link[n] = '\0';
            for (const auto& t : targets)
                if (t == link) found_pid = pid;
            if (!found_pid.empty()) break;
        }
        closedir(fds);
        if (!found_pid.empty()) break;
    }
    closedir(proc);
    if (found_pid.empty()) return "";
    std::string name = comm_of(found_pid);
    return name.empty() ? "PID " + found_pid : name;
}
