// The motion detector over synthetic BGRA frames, with a hand-driven clock.
#include "video/motion_detector.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

std::atomic<uint64_t> g_now{1000000};
bool g_taskbar_known = false;

struct Frame {
    int w, h;
    std::vector<uint8_t> px;
    explicit Frame(int w_ = 1920, int h_ = 1080) : w(w_), h(h_), px(size_t(w_) * h_ * 4, 0) {}
    Frame& fill(int l, int t, int r, int b, uint8_t v = 255) {
        for (int y = t; y < b; ++y)
            for (int x = l; x < r; ++x) std::fill_n(&px[(size_t(y) * w + x) * 4], 3, v);
        return *this;
    }
};

// A 1920x1080 frame whose first `n` 15x15 cells (row by row) are bright.
Frame changed_cells(int n) {
    Frame f;
    const int rows = n / 128;
    return f.fill(0, 0, 1920, rows * 15).fill(0, rows * 15, (n % 128) * 15, rows * 15 + 15);
}

class MotionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        motion_reset_for_tests();
        g_now = 1000000;
        g_taskbar_known = false;
        motion_set_clock_for_tests([] { return g_now.load(); });
        motion_set_taskbar_source_for_tests([](MotionRect* r) {
            *r = {0, 1040, 1920, 1080};
            return g_taskbar_known;
        });
    }
    static MotionConfig config(int sens = 5, int hold_ms = 3000) {
        MotionConfig c;
        c.enabled = true;
        c.sensitivity = sens;
        c.hold_ms = hold_ms;
        return c;
    }
    static void restart(const MotionConfig& c) {
        motion_reset_for_tests();
        motion_configure(c);
    }
    // "active testing events change_counter" of the published status.
    static std::string state() {
        const MotionStatus s = motion_status();
        return std::to_string(s.active) + " " + std::to_string(s.testing) + " " +
               std::to_string(s.events) + " " + std::to_string(s.change_counter);
    }
    // Feeds one frame `times` times, moving the clock on by 100 ms (10 fps) each.
    static void feed(const Frame& f, int times = 1) {
        for (int i = 0; i < times; ++i) {
            motion_process_frame(f.px.data(), f.w, f.h);
            g_now += 100;
        }
    }
};

TEST_F(MotionTest, GridSizesFollowTheFrameShape) {
    struct Case {
        int w, h, rows, cell_w, cell_h;  // rows 0: too small to measure
    } cases[] = {{1920, 1080, 72, 15, 15}, {1280, 1024, 102, 10, 10}, {4000, 400, 16, 31, 25},
                 {400, 4000, 128, 3, 31},  {2000, 20, 16, 15, 1},     {15, 15, 0, 0, 0},
                 {100, 800, 0, 0, 0}};
    for (const auto& c : cases) {
        restart(config());
        feed(Frame(c.w, c.h));
        const MotionGridInfo g = motion_grid_info();
        const MotionStatus s = motion_status();
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        EXPECT_EQ(s.update_tick != 0, c.rows != 0);
        if (c.rows == 0) continue;
        EXPECT_EQ(g.cols, 128);
        EXPECT_EQ(g.rows, c.rows);
        EXPECT_EQ(g.cell_w, c.cell_w);
        EXPECT_EQ(g.cell_h, c.cell_h);
        EXPECT_EQ(s.cells, 128 * c.rows);
    }
    restart(config());
    motion_process_frame(nullptr, 1920, 1080);
    EXPECT_EQ(motion_status().update_tick, 0u);
    restart(MotionConfig{});  // detection off
    feed(Frame());
    EXPECT_EQ(motion_status().update_tick, 0u);
}

