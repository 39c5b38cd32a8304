// The ONVIF snapshot: the primary screen (pointer included when `show_cursor`
// is on, no overlay plates) scaled to the main stream's size and encoded as a
// quality-80 JPEG. Safe from any thread (one capturer,
// serialised by its own mutex).
#pragma once

#include <memory>
#include <mutex>
#include <string>

class ScreenCapturer;

// JPEG bytes, or empty when the size is invalid or the screen cannot be read.
std::string onvif_snapshot(int width, int height);

// A capturer for still pictures: made on first use without plates, made again
// after a failed capture (screen gone or resized). Each service keeps its own,
// so one service's snapshot never waits for another's.
class StillCapturer {
  public:
    StillCapturer();
    ~StillCapturer();
    // The screen scaled to width x height (0 x 0: its own size) as a JPEG of
    // the given quality; empty when the screen cannot be read.
    std::string jpeg(int width, int height, int quality);

  private:
    std::mutex lock_;
    std::unique_ptr<ScreenCapturer> capturer_;
};
