// Where the desktop's taskbar (panel, dock) lies, so that its clock and
// blinking buttons do not count as screen motion. Called by the motion
// detector on the distribution thread, at most once every 30 frames.
#pragma once

struct MotionRect;

// The taskbar rectangle in screen pixels; false when there is none or it
// cannot be told (no window manager, no display).
bool motion_query_taskbar(MotionRect* rect);