TEST_F(MotionTest, Exclusions) {
    using Cells = std::vector<std::pair<int, int>>;  // (row, col)
    struct Case {
        const char* name;
        int corners, top, bottom;
        bool taskbar_known, ignore_taskbar;
        std::vector<MotionRect> plates;
        int cells;
        Cells excluded, kept;
    } cases[] = {
        // clang-format off
        // 18% of 1920x1080 is 345x194 px: 23x13 cells per corner.
        {"corners", 18, 0, 0, false, true, {}, 128 * 72 - 4 * 23 * 13,
         {{12, 22}, {71, 127}, {59, 105}}, {{13, 22}, {12, 23}, {58, 105}}},
        // 108 px at the top: 8 cell rows; from y = 1026 at the bottom: rows 68..71.
        {"strips", 0, 10, 5, false, true, {}, 128 * 60, {{7, 64}, {68, 0}}, {{8, 64}}},
        // The first plate lies in the top strip.
        {"overlay plates", 0, 10, 5, false, true, {{0, 0, 30, 15}, {600, 600, 630, 615}},
         128 * 60 - 2, {{40, 41}}, {{41, 41}}},
        {"empty or off-screen plates", 0, 0, 0, false, true,
         {{500, 500, 500, 600}, {-50, -50, 0, 0}, {1920, 0, 2000, 100}}, 128 * 72, {}, {}},
        {"taskbar", 0, 0, 0, true, true, {}, 128 * 69, {{69, 0}}, {{68, 0}}},
        {"taskbar not ignored", 0, 0, 0, true, false, {}, 128 * 72, {}, {{71, 0}}},
        {"taskbar unknown", 0, 0, 0, false, true, {}, 128 * 72, {}, {{71, 0}}},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        g_taskbar_known = c.taskbar_known;
        MotionConfig cfg = config();
        cfg.corners_pct = c.corners;
        cfg.top_pct = c.top;
        cfg.bottom_pct = c.bottom;
        cfg.ignore_taskbar = c.ignore_taskbar;
        restart(cfg);
        feed(Frame());
        const int without_plates = motion_status().cells;
        motion_set_exclusions(c.plates.data(), int(c.plates.size()));
        feed(Frame());
        EXPECT_EQ(motion_status().cells, c.cells);
        for (auto [row, col] : c.excluded) EXPECT_TRUE(motion_cell_excluded(row, col)) << row;
        for (auto [row, col] : c.kept) EXPECT_FALSE(motion_cell_excluded(row, col)) << row;
        motion_set_exclusions(nullptr, 0);
        feed(Frame());
        EXPECT_EQ(motion_status().cells, without_plates);
    }
}

TEST_F(MotionTest, ThresholdBySensitivity) {
    struct Case {
        int sensitivity, threshold, changed;
        bool motion;
    } cases[] = {{10, 1, 0, false}, {10, 1, 1, true},     {5, 20, 19, false},
                 {5, 20, 20, true}, {1, 300, 299, false}, {1, 300, 300, true}};
    for (const auto& c : cases) {
        restart(config(c.sensitivity));
        feed(Frame());
        feed(changed_cells(c.changed), 10);
        const MotionStatus s = motion_status();
        EXPECT_EQ(s.threshold, c.threshold) << c.sensitivity;
        EXPECT_EQ(s.level, c.changed) << c.sensitivity;
        EXPECT_EQ(s.active, c.motion) << c.sensitivity << " " << c.changed;
        EXPECT_EQ(s.events, c.motion ? 1u : 0u);
    }
}

TEST_F(MotionTest, ShortChangeRaisesNothingLongChangeRaisesOneEvent) {
    motion_configure(config());  // 500 ms minimum, 3000 ms hold
    const Frame base, changed = Frame().fill(0, 0, 960, 540);
    feed(base);
    feed(changed, 3);  // 0.3 s
    feed(base, 20);
    // Changed, back, one quiet frame: each quiet frame restarts the phase.
    for (int i = 0; i < 10; ++i) {
        feed(changed, 4);
        feed(base, 2);
    }
    EXPECT_EQ(state(), "0 0 0 0");

    feed(changed, 10);  // 1 s
    EXPECT_EQ(state(), "1 0 1 1");
    EXPECT_TRUE(motion_wait_change(0, 0));
    EXPECT_FALSE(motion_wait_change(1, 0));

    // The new picture stays: motion ends after the hold, and the picture is the
    // reference from then on.
    while (g_now < motion_status().change_tick + 2900) feed(changed);
    EXPECT_EQ(state(), "1 0 1 1");
    feed(changed, 2);
    EXPECT_EQ(state(), "0 0 1 2");
    feed(changed);
    EXPECT_EQ(motion_status().level, 0);
}

TEST_F(MotionTest, TestEventOverlaysTheStateForTheHoldTime) {
    motion_configure(config(5, 1000));
    feed(Frame());
    motion_test_event();
    EXPECT_EQ(state(), "1 1 1 1");
    g_now += 999;
    EXPECT_EQ(state(), "1 1 1 1");
    g_now += 1;
    EXPECT_EQ(state(), "0 0 1 2");

    // During real motion a test adds no event and does not end the motion.
    feed(Frame().fill(0, 0, 1920, 540), 8);
    ASSERT_EQ(state(), "1 0 2 3");
    motion_test_event();
    EXPECT_EQ(state(), "1 1 2 3");
    g_now += 1000;
    EXPECT_EQ(state(), "1 0 2 3");
}

TEST_F(MotionTest, TestEventEndsOnItsOwnAndWakesWaiters) {
    motion_set_clock_for_tests(nullptr);  // real time for the ending thread
    motion_configure(config(5, 500));
    const uint64_t c0 = motion_status().change_counter;
    std::thread t([] { motion_test_event(); });
    EXPECT_TRUE(motion_wait_change(c0, 10000));
    t.join();
    // Nobody reads the status meanwhile; the waiter still sees the end.
    EXPECT_TRUE(motion_wait_change(c0 + 1, 10000));
    EXPECT_EQ(motion_status().active, 0);
}

}  // namespace
