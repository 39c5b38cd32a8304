#include <time.h>

#include "video/local_time.h"

bool local_time_now(std::tm& out) {
    time_t now = time(nullptr);
    return localtime_r(&now, &out) != nullptr;
}
