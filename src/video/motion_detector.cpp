#include "video/motion_detector.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/clock.h"
#include "video/motion_taskbar.h"

namespace {

constexpr int32_t k_cols = 128;
constexpr int k_cell_delta = 14;     // luminance step that makes a cell "changed"
constexpr int k_taskbar_every = 30;  // frames between taskbar queries
constexpr int k_max_overlays = 4;
constexpr int32_t k_thresholds[10] = {300, 150, 80, 40, 20, 12, 7, 4, 2, 1};

// Shared with other threads: guarded by `mutex`.
struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    MotionConfig config;
    MotionStatus status;
    bool motion = false;    // internal motion flag
    uint64_t test_end = 0;  // 0: no test event running
    bool test_ender_running = false;
    std::function<uint64_t()> clock;
    std::function<bool(MotionRect*)> taskbar_source;
};

// Distribution-thread state: no lock.
struct Grid {
    int32_t rows = 0;
    int32_t frame_w = 0;
    int32_t frame_h = 0;
    std::vector<uint8_t> current, previous, reference, mask;
    MotionRect overlays[k_max_overlays];
    int overlay_count = 0;
    MotionRect taskbar;
    bool taskbar_known = false;
    int taskbar_frames = 0;
    bool has_previous = false;
    uint64_t candidate_start = 0;
    int candidate_count = 0;
    uint64_t last_motion = 0;
    int32_t peak = 0;
    uint64_t reference_tick = 0;
};

Shared& shared() {
    static Shared s;
    return s;
}

Grid& grid() {
    static Grid g;
    return g;
}

// Set by motion_configure (any thread), consumed by the distribution thread.
std::atomic<bool> g_rebuild_mask{false};

uint64_t now_ms(Shared& s) {
    return s.clock ? s.clock() : tick_ms();
}

// Caller holds s.mutex.
void refresh_test_state(Shared& s, uint64_t now) {
    bool over = s.test_end == 0 || now >= s.test_end;
    if (over) s.test_end = 0;
    uint8_t reported = (s.motion || !over) ? 1 : 0;
    s.status.testing = over ? 0 : 1;
    if (reported != s.status.active) {
        s.status.change_counter++;
        s.status.change_tick = now;
        s.status.active = reported;
        s.changed.notify_all();
    }
}

int32_t pct_of(int32_t pct, int32_t length) {
    return int32_t(int64_t(pct) * length / 100);
}

void mark_rect(Grid& g, int32_t cell_w, int32_t cell_h, const MotionRect& r) {
    const int32_t w = g.frame_w, h = g.frame_h;
    if (r.right < 1 || r.bottom < 1 || r.left >= w || r.top >= h) return;
    if (r.right <= r.left || r.bottom <= r.top) return;
    int32_t c0 = std::max(r.left, 0) / cell_w;
    int32_t c1 = std::min((std::min(r.right, w) - 1) / cell_w, k_cols - 1);
    int32_t r0 = std::max(r.top, 0) / cell_h;
    int32_t r1 = std::min((std::min(r.bottom, h) - 1) / cell_h, g.rows - 1);
    for (int32_t row = r0; row <= r1; ++row)
        for (int32_t col = c0; col <= c1; ++col) g.mask[size_t(row) * k_cols + col] = 1;
}

void rebuild_mask(Grid& g, const MotionConfig& cfg, int32_t cell_w, int32_t cell_h) {
    std::fill(g.mask.begin(), g.mask.end(), 0);
    const int32_t w = g.frame_w, h = g.frame_h;
    if (cfg.top_pct > 0) mark_rect(g, cell_w, cell_h, {0, 0, w, pct_of(cfg.top_pct, h)});
    if (cfg.bottom_pct > 0) mark_rect(g, cell_w, cell_h, {0, h - pct_of(cfg.bottom_pct, h), w, h});
    if (cfg.corners_pct > 0) {
        int32_t cw = pct_of(cfg.corners_pct, w), ch = pct_of(cfg.corners_pct, h);
        mark_rect(g, cell_w, cell_h, {0, 0, cw, ch});
        mark_rect(g, cell_w, cell_h, {w - cw, 0, w, ch});
        mark_rect(g, cell_w, cell_h, {0, h - ch, cw, h});
        mark_rect(g, cell_w, cell_h, {w - cw, h - ch, w, h});
    }
    if (cfg.ignore_taskbar && g.taskbar_known) mark_rect(g, cell_w, cell_h, g.taskbar);
    for (int i = 0; i < g.overlay_count; ++i) mark_rect(g, cell_w, cell_h, g.overlays[i]);
}

