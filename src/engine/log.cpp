#include "engine/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <mutex>

namespace {

std::atomic<bool> g_verbose{false};
std::mutex g_ring_mutex;
std::deque<std::string>& ring() {
    static std::deque<std::string> r;
    return r;
}

void log_text(const char* text) {
    // One write per line so that lines from different threads do not interleave.
    std::fputs(text, stdout);
    std::fflush(stdout);
    std::string line(text);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    std::lock_guard<std::mutex> lock(g_ring_mutex);
    ring().push_back(std::move(line));
    while (ring().size() > LogRing::k_max_lines) ring().pop_front();
}

}  // namespace

void engine_log(const char* format, ...) {
    char buf[2048];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    log_text(buf);
}

void engine_vlog(const char* format, ...) {
    if (!g_verbose.load()) return;
    char buf[1024];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    engine_log("%s", buf);
}

void set_log_verbose(bool on) { g_verbose.store(on); }
bool log_verbose() { return g_verbose.load(); }

std::vector<std::string> LogRing::lines() {
    std::lock_guard<std::mutex> lock(g_ring_mutex);
    return {ring().begin(), ring().end()};
}

std::string LogRing::joined() {
    std::lock_guard<std::mutex> lock(g_ring_mutex);
    std::string out;
    for (const auto& l : ring()) {
        if (!out.empty()) out += '\n';
        out += l;
    }
    return out;
}

void LogRing::reset_for_tests() {
    std::lock_guard<std::mutex> lock(g_ring_mutex);
    ring().clear();
}
