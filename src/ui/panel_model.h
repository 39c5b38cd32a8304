// The toolkit-free half of the desktop control panel, shared by the GTK and
// the Win32 windows: the settings fields, the links, the status texts, and
// the save, export, import and pause steps over the settings file. Every
// call belongs on the thread that runs the desktop loop.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ui/desktop.h"

enum class PanelFieldKind { number, text, flag, password };
struct PanelField {
    const char* key;
    PanelFieldKind kind;
    int tab;  // 1 video, 2 network, 3 users
};

// In the order of the Win32 control ids (panel_ids::field_first on).
inline constexpr PanelField k_panel_fields[] = {
    {"fps", PanelFieldKind::number, 1},          {"bitrate", PanelFieldKind::number, 1},
    {"main_width", PanelFieldKind::number, 1},   {"substream", PanelFieldKind::flag, 1},
    {"sub_width", PanelFieldKind::number, 1},    {"stream", PanelFieldKind::text, 1},
    {"show_cursor", PanelFieldKind::flag, 1},    {"rtsp_port", PanelFieldKind::number, 2},
    {"onvif_port", PanelFieldKind::number, 2},   {"web_admin", PanelFieldKind::flag, 2},
    {"web_port", PanelFieldKind::number, 2},     {"announce_ip", PanelFieldKind::text, 2},
    {"device_name", PanelFieldKind::text, 2},    {"admin_user", PanelFieldKind::text, 3},
    {"admin_pass", PanelFieldKind::password, 3}, {"stream_auth", PanelFieldKind::flag, 3},
};

// What both panels hold besides their widgets; each toolkit's Panel extends it.
struct PanelModel {
    PanelLoopArgs args;
    DesktopInfo info;
    bool arabic = true;
    std::function<void()> on_exit_for_restart;
};

void panel_model_init(PanelModel& m, const PanelLoopArgs& args, const DesktopInfo& info,
                      std::function<void()> exit_for_restart);
// The text with this id in the panel's language.
std::string panel_text(const PanelModel& m, const char* id);

struct PanelLink {
    const char* id;  // text id of its label
    std::string url;
    const char* acc;  // accessible name of its copy button
};
std::string panel_link_main(const PanelModel& m);
// Main stream, sub stream when on, ONVIF, and the web panel when on.
std::vector<PanelLink> panel_links(const PanelModel& m);

// Every field's value from the settings file (defaults where missing); the
// password stays empty.
std::map<std::string, std::string> panel_file_values(const PanelModel& m);

// The status page's live texts; lines are joined with newline.
struct PanelStatus {
    std::string state;
    std::string pause_button;
    std::string viewers;
    std::string motion;
    std::string ports;
};
PanelStatus panel_status(const PanelModel& m, const char* newline);

// Checks the form against the settings file and writes what changed (the
// password protected where the system can). Returns the error to show, or
// "" once saved; the caller then asks for the restart.
std::string panel_save(const PanelModel& m, const std::map<std::string, std::string>& form);
// Copies the settings file to path; returns the text id of the result.
const char* panel_export(const PanelModel& m, const std::string& path);
// Takes the settings from path into the settings file; true when written.
bool panel_import(const PanelModel& m, const std::string& path);
// Pauses or resumes streaming, kept in the settings file.
void panel_model_toggle_pause(const PanelModel& m);