void rebuild_grid(Grid& g, int32_t w, int32_t h, int32_t rows) {
    g.rows = rows;
    g.frame_w = w;
    g.frame_h = h;
    size_t n = size_t(rows) * k_cols;
    g.current.assign(n, 0);
    g.previous.assign(n, 0);
    g.reference.assign(n, 0);
    g.mask.clear();  // empty: built on this frame
    g.reference_tick = 0;
    g.last_motion = 0;
    g.candidate_start = 0;
    g.peak = 0;
    g.candidate_count = 0;
    g.taskbar_frames = 0;
    g.has_previous = false;
    g_rebuild_mask = true;
}

int32_t grid_rows(int32_t w, int32_t h) {
    if (w < 1 || h < 1) return 72;
    return int32_t(std::clamp<int64_t>(int64_t(h) * k_cols / w, 16, 128));
}

void compute_cells(Grid& g, const uint8_t* px, int32_t w, int32_t h, int32_t cell_w,
                   int32_t cell_h) {
    const int32_t step_x = cell_w < 3 ? 1 : cell_w / 3;
    const int32_t step_y = cell_h < 3 ? 1 : cell_h / 3;
    const size_t stride = size_t(w) * 4;
    for (int32_t r = 0; r < g.rows; ++r) {
        const int32_t y_end = std::min((r + 1) * cell_h, h);
        for (int32_t c = 0; c < k_cols; ++c) {
            const int32_t x_end = std::min((c + 1) * cell_w, w);
            uint32_t sum = 0, count = 0;
            for (int32_t y = r * cell_h + step_y / 2; y < y_end; y += step_y) {
                const uint8_t* row = px + size_t(y) * stride;
                for (int32_t x = c * cell_w + step_x / 2; x < x_end; x += step_x) {
                    const uint8_t* p = row + size_t(x) * 4;
                    sum += (77u * p[2] + 150u * p[1] + 29u * p[0]) >> 8;
                    ++count;
                }
            }
            g.current[size_t(r) * k_cols + c] = uint8_t(count ? sum / count : 0);
        }
    }
}

void check_taskbar(Grid& g, Shared& s, const MotionConfig& cfg) {
    ++g.taskbar_frames;
    if (g.taskbar_frames < k_taskbar_every && !g.mask.empty() && !g_rebuild_mask) return;
    g.taskbar_frames = 0;
    if (!cfg.ignore_taskbar) return;
    std::function<bool(MotionRect*)> source;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        source = s.taskbar_source;
    }
    MotionRect r;
    bool ok = source ? source(&r) : motion_query_taskbar(&r);
    bool known = ok && r.right > r.left && r.bottom > r.top;
    if (!known) r = MotionRect{};
    if (known != g.taskbar_known || !(r == g.taskbar)) {
        g.taskbar_known = known;
        g.taskbar = r;
        g_rebuild_mask = true;
    }
}

}  // namespace

int32_t motion_threshold(int32_t sensitivity) {
    return k_thresholds[std::clamp(sensitivity, 1, 10) - 1];
}

MotionConfig motion_clamp(const MotionConfig& c) {
    MotionConfig r = c;
    r.sensitivity = std::clamp(c.sensitivity, 1, 10);
    r.min_duration_ms = std::clamp(c.min_duration_ms, 100, 5000);
    r.hold_ms = std::clamp(c.hold_ms, 500, 60000);
    r.top_pct = std::clamp(c.top_pct, 0, 40);
    r.bottom_pct = std::clamp(c.bottom_pct, 0, 40);
    r.corners_pct = std::clamp(c.corners_pct, 0, 30);
    return r;
}

