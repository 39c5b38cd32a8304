// Automatic revert of a remote settings change that could cut the
// administrator off (a port, the web panel switch, stream authentication).
// The whole state lives in three files beside the settings file, so it
// survives restarts and a hold that runs out while the program is stopped:
//   <cfg>.bak       the settings file as it was before the change
//   <cfg>.pending   "deadline=<unix s>\r\nhold=<s>\r\norigin=<address>\r\n"
//   <cfg>.reverted  "bind\r\n" after a revert caused by a busy port
// No lock: every step reads and writes whole files (replace by rename).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

constexpr int k_revert_hold_seconds = 90;
constexpr int k_revert_max_seconds_left = 100000;

// Backs up the current settings and writes the marker; before the new
// settings are written. A hold <= 0 means 90 s.
bool revert_arm(const std::string& cfg_path, int hold_seconds, const std::string& origin);
// A change is pending when the marker holds a non-zero "deadline=".
bool revert_is_pending(const std::string& cfg_path, int64_t* deadline = nullptr);
// 0 when nothing is pending or the deadline passed; else the seconds left,
// at most 100000.
int revert_seconds_left(const std::string& cfg_path);
// Drops marker and backup; true when a change was pending.
bool revert_confirm(const std::string& cfg_path);
// Puts the backup back; true when the settings file was restored.
bool revert_now(const std::string& cfg_path, const std::string& reason);
// Start-up: reverts a pending change whose deadline passed while the program
// was not running, else logs the seconds left.
void revert_check_startup(const std::string& cfg_path);
// True when a ".reverted" note was there (it is deleted).
bool revert_take_note(const std::string& cfg_path);
// Whether the pending change changed the key (backup against current file).
bool revert_changed_key(const std::string& cfg_path, const std::string& key);

// Which servers did not get the port they asked for at this start.
struct BindOutcome {
    bool rtsp_failed = false;
    bool onvif_failed = false;
    bool web_enabled = false;
    bool web_failed = false;
};
// After the listeners tried their ports: when a pending change moved the
// port (or the web switch) of a server that failed, reverts it and leaves the
// ".reverted" note. True when the caller must relaunch the engine.
bool revert_on_bind_failure(const std::string& cfg_path, const BindOutcome& outcome);

// Body of the watcher thread: every 2 s, once the deadline passed, reverts and
// calls relaunch (which does not return); ends when the change was confirmed,
// or when the revert could not write (its files stay for the next start).
void revert_watcher(const std::string& cfg_path, const std::function<void()>& relaunch);

// The marker's deadline: the decimal number after the first "deadline=",
// 0 when there is none.
int64_t parse_revert_deadline(const std::string& marker_text);

// Replaces the wall clock (seconds since 1970) and the watcher's sleep; tests only.
void revert_set_clock_for_tests(std::function<int64_t()> now,
                                std::function<void(uint32_t)> sleep = nullptr);
