// Tick count and sleep with the Windows kernel: GetTickCount64 counts from
// boot, so ages survive a relaunch as on Linux.
#include <windows.h>

#include "engine/clock.h"

uint64_t tick_ms() {
    return GetTickCount64();
}

void sleep_ms(uint32_t ms) {
    Sleep(ms);
}
