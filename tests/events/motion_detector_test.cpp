// The motion detector over synthetic BGRA frames, with a hand-driven clock.
#include "video/motion_detector.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

std::atomic<uint64_t> g_now{1000000};

struct Frame {
    int w, h;
    std::vector<uint8_t> px;
    Frame(int w_, int h_, uint8_t grey = 0) : w(w_), h(h_), px(size_t(w_) * h_ * 4, grey) {}
    void fill(int l, int t, int r, int b, uint8_t v) {
        for (int y = t; y < b; ++y)
            for (int x = l; x < r; ++x) {
                uint8_t* p = &px[(size_t(y) * w + x) * 4];
                p[0] = p[1] = p[2] = v;
            }
    }
};

class MotionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        motion_reset_for_tests();
        g_now = 1000000;
        motion_set_clock_for_tests([] { return g_now.load(); });
        motion_set_taskbar_source_for_tests([](MotionRect*) { return false; });
    }
    void TearDown() override {
        motion_set_clock_for_tests(nullptr);
        motion_set_taskbar_source_for_tests(nullptr);
        motion_reset_for_tests();
    }
    static void configure(int sens = 5, int min_ms = 500, int hold_ms = 3000) {
        MotionConfig c;
        c.enabled = true;
        c.sensitivity = sens;
        c.min_duration_ms = min_ms;
        c.hold_ms = hold_ms;
        motion_configure(c);
    }
    // Feeds one frame and moves the clock on by `step` ms.
    static void feed(const Frame& f, uint64_t step = 100) {
        motion_process_frame(f.px.data(), f.w, f.h);
        g_now += step;
    }
};

TEST_F(MotionTest, GridSizesFollowTheFrameShape) {
    configure();
    struct Case {
        int w, h, rows, cell_w, cell_h;
    } cases[] = {{1920, 1080, 72, 15, 15},
                 {1280, 1024, 102, 10, 10},
                 {4000, 400, 16, 31, 25},
                 {400, 4000, 128, 3, 31}};
    for (const auto& c : cases) {
        Frame f(c.w, c.h);
        feed(f);
        MotionGridInfo g = motion_grid_info();
        EXPECT_EQ(g.cols, 128) << c.w << "x" << c.h;
        EXPECT_EQ(g.rows, c.rows) << c.w << "x" << c.h;
        EXPECT_EQ(g.cell_w, c.cell_w) << c.w << "x" << c.h;
        EXPECT_EQ(g.cell_h, c.cell_h) << c.w << "x" << c.h;
        EXPECT_EQ(motion_status().cells, 128 * c.rows);
    }
}

TEST_F(MotionTest, TinyAndNarrowFramesAreSkippedSafely) {
    configure();
    Frame tiny(15, 15), narrow(100, 800), flat(2000, 20);
    feed(tiny);
    feed(narrow);  // cells would be 0 pixels wide
    EXPECT_EQ(motion_status().update_tick, 0u);
    motion_process_frame(nullptr, 1920, 1080);
    EXPECT_EQ(motion_status().update_tick, 0u);
    feed(flat);  // 16 rows of 1-pixel cells: measurable
    EXPECT_NE(motion_status().update_tick, 0u);
}

TEST_F(MotionTest, DisabledDetectorPublishesNothing) {
    motion_configure(MotionConfig{});
    Frame f(1920, 1080);
    feed(f);
    MotionStatus s = motion_status();
    EXPECT_EQ(s.enabled, 0);
    EXPECT_EQ(s.update_tick, 0u);
}

