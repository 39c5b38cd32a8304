#include "web/web_sessions.h"

#include <algorithm>
#include <sstream>

#include "engine/base64.h"
#include "engine/clock.h"
#include "engine/crypto.h"
#include "engine/data_protect.h"
#include "engine/log.h"
#include "engine/paths.h"
#include "web/web_request.h"

namespace {

uint64_t now_of(WebSessions& s) {
    return s.now ? s.now() : tick_ms();
}

}  // namespace

bool is_locked(WebSessions& s) {
    const uint64_t now = now_of(s);
    std::lock_guard<std::mutex> g(s.lock);
    return now < s.lock_until;
}

void record_attempt(WebSessions& s, bool success) {
    const uint64_t now = now_of(s);
    bool locked_now = false;
    {
        std::lock_guard<std::mutex> g(s.lock);
        if (success) {
            s.failed_attempts = 0;
            s.lock_until = 0;
        } else if (++s.failed_attempts >= k_lockout_failures) {
            s.lock_until = now + k_lockout_ms;
            s.failed_attempts = 0;
            locked_now = true;
        }
    }
    if (locked_now) engine_log("Web: too many failed auth attempts -> locked 60s\n");
}

bool equal_constant_time(const std::string& a, const std::string& b) {
    const size_t n = std::max<size_t>({a.size(), b.size(), 1});
    unsigned diff = a.size() == b.size() ? 0 : 1;
    for (size_t i = 0; i < n; ++i) {
        const unsigned x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
        const unsigned y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
        diff |= x ^ y;
    }
    return diff == 0;
}

bool check_credentials(const std::string& stored_user, const std::string& stored_pass,
                       const std::string& user, const std::string& pass) {
    if (stored_pass.empty() || pass.empty()) return false;
    const bool user_ok = equal_constant_time(user, stored_user);
    const bool pass_ok = equal_constant_time(pass, stored_pass);
    return user_ok & pass_ok;
}

std::string make_token(uint64_t now) {
    uint8_t b[16];
    if (!random_bytes(b, sizeof b)) {
        for (int i = 0; i < 16; ++i)
            b[i] = static_cast<uint8_t>(((now >> (8 * (i % 8))) & 0xff) ^ ((41 * i) & 0xff));
    }
    return to_hex(b, sizeof b);
}

std::string create_session(WebSessions& s) {
    const uint64_t now = now_of(s);
    std::string token = make_token(now);
    std::lock_guard<std::mutex> g(s.lock);
    for (auto it = s.table.begin(); it != s.table.end();)
        it = now - it->second > k_session_idle_ms ? s.table.erase(it) : std::next(it);
    s.table[token] = now;
    return token;
}

bool check_session(WebSessions& s, const std::string& header, bool refresh) {
    const std::string token = session_cookie(header);
    if (token.empty()) return false;
    const uint64_t now = now_of(s);
    std::lock_guard<std::mutex> g(s.lock);
    auto it = s.table.find(token);
    if (it == s.table.end()) return false;
    if (now - it->second > k_session_idle_ms) {
        s.table.erase(it);
        return false;
    }
    if (refresh) it->second = now;
    return true;
}

void end_session(WebSessions& s, const std::string& header) {
    const std::string token = session_cookie(header);
    if (token.empty()) return;
    std::lock_guard<std::mutex> g(s.lock);
    s.table.erase(token);
}

std::string protect_text(const std::string& plain, const std::string& data_dir) {
    if (auto blob = protect_data(plain, data_dir)) return "enc:" + base64_encode(*blob);
    return plain;
}

std::string unprotect_text(const std::string& stored, const std::string& data_dir) {
    if (stored.rfind("enc:", 0) != 0) return stored;
    auto blob = base64_decode(std::string_view(stored).substr(4));
    if (!blob) return "";
    auto plain = unprotect_data(*blob, data_dir);
    return plain ? *plain : "";
}

void save_sessions(WebSessions& s, const std::string& data_dir) {
    std::string text;
    {
        std::lock_guard<std::mutex> g(s.lock);
        for (const auto& [token, tick] : s.table) text += token + " " + std::to_string(tick) + "\n";
    }
    write_file_whole(data_dir + "/sessions.dat", protect_text(text, data_dir), true);
}

std::map<std::string, uint64_t> parse_sessions_text(const std::string& text, uint64_t now) {
    std::map<std::string, uint64_t> out;
    std::istringstream in(text);
    std::string token, tick_text;
    while (in >> token >> tick_text) {
        if (tick_text.empty() || tick_text.size() > 20 ||
            tick_text.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const uint64_t tick = std::stoull(tick_text);
        if (tick <= now && now - tick <= k_session_idle_ms) out[token] = tick;
    }
    return out;
}

void load_sessions(WebSessions& s, const std::string& data_dir) {
    auto raw = read_file(data_dir + "/sessions.dat", 1 << 20);
    if (!raw) return;
    auto table = parse_sessions_text(unprotect_text(*raw, data_dir), now_of(s));
    std::lock_guard<std::mutex> g(s.lock);
    s.table = std::move(table);
}

int read_hint_count(const std::string& data_dir) {
    auto t = read_file(data_dir + "/hint.n", 64);
    if (!t) return 0;
    int n = 0;
    for (char c : *t) {
        if (c < '0' || c > '9') break;
        n = std::min(n * 10 + (c - '0'), 1000000);
    }
    return n;
}

void bump_hint_count(const std::string& data_dir) {
    write_file_whole(data_dir + "/hint.n", std::to_string(read_hint_count(data_dir) + 1));
}
