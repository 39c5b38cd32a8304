// machine_identifier on Linux: the systemd/D-Bus machine id, which stays the
// same across runs and reboots; the host name when neither file exists. Also
// the platform part of the firmware version.
#include <unistd.h>

#include <fstream>

#include "onvif/onvif_context.h"

std::string machine_identifier() {
    for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        std::ifstream f(path);
        std::string id;
        if (f && std::getline(f, id) && !id.empty()) return "machine-id:" + id;
    }
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0 && host[0]) return std::string("host:") + host;
    return "vistrel-screen-camera";
}

std::string platform_firmware_version() {
    return "2.0.5-Linux";
}
