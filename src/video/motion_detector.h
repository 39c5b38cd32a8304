// Screen motion detector: the picture is cut into a grid of 128 columns of
// cells, each reduced to one mean-luminance byte per frame; enough changed
// cells for long enough make a motion event, which the ONVIF events service
// and the panels read as MotionStatus.
// One process-wide detector. Its mutex guards the configuration, the published
// status, the internal motion flag and the test-end tick; the condition
// variable wakes every waiter on each change of `active`. The grid and cell
// arrays belong to the distribution thread and are never touched under the lock.
#pragma once

#include <cstdint>
#include <functional>

struct MotionConfig {
    bool enabled = false;
    int32_t sensitivity = 5;        // 1..10
    int32_t min_duration_ms = 500;  // 100..5000
    int32_t hold_ms = 3000;         // 500..60000
    int32_t top_pct = 0;            // 0..40, strip excluded at the top
    int32_t bottom_pct = 0;         // 0..40, strip excluded at the bottom
    bool ignore_taskbar = true;
    int32_t corners_pct = 0;  // 0..30, the four corners excluded
};

struct MotionStatus {
    uint8_t enabled = 0;
    uint8_t active = 0;  // motion, or a test event running: what recorders see
    uint8_t testing = 0;
    int32_t level = 0;  // cells changed against the reference, last frame
    int32_t threshold = 0;
    int32_t cells = 0;            // cells not excluded
    uint64_t change_counter = 0;  // +1 on every change of `active`
    uint64_t change_tick = 0;
    uint64_t update_tick = 0;  // last processed frame, 0: none yet
    uint32_t events = 0;
    // Bookkeeping written by the events service.
    int32_t subscribers = 0;
    int32_t push_subscribers = 0;
    uint64_t last_pull_tick = 0;
    uint64_t last_push_tick = 0;
    uint32_t push_delivered = 0;
    uint32_t push_failed = 0;
};

// Pixel rectangle, right and bottom exclusive.
struct MotionRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    bool operator==(const MotionRect&) const = default;
};

// Changed cells needed for motion, by sensitivity 1..10.
int32_t motion_threshold(int32_t sensitivity);
// Clamps every field to its range.
MotionConfig motion_clamp(const MotionConfig& config);

void motion_configure(const MotionConfig& config);
// Overlay areas to leave out (distribution thread; at most 4 kept).
void motion_set_exclusions(const MotionRect* rects, int count);
// One detection step over a top-down BGRA frame of width * 4 bytes per row
// (distribution thread only).
void motion_process_frame(const uint8_t* bgra, int width, int height);
MotionStatus motion_status();
// True when the change counter is above `counter`, waiting up to timeout_ms.
bool motion_wait_change(uint64_t counter, int timeout_ms);
// Reports motion for the hold time without touching the screen.
void motion_test_event();
void motion_note_pull();
void motion_note_push(uint32_t delivered, uint32_t failed);
void motion_note_subscribers(int32_t subscribers, int32_t push_subscribers);

// Test support: grid geometry and mask of the last processed frame.
struct MotionGridInfo {
    int32_t cols = 0;
    int32_t rows = 0;
    int32_t cell_w = 0;
    int32_t cell_h = 0;
};
MotionGridInfo motion_grid_info();
bool motion_cell_excluded(int row, int col);
// Puts the detector back to its start-up state. Tests only.
void motion_reset_for_tests();
// Replaces the millisecond clock (nullptr: the real tick count). Tests only.
void motion_set_clock_for_tests(std::function<uint64_t()> clock);
// Replaces the taskbar query (nullptr: the platform's). Tests only.
void motion_set_taskbar_source_for_tests(std::function<bool(MotionRect*)> source);
