// The engine's log: every line goes to standard output (flushed at once) and to
// LogRing, the in-memory list of the last 300 lines that the panels show.
// Safe from any thread; the ring has its own mutex.
#pragma once

#include <string>
#include <vector>

// printf-style; output longer than 2047 bytes is cut. Trailing CR/LF are
// stripped before the line enters the ring.
void engine_log(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Same, but only when verbose logging is on (formatted into 1024 bytes).
void engine_vlog(const char* format, ...) __attribute__((format(printf, 1, 2)));

void set_log_verbose(bool on);
bool log_verbose();

class LogRing {
public:
    static constexpr size_t k_max_lines = 300;
    static std::vector<std::string> lines();
    static std::string joined();  // lines joined with '\n'
    static void reset_for_tests();
};
