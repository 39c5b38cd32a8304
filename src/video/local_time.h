// Local wall-clock time for the clock overlay.
#pragma once

#include <ctime>

// Fills `out` with the current local time; false when it cannot be read.
bool local_time_now(std::tm& out);
