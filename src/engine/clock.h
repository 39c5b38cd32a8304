// Monotonic millisecond tick (counts from boot, so ages survive a relaunch)
// and a sleep, for every interval and age the engine measures.
#pragma once

#include <cstdint>

uint64_t tick_ms();
void sleep_ms(uint32_t ms);
