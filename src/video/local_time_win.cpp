// The C run-time's thread-safe conversions (per-thread results copied out).
#include <time.h>

#include "video/local_time.h"

bool local_time_now(std::tm& out) {
    const __time64_t now = _time64(nullptr);
    return _localtime64_s(&out, &now) == 0;
}

bool utc_time(std::time_t t, std::tm& out) {
    const __time64_t t64 = t;
    // Before 1970 the run-time refuses (through its invalid-parameter handler).
    if (t64 >= 0 && _gmtime64_s(&out, &t64) == 0) return true;
    out = std::tm{};
    return false;
}