TEST_F(MotionTest, CornerTopAndOverlayExclusions) {
    MotionConfig c;
    c.enabled = true;
    c.corners_pct = 18;  // 345 x 194 px -> 23 x 13 cells per corner
    motion_configure(c);
    Frame f(1920, 1080);
    feed(f);
    EXPECT_EQ(motion_status().cells, 128 * 72 - 4 * 23 * 13);
    EXPECT_TRUE(motion_cell_excluded(12, 22));
    EXPECT_FALSE(motion_cell_excluded(13, 22));
    EXPECT_FALSE(motion_cell_excluded(12, 23));
    EXPECT_TRUE(motion_cell_excluded(71, 127));
    EXPECT_TRUE(motion_cell_excluded(71 - 12, 127 - 22));
    EXPECT_FALSE(motion_cell_excluded(71 - 13, 127 - 22));

    motion_reset_for_tests();
    c.corners_pct = 0;
    c.top_pct = 10;    // 108 pixel rows -> 8 cell rows
    c.bottom_pct = 5;  // from y = 1026 -> rows 68..71
    motion_configure(c);
    feed(f);
    EXPECT_EQ(motion_status().cells, 128 * (72 - 8 - 4));
    EXPECT_TRUE(motion_cell_excluded(7, 64));
    EXPECT_FALSE(motion_cell_excluded(8, 64));
    EXPECT_TRUE(motion_cell_excluded(68, 0));

    // Overlay plates: stored, counted, and cleared again with an empty list.
    MotionRect plates[2] = {{0, 0, 30, 15}, {600, 600, 630, 615}};
    motion_set_exclusions(plates, 2);
    feed(f);
    EXPECT_EQ(motion_status().cells, 128 * 60 - 2);  // plate 1 lies in the top strip
    EXPECT_TRUE(motion_cell_excluded(40, 41));
    EXPECT_FALSE(motion_cell_excluded(41, 41));
    motion_set_exclusions(nullptr, 0);
    feed(f);
    EXPECT_EQ(motion_status().cells, 128 * 60);

    // Empty or off-screen rectangles mark nothing.
    MotionRect odd[3] = {{500, 500, 500, 600}, {-50, -50, 0, 0}, {1920, 0, 2000, 100}};
    motion_set_exclusions(odd, 3);
    feed(f);
    EXPECT_EQ(motion_status().cells, 128 * 60);
}

TEST_F(MotionTest, TaskbarIsExcludedWhenKnownAndWanted) {
    MotionRect bar{0, 1040, 1920, 1080};
    motion_set_taskbar_source_for_tests([&](MotionRect* r) {
        *r = bar;
        return true;
    });
    MotionConfig c;
    c.enabled = true;
    motion_configure(c);
    Frame f(1920, 1080);
    feed(f);
    EXPECT_EQ(motion_status().cells, 128 * (72 - 3));  // rows 69..71

    motion_reset_for_tests();
    c.ignore_taskbar = false;
    motion_configure(c);
    feed(f);
    EXPECT_EQ(motion_status().cells, 128 * 72);
}

TEST_F(MotionTest, ThresholdBySensitivity) {
    // Sensitivity 10: one changed cell is motion (after 500 ms and 3 frames).
    configure(10);
    Frame base(1920, 1080), one(1920, 1080);
    one.fill(0, 0, 15, 15, 200);
    feed(base);
    for (int i = 0; i < 6; ++i) feed(one);
    MotionStatus s = motion_status();
    EXPECT_EQ(s.active, 1);
    EXPECT_EQ(s.threshold, 1);
    EXPECT_EQ(s.events, 1u);

    // Sensitivity 1: 299 cells are not enough, 300 are.
    motion_reset_for_tests();
    configure(1);
    Frame few(1920, 1080), enough(1920, 1080);
    few.fill(0, 0, 1920, 30, 200);      // 2 rows = 256 cells
    few.fill(0, 30, 43 * 15, 45, 200);  // + 43 = 299
    enough.fill(0, 0, 1920, 30, 200);
    enough.fill(0, 30, 44 * 15, 45, 200);  // 300
    feed(base);
    for (int i = 0; i < 10; ++i) feed(few);
    EXPECT_EQ(motion_status().level, 299);
    EXPECT_EQ(motion_status().active, 0);
    for (int i = 0; i < 10; ++i) feed(enough);
    EXPECT_EQ(motion_status().active, 1);
}

