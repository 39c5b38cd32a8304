// The camera service: install and remove its systemd unit, the service entry
// (the session watch loop until SIGTERM), and the data directory that the
// service and every local user share.
#pragma once

#include <string>
#include <vector>

constexpr const char* k_service_name = "Vistrel";
constexpr const char* k_service_unit = "vistrel.service";
constexpr const char* k_service_display_name = "Vistrel Camera Service";
constexpr const char* k_service_description =
    "Runs the Vistrel screen camera in the active user session, and on the sign-in screen when "
    "nobody is signed in.";

// The unit text for the executable at exe_path (quoted, with systemd's
// specifier and escape characters escaped).
std::string service_unit_text(const std::string& exe_path);

// Each returns the process exit code: 0 on success, 1 on failure.
int install_service();
int uninstall_service();
// args: the whole command line (args[0] = program).
int run_service(const std::vector<std::string>& args);

// True when the unit is installed on this machine.
bool service_installed();

// Creates the data directory when missing and opens it to every local user:
// read, write and delete for all, inherited by new files (a default POSIX ACL;
// the directory's own mode is 0777 without the sticky bit, so a user may
// replace a file another user wrote). Returns false when the rights could not
// be set in full; the reason is logged.
bool prepare_shared_data_directory(const std::string& dir);

// The desktop panel's "Apply & restart" in panel-only mode: writes restart.req
// (content "1") for the engine in the other session when the service is
// installed, else starts a relaunched engine. False when neither worked.
bool request_engine_restart(const std::string& data_dir);
