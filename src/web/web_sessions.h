// Administrator login state of the web panel: the session table with its idle
// limit, the global lockout after repeated failures, the stored sessions that
// carry a relaunch, and the credential check. Everything in WebSessions is
// guarded by its one mutex, held only for a map or counter update. The clock
// is injectable so tests can walk through the limits.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

constexpr uint64_t k_session_idle_ms = 300000;
constexpr int k_lockout_failures = 8;
constexpr uint64_t k_lockout_ms = 60000;

struct WebSessions {
    std::mutex lock;
    std::map<std::string, uint64_t> table;  // token -> last use (tick ms)
    int32_t failed_attempts = 0;
    uint64_t lock_until = 0;  // 0: not locked
    std::function<uint64_t()> now;  // tick_ms unless a test sets it
};

bool is_locked(WebSessions& s);
// Success clears the counter and the lock; the eighth failure in a row locks
// every login, recovery and factory-settings attempt for 60 s.
void record_attempt(WebSessions& s, bool success);

// Constant-time comparison of both texts (time depends on the lengths only);
// an empty stored or supplied password always fails.
bool check_credentials(const std::string& stored_user, const std::string& stored_pass,
                       const std::string& user, const std::string& pass);
bool equal_constant_time(const std::string& a, const std::string& b);

// 32 lower-case hex characters from the system's random generator.
std::string make_token(uint64_t now);
std::string create_session(WebSessions& s);
// Valid token from the header block's cookie; refresh moves its last use to now.
bool check_session(WebSessions& s, const std::string& header, bool refresh);
void end_session(WebSessions& s, const std::string& header);

// sessions.dat in data_dir: "token tick\n" lines, stored as "enc:" + Base64.
void save_sessions(WebSessions& s, const std::string& data_dir);
void load_sessions(WebSessions& s, const std::string& data_dir);
// Parses the plain text of the file; keeps entries young enough at now.
std::map<std::string, uint64_t> parse_sessions_text(const std::string& text, uint64_t now);

// Protected text shared with the settings file: "enc:" + Base64 of the
// machine-scope blob; plain text when protection fails. unprotect_text gives
// "" for a value it cannot open, the text itself when it is not "enc:".
std::string protect_text(const std::string& plain, const std::string& data_dir);
std::string unprotect_text(const std::string& stored, const std::string& data_dir);

// hint.n next to the settings file: logins with the factory credentials.
int read_hint_count(const std::string& data_dir);
void bump_hint_count(const std::string& data_dir);
