// The systemd unit of the camera service.
#include "host/service.h"

namespace {

// systemd reads '%' as a specifier and '\' and '"' as escapes inside quotes.
std::string quoted_for_unit(const std::string& path) {
    std::string out = "\"";
    for (char c : path) {
        if (c == '%')
            out += "%%";
        else if (c == '\\' || c == '"')
            out += std::string("\\") + c;
        else
            out += c;
    }
    return out + "\"";
}

}  // namespace

std::string service_unit_text(const std::string& exe_path) {
    std::string t;
    t += "[Unit]\n";
    t +=
        std::string("Description=") + k_service_display_name + " - " + k_service_description + "\n";
    t += "After=systemd-logind.service display-manager.service\n";
    t += "\n[Service]\n";
    t += "Type=simple\n";
    t += "ExecStart=" + quoted_for_unit(exe_path) + " --service\n";
    t += "Restart=on-failure\n";
    t += "RestartSec=3\n";
    // Stopping the service ends only the sign-in-screen camera (the service
    // does that itself); a signed-in user's camera keeps running.
    t += "KillMode=process\n";
    t += "\n[Install]\n";
    t += "WantedBy=multi-user.target\n";
    return t;
}
