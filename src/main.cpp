// zeb_onvif: the screen camera. Start-up lives in engine/startup.cpp; the
// server threads are started from server_threads.cpp.
#include <cstdio>
#include <cstdlib>

#include "engine/startup.h"
#include "server_threads.h"

int main(int argc, char** argv) {
    const int code = run_engine(argc, argv, start_subsystems);
    std::fflush(stdout);
    // Server threads are detached and still running: end without running
    // static destructors under their feet.
    std::_Exit(code);
}
