// The control-panel loop of the main thread. Until the desktop panel exists it
// waits for SIGINT or SIGTERM and returns 0; a "show panel" request from a
// second start is answered with a log line.
#pragma once

#include <string>

// Blocks SIGINT and SIGTERM in the calling thread; call on the main thread
// before any other thread starts so that they inherit the mask and only the
// loop below receives the stop signals.
void block_stop_signals();

struct PanelLoopArgs {
    std::string data_dir;
    std::string address;
    int web_port = 0;
    int rtsp_port = 0;
    int onvif_port = 0;
    std::string stream;
    bool open_window = false;
    bool show_icon = true;
    bool panel_only = false;
    bool listen_for_show = true;  // own panel.sock (not in sign-in-screen mode)
};

// Returns the exit code (0 after SIGINT/SIGTERM). The headless loop of
// --background and sign-in-screen runs.
int run_control_panel_loop(const PanelLoopArgs& args);

// Pieces for a desktop loop that watches the same two sources.
// A descriptor that becomes readable on SIGINT or SIGTERM (-1 on failure).
int open_stop_signal_fd();
// True when a stop signal was read from it.
bool read_stop_signal(int fd);
// Binds panel.sock in the data directory (-1 on failure, logged).
int open_panel_request_socket(const std::string& data_dir);
// Reads every waiting request; returns how many there were.
int drain_panel_requests(int fd);
void close_panel_request_socket(int fd, const std::string& data_dir);
void close_descriptor(int fd);
