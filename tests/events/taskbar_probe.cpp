// Prints the taskbar rectangle the motion detector would exclude on the
// current $DISPLAY ("none" when unknown); driven by taskbar_test.py.
#include <cstdio>

#include "video/motion_detector.h"
#include "video/motion_taskbar.h"

int main() {
    MotionRect r;
    if (!motion_query_taskbar(&r)) {
        std::puts("none");
        return 0;
    }
    std::printf("%d %d %d %d\n", r.left, r.top, r.right, r.bottom);
    return 0;
}
