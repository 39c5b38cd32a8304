#include "engine/auto_revert.h"

#include <chrono>
#include <mutex>

#include "engine/clock.h"
#include "engine/engine_config.h"
#include "engine/log.h"
#include "engine/paths.h"

namespace {

std::mutex& hooks_mutex() {
    static std::mutex m;
    return m;
}
std::function<int64_t()>& clock_hook() {
    static std::function<int64_t()> f;
    return f;
}
std::function<void(uint32_t)>& sleep_hook() {
    static std::function<void(uint32_t)> f;
    return f;
}

int64_t now_seconds() {
    {
        std::lock_guard<std::mutex> g(hooks_mutex());
        if (clock_hook()) return clock_hook()();
    }
    const auto s = std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
    return s < 0 ? 0 : static_cast<int64_t>(s);
}

void pause_ms(uint32_t ms) {
    std::function<void(uint32_t)> f;
    {
        std::lock_guard<std::mutex> g(hooks_mutex());
        f = sleep_hook();
    }
    if (f)
        f(ms);
    else
        sleep_ms(ms);
}

std::string backup_path(const std::string& cfg) {
    return cfg + ".bak";
}
std::string marker_path(const std::string& cfg) {
    return cfg + ".pending";
}
std::string note_path(const std::string& cfg) {
    return cfg + ".reverted";
}

}  // namespace

int64_t parse_revert_deadline(const std::string& text) {
    const size_t at = text.find("deadline=");
    if (at == std::string::npos) return 0;
    int64_t n = 0;
    for (size_t i = at + 9; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        n = n * 10 + (text[i] - '0');
        if (n > (int64_t(1) << 50)) break;  // far beyond any clock: stays "far future"
    }
    return n;
}

bool revert_arm(const std::string& cfg, int hold, const std::string& origin) {
    if (hold <= 0) hold = k_revert_hold_seconds;
    auto current = read_file(cfg);
    if (!current) {
        engine_log("CFG: arm failed (cannot read current config) - applying without auto-revert\n");
        return false;
    }
    if (!write_file_whole(backup_path(cfg), *current)) {
        engine_log("CFG: arm failed (cannot write backup) - applying without auto-revert\n");
        return false;
    }
    const std::string marker = "deadline=" + std::to_string(now_seconds() + hold) +
                               "\r\nhold=" + std::to_string(hold) + "\r\norigin=" + origin + "\r\n";
    if (!write_file_whole(marker_path(cfg), marker)) {
        remove_file(backup_path(cfg));
        engine_log(
            "CFG: arm failed (cannot write pending marker) - applying without auto-revert\n");
        return false;
    }
    engine_log("CFG: auto-revert armed for %d s (remote change from %s)\n", hold, origin.c_str());
    return true;
}

bool revert_is_pending(const std::string& cfg, int64_t* deadline) {
    auto text = read_file(marker_path(cfg), 4096);
    const int64_t d = text ? parse_revert_deadline(*text) : 0;
    if (deadline) *deadline = d;
    return d != 0;
}

int revert_seconds_left(const std::string& cfg) {
    int64_t deadline = 0;
    if (!revert_is_pending(cfg, &deadline)) return 0;
    const int64_t now = now_seconds();
    if (deadline <= now) return 0;
    const int64_t left = deadline - now;
    return left > k_revert_max_seconds_left ? k_revert_max_seconds_left : static_cast<int>(left);
}

bool revert_confirm(const std::string& cfg) {
    const bool pending = revert_is_pending(cfg);
    remove_file(marker_path(cfg));
    remove_file(backup_path(cfg));
    if (pending) engine_log("CFG: change confirmed by user - settings kept\n");
    return pending;
}

bool revert_now(const std::string& cfg, const std::string& reason) {
    auto backup = read_file(backup_path(cfg));
    if (!backup) {
        remove_file(marker_path(cfg));
        engine_log("CFG: revert requested (%s) but no backup found - marker cleared\n",
                   reason.c_str());
        return false;
    }
    if (!write_file_whole(cfg, *backup)) {
        // The previous settings exist only in the backup now: keep it and the
        // marker, so the next start tries the revert again instead of losing them.
        engine_log("CFG: revert FAILED to write config (%s)\n", reason.c_str());
        return false;
    }
    remove_file(marker_path(cfg));
    remove_file(backup_path(cfg));
    engine_log("CFG: settings AUTO-REVERTED to previous values (%s)\n", reason.c_str());
    return true;
}

void revert_check_startup(const std::string& cfg) {
    int64_t deadline = 0;
    if (!revert_is_pending(cfg, &deadline)) return;
    if (now_seconds() >= deadline) {
        revert_now(cfg, "hold expired while program was not running");
    } else {
        engine_log("CFG: pending confirmation - %d s left before auto-revert\n",
                   revert_seconds_left(cfg));
    }
}

bool revert_take_note(const std::string& cfg) {
    if (!read_file(note_path(cfg), 4096)) return false;
    remove_file(note_path(cfg));
    return true;
}

bool revert_changed_key(const std::string& cfg, const std::string& key) {
    auto backup = read_file(backup_path(cfg));
    if (!backup) return false;
    const ConfigMap before = parse_config_text(*backup);
    auto b = before.find(key);
    if (b == before.end()) return false;
    const ConfigMap now = load(cfg);
    auto n = now.find(key);
    return n == now.end() || n->second != b->second;
}

bool revert_on_bind_failure(const std::string& cfg, const BindOutcome& o) {
    if (!revert_is_pending(cfg)) return false;
    const bool blamed =
        (o.rtsp_failed && revert_changed_key(cfg, "rtsp_port")) ||
        (o.onvif_failed && revert_changed_key(cfg, "onvif_port")) ||
        (o.web_enabled && o.web_failed &&
         (revert_changed_key(cfg, "web_port") || revert_changed_key(cfg, "web_admin")));
    if (!blamed) return false;
    if (!revert_now(cfg, "bind failure on new settings (port busy / service did not start)"))
        return false;
    if (!write_file_whole(note_path(cfg), "bind\r\n"))
        engine_log("CFG: cannot write %s (%s)\n", note_path(cfg).c_str(),
                   file_error_text().c_str());
    engine_log("Bind failed on the new settings - previous settings restored, restarting now\n");
    return true;
}

void revert_watcher(const std::string& cfg_path, const std::function<void()>& relaunch) {
    const std::string cfg = cfg_path;
    pause_ms(2000);
    while (revert_is_pending(cfg)) {
        if (revert_seconds_left(cfg) < 1) {
            // A revert that could not write keeps its files for the next start;
            // relaunching now would only fail the same way, over and over.
            if (revert_now(cfg, "no confirmation within hold window")) relaunch();
            return;
        }
        pause_ms(2000);
    }
}

void revert_set_clock_for_tests(std::function<int64_t()> now, std::function<void(uint32_t)> sleep) {
    std::lock_guard<std::mutex> g(hooks_mutex());
    clock_hook() = std::move(now);
    sleep_hook() = std::move(sleep);
}
