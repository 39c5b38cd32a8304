#include <time.h>

#include "video/local_time.h"

bool local_time_now(std::tm& out) {
    time_t now = time(nullptr);
    return localtime_r(&now, &out) != nullptr;
}

bool utc_time(std::time_t t, std::tm& out) {
    if (gmtime_r(&t, &out)) return true;
    out = std::tm{};
    return false;
}
