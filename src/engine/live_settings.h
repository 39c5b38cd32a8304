// The live-settings watcher: every 2 s it looks for a restart request
// (restart.req in the data directory) and for a change of the settings file,
// and hands a changed file to the subsystems that apply keys at run time
// (pause, overlays, pointer, camera name). The subsystems are reached through
// the hooks, so this piece knows nothing of video, RTSP or ONVIF. One watcher
// thread per process; the watcher object is not shared.
#pragma once

#include <functional>
#include <string>

#include "engine/engine_config.h"
#include "engine/file_stamp.h"

// What the "Live settings applied" line reports, as the apply hook saw it.
struct LiveSwitches {
    bool name_on = false;
    bool clock_on = false;
    bool cursor_on = false;
    std::string name_text;

    bool operator==(const LiveSwitches&) const = default;
};

struct LiveSettingsHooks {
    // Applies the live keys of a parsed, non-empty settings file; returns the
    // switches it applied.
    std::function<LiveSwitches(const ConfigMap&)> apply;
    // Ends the process after a restart request (default: exit code 0).
    std::function<void()> restart;
    // Sleep between passes and before reading a changed file (default: real).
    std::function<void(uint32_t)> sleep;
};

class LiveSettingsWatcher {
  public:
    LiveSettingsWatcher(std::string cfg_path, std::string data_dir, LiveSettingsHooks hooks);

    enum class Pass { unchanged, applied, restart };
    // One look at the request file and the settings file. The first pass
    // applies the file at once and logs nothing.
    Pass pass();
    // pass() every 2 s, for ever (or until a restart hook returns).
    void run();

  private:
    std::string cfg_path_;
    std::string data_dir_;
    LiveSettingsHooks hooks_;
    bool first_ = true;
    FileStamp applied_stamp_;
    LiveSwitches last_;
    bool restart_refused_logged_ = false;
};

// True when `stream_on` is present; *paused then says whether it pauses
// (its value begins with the digit 0).
bool live_stream_paused(const ConfigMap& m, bool* paused);
