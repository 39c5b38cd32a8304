#include "engine/live_settings.h"

#include <cstdio>
#include <cstdlib>

#include "engine/clock.h"
#include "engine/log.h"
#include "engine/paths.h"

bool live_stream_paused(const ConfigMap& m, bool* paused) {
    auto it = m.find("stream_on");
    if (it == m.end()) return false;
    *paused = !it->second.empty() && it->second[0] == '0';
    return true;
}

LiveSettingsWatcher::LiveSettingsWatcher(std::string cfg_path, std::string data_dir,
                                         LiveSettingsHooks hooks)
    : cfg_path_(std::move(cfg_path)), data_dir_(std::move(data_dir)), hooks_(std::move(hooks)) {
    if (!hooks_.sleep) hooks_.sleep = [](uint32_t ms) { sleep_ms(ms); };
    if (!hooks_.restart)
        hooks_.restart = [] {
            std::fflush(stdout);
            std::_Exit(0);
        };
}

LiveSettingsWatcher::Pass LiveSettingsWatcher::pass() {
    const std::string request = data_dir_ + "/restart.req";
    if (read_file(request, 4096)) {
        // A request that cannot be removed would end every later start too.
        if (remove_file(request)) {
            engine_log("Restart requested by the control panel in another session\n");
            hooks_.restart();
            return Pass::restart;
        }
        if (!restart_refused_logged_)
            engine_log("CFG: cannot remove %s (%s) - restart request ignored\n", request.c_str(),
                       file_error_text().c_str());
        restart_refused_logged_ = true;
    }
    const FileStamp stamp = file_stamp(cfg_path_);
    if (!stamp.valid || stamp == applied_stamp_) return Pass::unchanged;
    if (!first_) hooks_.sleep(150);  // let a writer that does not rename finish
    const ConfigMap m = load(cfg_path_);
    if (m.empty()) return Pass::unchanged;  // half-written: try again next time
    // The stamp taken before reading: a file replaced meanwhile is read once
    // more on the next pass, never missed.
    applied_stamp_ = stamp;
    const LiveSwitches now = hooks_.apply ? hooks_.apply(m) : LiveSwitches{};
    if (!first_ && now != last_)
        engine_log("Live settings applied: name=%d clock=%d cursor=%d\n", now.name_on ? 1 : 0,
                   now.clock_on ? 1 : 0, now.cursor_on ? 1 : 0);
    first_ = false;
    last_ = now;
    return Pass::applied;
}

void LiveSettingsWatcher::run() {
    for (bool first = true;; first = false) {
        if (!first) hooks_.sleep(2000);
        if (pass() == Pass::restart) return;
    }
}