void motion_configure(const MotionConfig& config) {
    Shared& s = shared();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.config = motion_clamp(config);
    s.status.enabled = s.config.enabled ? 1 : 0;
    s.status.threshold = motion_threshold(s.config.sensitivity);
    if (!s.config.enabled) {
        s.motion = false;
        s.test_end = 0;
    }
    g_rebuild_mask = true;
    refresh_test_state(s, now_ms(s));
}

void motion_set_exclusions(const MotionRect* rects, int count) {
    Grid& g = grid();
    count = std::clamp(count, 0, k_max_overlays);
    if (count > 0 && !rects) count = 0;
    if (count == g.overlay_count && std::equal(rects, rects + count, g.overlays)) return;
    for (int i = 0; i < count; ++i) g.overlays[i] = rects[i];
    g.overlay_count = count;
    g_rebuild_mask = true;
}

void motion_process_frame(const uint8_t* bgra, int width, int height) {
    Shared& s = shared();
    Grid& g = grid();
    MotionConfig cfg;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        cfg = s.config;
    }
    if (!cfg.enabled || !bgra || width < 16 || height < 16) return;

    // A frame narrower than the grid (or shorter than its rows) has cells of
    // no size: nothing sensible to measure, so it is skipped like a tiny frame.
    const int32_t rows = grid_rows(width, height);
    const int32_t cell_w = width / k_cols, cell_h = height / rows;
    if (cell_w < 1 || cell_h < 1) return;

    if (width != g.frame_w || height != g.frame_h || g.reference.empty())
        rebuild_grid(g, width, height, rows);

    compute_cells(g, bgra, width, height, cell_w, cell_h);

    check_taskbar(g, s, cfg);
    if (g.mask.empty() || g_rebuild_mask.exchange(false)) {
        g.mask.resize(size_t(g.rows) * k_cols);
        rebuild_mask(g, cfg, cell_w, cell_h);
    }

    const size_t n = g.mask.size();
    int32_t cells = 0;
    for (size_t i = 0; i < n; ++i) cells += g.mask[i] ? 0 : 1;
    const int32_t threshold = motion_threshold(cfg.sensitivity);
    const uint64_t now = now_ms(s);

    if (!g.has_previous) {
        g.reference = g.current;
        g.previous = g.current;
        g.has_previous = true;
        g.reference_tick = now;
        std::lock_guard<std::mutex> lock(s.mutex);
        s.status.level = 0;
        s.status.threshold = threshold;
        s.status.enabled = 1;
        s.status.cells = cells;
        s.status.update_tick = now;
        return;
    }

    int32_t moved = 0, level = 0;
    for (size_t i = 0; i < n; ++i) {
        if (g.mask[i]) continue;
        int cur = g.current[i];
        if (std::abs(cur - int(g.previous[i])) >= k_cell_delta) ++moved;
        if (std::abs(cur - int(g.reference[i])) >= k_cell_delta) ++level;
    }
    std::swap(g.current, g.previous);

    bool motion;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        motion = s.motion;
    }
    const bool was_motion = motion;
    if (motion) {
        if (moved >= threshold) g.last_motion = now;
        if (level > g.peak) {
            g.peak = level;
            g.last_motion = now;
        }
        if (now - g.last_motion >= uint64_t(cfg.hold_ms)) {
            g.reference = g.previous;
            g.peak = 0;
            motion = false;
            g.reference_tick = now;
        }
    } else if (level >= threshold || moved >= threshold) {
        if (g.candidate_start == 0) g.candidate_start = now;
        ++g.candidate_count;
        if (now - g.candidate_start >= uint64_t(cfg.min_duration_ms) && g.candidate_count >= 3) {
            g.last_motion = now;
            g.peak = level;
            g.candidate_start = 0;
            g.candidate_count = 0;
            motion = true;
        }
    } else {
        g.candidate_start = 0;
        g.candidate_count = 0;
        if (now - g.reference_tick >= uint64_t(cfg.hold_ms)) {
            g.reference = g.previous;
            g.reference_tick = now;
        }
    }

    std::lock_guard<std::mutex> lock(s.mutex);
    // Detection may have been switched off while this frame was measured.
    if (!s.config.enabled) return;
    s.status.enabled = 1;
    s.status.level = level;
    s.status.threshold = threshold;
    s.status.cells = cells;
    s.status.update_tick = now;
    s.motion = motion;
    if (motion && !was_motion) s.status.events++;
    refresh_test_state(s, now);
}

