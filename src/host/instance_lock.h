// The machine-wide single instance of the camera engine and the "show panel"
// request a second start sends to the running one. On Linux: flock on
// instance.lock in the data directory (held until the process ends, released
// by the kernel; never inherited by a relaunched child) and a datagram on the
// Unix socket panel.sock there.
#pragma once

#include <string>

enum class InstanceOutcome {
    engine,        // this process is the engine
    exit_quietly,  // exit 0 (another engine runs, or it was asked to show its panel)
    panel_only,    // the engine runs elsewhere and did not answer: panel only
};

struct InstanceOptions {
    bool relaunch = false;
    bool background = false;  // --background or --logon-screen
    int relaunch_tries = 60;
    unsigned relaunch_wait_ms = 100;
    int show_tries = 10;
    unsigned show_wait_ms = 400;
};

// Claims the instance lock; logs what it decided when that is not "engine".
InstanceOutcome acquire_instance(const std::string& data_dir, const InstanceOptions& opt);

// Sends the "show panel" request to a running instance; true when delivered.
bool send_show_panel(const std::string& data_dir);
