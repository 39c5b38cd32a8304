// Dispatch of the service options to the host's service routines.
#include "app/service_entry.h"

#include "host/service.h"

bool service_entry(const std::vector<std::string>& args, int* code) {
    auto has = [&](const char* w) {
        for (size_t i = 1; i < args.size(); ++i)
            if (args[i] == w) return true;
        return false;
    };
    if (has("--service"))
        *code = run_service(args);
    else if (has("--install-service"))
        *code = install_service();
    else if (has("--uninstall-service"))
        *code = uninstall_service();
    else
        return false;
    return true;
}