TEST_F(MotionTest, ShortChangeRaisesNothingLongChangeRaisesOneEvent) {
    configure();  // defaults: 500 ms, hold 3000 ms, 10 fps frames below
    Frame base(1920, 1080), changed(1920, 1080);
    changed.fill(0, 0, 960, 540, 255);
    feed(base);

    for (int i = 0; i < 3; ++i) feed(changed);  // 0.3 s
    for (int i = 0; i < 20; ++i) feed(base);
    EXPECT_EQ(motion_status().active, 0);
    EXPECT_EQ(motion_status().events, 0u);

    const uint64_t counter = motion_status().change_counter;
    for (int i = 0; i < 10; ++i) feed(changed);  // 1 s
    MotionStatus s = motion_status();
    EXPECT_EQ(s.active, 1);
    EXPECT_EQ(s.events, 1u);
    EXPECT_EQ(s.change_counter, counter + 1);
    EXPECT_TRUE(motion_wait_change(counter, 0));
    EXPECT_FALSE(motion_wait_change(s.change_counter, 0));

    // Back to the old picture: that frame is the last change; idle 3 s later.
    const uint64_t last_change = g_now;
    feed(base);
    while (g_now < last_change + 2900) feed(base);
    EXPECT_EQ(motion_status().active, 1);
    feed(base);
    feed(base);
    s = motion_status();
    EXPECT_EQ(s.active, 0);
    EXPECT_EQ(s.events, 1u);
    EXPECT_EQ(s.change_counter, counter + 2);
}

TEST_F(MotionTest, QuietFrameResetsTheCandidatePhase) {
    configure();
    Frame base(1920, 1080), a(1920, 1080);
    a.fill(0, 0, 960, 540, 255);
    feed(base);
    // 0.4 s changed, then back (still a candidate: cells moved), then one
    // quiet frame: the phase restarts every time and never reaches 500 ms.
    for (int i = 0; i < 10; ++i) {
        for (int k = 0; k < 4; ++k) feed(a);
        feed(base);
        feed(base);
    }
    EXPECT_EQ(motion_status().events, 0u);
    for (int k = 0; k < 6; ++k) feed(a);
    EXPECT_EQ(motion_status().events, 1u);
}

TEST_F(MotionTest, LastingChangeBecomesTheNewReference) {
    configure();
    Frame base(1920, 1080), window(1920, 1080);
    window.fill(400, 300, 1200, 900, 230);  // a window opens and stays
    feed(base);
    for (int i = 0; i < 8; ++i) feed(window);
    MotionStatus s = motion_status();
    ASSERT_EQ(s.active, 1);
    EXPECT_GT(s.level, 1000);
    for (int i = 0; i < 40; ++i) feed(window);
    s = motion_status();
    EXPECT_EQ(s.active, 0);
    feed(window);
    s = motion_status();
    EXPECT_EQ(s.level, 0);
    EXPECT_EQ(s.active, 0);
    EXPECT_EQ(s.events, 1u);
}

TEST_F(MotionTest, TestEventOverlaysTheStateForTheHoldTime) {
    configure(5, 500, 1000);
    Frame base(1920, 1080);
    feed(base);
    motion_test_event();
    MotionStatus s = motion_status();
    EXPECT_EQ(s.active, 1);
    EXPECT_EQ(s.testing, 1);
    EXPECT_EQ(s.events, 1u);
    g_now += 999;
    EXPECT_EQ(motion_status().active, 1);
    g_now += 1;
    s = motion_status();
    EXPECT_EQ(s.active, 0);
    EXPECT_EQ(s.testing, 0);
    EXPECT_EQ(s.change_counter, 2u);

    // During real motion a test adds no event and does not end the motion.
    Frame changed(1920, 1080);
    changed.fill(0, 0, 1920, 540, 255);
    for (int i = 0; i < 8; ++i) feed(changed);
    ASSERT_EQ(motion_status().events, 2u);
    motion_test_event();
    EXPECT_EQ(motion_status().events, 2u);
    EXPECT_EQ(motion_status().testing, 1);
    g_now += 1000;
    s = motion_status();
    EXPECT_EQ(s.testing, 0);
    EXPECT_EQ(s.active, 1);  // motion still held
}

TEST_F(MotionTest, TestEventEndsOnItsOwnAndWakesWaiters) {
    motion_set_clock_for_tests(nullptr);  // real time for the ending thread
    configure(5, 500, 500);
    const uint64_t c0 = motion_status().change_counter;
    std::thread t([] { motion_test_event(); });
    EXPECT_TRUE(motion_wait_change(c0, 10000));  // woken, not timed out
    t.join();
    // Nobody reads the status meanwhile; the waiter still sees the end.
    EXPECT_TRUE(motion_wait_change(c0 + 1, 10000));
    EXPECT_EQ(motion_status().active, 0);
}

}  // namespace
