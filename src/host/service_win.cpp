// The Windows service is not part of this build yet: the service options say
// so and fail, and a panel-only instance restarts the engine by relaunching.
#include <cstdio>
#include <string>
#include <vector>

#include "engine/paths.h"
#include "host/relaunch.h"
#include "host/service.h"

namespace {

int not_available(const char* option) {
    std::fprintf(stderr, "%s: the camera service is not available in this build of zeb_onvif.exe\n",
                 option);
    std::fflush(stderr);
    return 1;
}

}  // namespace

int install_service() {
    return not_available("--install-service");
}

int uninstall_service() {
    return not_available("--uninstall-service");
}

int run_service(const std::vector<std::string>&) {
    return not_available("--service");
}

bool service_installed() {
    return false;
}

bool prepare_shared_data_directory(const std::string& dir) {
    return directory_exists(dir) || make_directories(dir);
}

bool request_engine_restart(const std::string&) {
    // No service to pick up restart.req: start a relaunched engine.
    return relaunch_engine(false);
}
