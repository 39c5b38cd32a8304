// The platform-independent pieces of the paths facility.
#include "engine/paths_shared.h"

#include <set>

#include "engine/log.h"

std::mutex& write_mutex() {
    static std::mutex m;
    return m;
}

void note_refused_link(const std::string& path) {
    static std::mutex m;
    static std::set<std::string> said;
    {
        std::lock_guard<std::mutex> lock(m);
        if (said.size() >= 64 || !said.insert(path).second) return;
    }
    engine_log(
        "CFG: %s is a symbolic link - not followed (the camera reads and replaces only "
        "regular files here)\n",
        path.c_str());
}
