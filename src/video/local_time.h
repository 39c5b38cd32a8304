// Wall-clock time broken down into fields: local for the clock overlay, UTC
// for ONVIF and the web panel's time stamps.
#pragma once

#include <ctime>

// Fills `out` with the current local time; false when it cannot be read.
bool local_time_now(std::tm& out);

// Fills `out` with the UTC fields of `t`; false when `t` cannot be converted
// (`out` is then all zero).
bool utc_time(std::time_t t, std::tm& out);
