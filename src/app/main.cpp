// zeb_onvif: the screen camera. Start-up lives in engine/startup.cpp; the
// server threads are started from server_threads.cpp.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/startup.h"
#include "app/server_threads.h"
#include "video/paused_picture.h"

// --dump-screens DIR: the paused picture at four sizes as PNGs. The service
// options are scanned first, so they win when both are given.
static bool dump_screens_mode(int argc, char** argv, int* code) {
    for (int i = 1; i < argc; ++i) {
        std::string w = argv[i];
        if (w == "--service" || w == "--install-service" || w == "--uninstall-service")
            return false;
    }
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) != "--dump-screens") continue;
        bool ok = dump_screens(argv[i + 1]);
        if (!ok)
            std::fprintf(stderr, "--dump-screens: could not write the pictures into %s\n",
                         argv[i + 1]);
        *code = ok ? 0 : 1;
        return true;
    }
    return false;
}

int main(int argc, char** argv) {
    int dump_code = 0;
    if (dump_screens_mode(argc, argv, &dump_code)) {
        std::fflush(stdout);
        std::_Exit(dump_code);
    }
    const int code = run_engine(argc, argv, start_subsystems);
    std::fflush(stdout);
    // Server threads are detached and still running: end without running
    // static destructors under their feet.
    std::_Exit(code);
}