MotionStatus motion_status() {
    Shared& s = shared();
    std::lock_guard<std::mutex> lock(s.mutex);
    refresh_test_state(s, now_ms(s));
    return s.status;
}

bool motion_wait_change(uint64_t counter, int timeout_ms) {
    Shared& s = shared();
    std::unique_lock<std::mutex> lock(s.mutex);
    if (s.status.change_counter > counter) return true;
    if (timeout_ms <= 0) return false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    return s.changed.wait_until(lock, deadline, [&] { return s.status.change_counter > counter; });
}

void motion_test_event() {
    Shared& s = shared();
    uint32_t duration;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        duration = uint32_t(s.config.hold_ms < 1 ? 3000 : s.config.hold_ms);
        uint64_t now = now_ms(s);
        s.test_end = now + duration;
        if (!s.status.active) s.status.events++;
        refresh_test_state(s, now);
        // One thread ends the test, however often it is started again meanwhile.
        if (s.test_ender_running) return;
        s.test_ender_running = true;
    }
    // Ends the test on time even when nobody reads the status meanwhile.
    std::thread([duration] {
        uint64_t wait = duration + 50;
        for (;;) {
            sleep_ms(uint32_t(wait));
            Shared& sh = shared();
            std::lock_guard<std::mutex> lock(sh.mutex);
            const uint64_t now = now_ms(sh);
            refresh_test_state(sh, now);
            if (sh.test_end == 0) {
                sh.test_ender_running = false;
                return;
            }
            wait = std::clamp<uint64_t>(sh.test_end - now + 50, 10, duration + 50);
        }
    }).detach();
}

void motion_note_pull() {
    Shared& s = shared();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.status.last_pull_tick = now_ms(s);
}

void motion_note_push(uint32_t delivered, uint32_t failed) {
    Shared& s = shared();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.status.last_push_tick = now_ms(s);
    s.status.push_delivered = delivered;
    s.status.push_failed = failed;
}

void motion_note_subscribers(int32_t subscribers, int32_t push_subscribers) {
    Shared& s = shared();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.status.subscribers = std::max(subscribers, 0);
    s.status.push_subscribers = std::max(push_subscribers, 0);
}

MotionGridInfo motion_grid_info() {
    const Grid& g = grid();
    MotionGridInfo info;
    if (g.rows < 1) return info;
    info.cols = k_cols;
    info.rows = g.rows;
    info.cell_w = g.frame_w / k_cols;
    info.cell_h = g.frame_h / g.rows;
    return info;
}

bool motion_cell_excluded(int row, int col) {
    const Grid& g = grid();
    if (row < 0 || col < 0 || row >= g.rows || col >= k_cols || g.mask.empty()) return false;
    return g.mask[size_t(row) * k_cols + col] != 0;
}

void motion_reset_for_tests() {
    Shared& s = shared();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.config = MotionConfig{};
        s.status = MotionStatus{};
        s.motion = false;
        s.test_end = 0;
        s.test_ender_running = false;
    }
    grid() = Grid{};
    g_rebuild_mask = false;
}

void motion_set_clock_for_tests(std::function<uint64_t()> clock) {
    Shared& s = shared();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.clock = std::move(clock);
}

void motion_set_taskbar_source_for_tests(std::function<bool(MotionRect*)> source) {
    Shared& s = shared();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.taskbar_source = std::move(source);
}
