// The camera's per-frame work at a real frame rate, as the distribution loop
// does it: capture with the default overlays, main encode, sub scale and
// encode, sleep to the next frame. Prints the process CPU time per frame,
// the CPU per step (thread CPU time) and the bit rate of the main stream, so
// it can stand beside a GStreamer pipeline run on the same screen.
//   step_bench FRAMES FPS KBPS [--full] [--sub WxH] [--out OUT.h264]
// --full: the whole-frame path (every frame read, converted and encoded);
// otherwise the damage path (only what changed).
#include <sys/resource.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "video/color_convert.h"
#include "video/h264_encoder.h"
#include "video/overlay.h"
#include "video/screen_capture.h"

static double cpu_seconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec +
           (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

static double thread_ms() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

struct Phase {
    const char* name;
    double ms = 0;
};

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: step_bench FRAMES FPS KBPS [--full] [--sub WxH] [--out F]\n");
        return 2;
    }
    const int frames = std::atoi(argv[1]);
    const int fps = std::atoi(argv[2]);
    const int kbps = std::atoi(argv[3]);
    bool full = false;
    int sw = 0, sh = 0;
    FILE* out = nullptr;
    for (int i = 4; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--full")) full = true;
        if (!std::strcmp(argv[i], "--sub") && i + 1 < argc)
            std::sscanf(argv[++i], "%dx%d", &sw, &sh);
        if (!std::strcmp(argv[i], "--out") && i + 1 < argc) out = std::fopen(argv[++i], "wb");
    }
    damage_capture_on.store(!full);
    ScreenCapturer cap;
    H264Encoder enc, sub;
    if (!cap.init() || !enc.open(cap.width(), cap.height(), fps, kbps) ||
        (sw > 0 && !sub.open(sw, sh, fps, 512))) {
        std::fprintf(stderr, "no X screen or no encoder\n");
        return 1;
    }
    const int W = cap.width(), H = cap.height();
    cap.set_overlay(OverlaySettings{});
    std::vector<uint8_t> au, sub_buf(size_t(sw) * sh * 4), sub_au;
    std::vector<PixelRect> main_changes, sub_changes;
    bool sub_valid = false;
    uint64_t coded_before = 0;
    double idr_ms = 0, p_ms = 0;
    int idr_n = 0, p_n = 0;
    size_t bytes = 0;
    Phase capture{"capture+overlays"}, main_enc{"main convert+encode"}, sub_scale{"sub scale"},
        sub_enc{"sub convert+encode"};
    double cpu0 = cpu_seconds();
    auto next = std::chrono::steady_clock::now();
    for (int i = 0; i < frames; ++i) {
        au.clear();
        sub_au.clear();
        double t = thread_ms();
        const uint8_t* px = cap.capture();
        double t1 = thread_ms();
        capture.ms += t1 - t;
        if (px) {
            if (full) {
                enc.encode(px, W, i == 0, au);
            } else {
                main_changes =
                    cap.all_changed() ? std::vector<PixelRect>{{0, 0, W, H}} : cap.changed_rects();
                enc.encode_changes(px, W, i == 0, main_changes, au);
            }
            double t2 = thread_ms();
            main_enc.ms += t2 - t1;
            const H264Encoder::Counts& c = enc.counts();
            if (c.encoded != coded_before) {  // the library ran: IDR or P?
                bool idr = false;
                for (const NalSpan& n : split_annexb(au.data(), au.size()))
                    idr = idr || (n.data[0] & 0x1F) == 5;
                (idr ? idr_ms : p_ms) += t2 - t1;
                ++(idr ? idr_n : p_n);
                coded_before = c.encoded;
            }
            if (sw > 0) {
                sub_changes.clear();
                if (full || !sub_valid || cap.all_changed()) {
                    scale_nearest(px, W, H, sub_buf.data(), sw, sh);
                    sub_changes.push_back({0, 0, sw, sh});
                    sub_valid = true;
                } else {
                    for (const PixelRect& r : cap.changed_rects()) {
                        PixelRect d = scaled_area(r, W, H, sw, sh);
                        if (!d.empty() && scale_nearest_area(px, W, H, sub_buf.data(), sw, sh, d))
                            sub_changes.push_back(d);
                    }
                }
                double t3 = thread_ms();
                sub_scale.ms += t3 - t2;
                if (full)
                    sub.encode(sub_buf.data(), sw, i == 0, sub_au);
                else
                    sub.encode_changes(sub_buf.data(), sw, i == 0, sub_changes, sub_au);
                sub_enc.ms += thread_ms() - t3;
            }
        }
        bytes += au.size();
        if (out) std::fwrite(au.data(), 1, au.size(), out);
        next += std::chrono::milliseconds(1000 / fps);
        std::this_thread::sleep_until(next);
    }
    double cpu = cpu_seconds() - cpu0;
    if (out) std::fclose(out);

    // Reference costs of the single steps on a whole frame, for the breakdown.
    std::vector<uint8_t> frame(size_t(W) * H * 4, 0x80), yuv(size_t(W) * H * 3 / 2);
    double t = thread_ms();
    for (int i = 0; i < 20; ++i)
        bgrx_to_i420(frame.data(), W * 4, W & ~1, H & ~1, yuv.data(), yuv.data() + W * H,
                     yuv.data() + W * H * 5 / 4);
    double conv = (thread_ms() - t) / 20;
    t = thread_ms();
    for (int i = 0; i < 20; ++i) draw_overlays(frame.data(), W, H, OverlaySettings{});
    double ovl = (thread_ms() - t) / 20;

    std::printf(
        "frames %d  cpu_ms_per_frame %.2f  kbit_per_s %.0f  (%dx%d, %d fps, target %d kbit/s, "
        "%s)\n",
        frames, cpu * 1000 / frames, bytes * 8.0 / 1000 / (static_cast<double>(frames) / fps), W, H,
        fps, kbps, full ? "whole frames" : "damage");
    for (const Phase* p : {&capture, &main_enc, &sub_scale, &sub_enc})
        std::printf("  %-22s %.2f ms/frame\n", p->name, p->ms / frames);
    std::printf("  main library pictures: %d IDR at %.2f ms, %d P at %.2f ms each\n", idr_n,
                idr_n ? idr_ms / idr_n : 0.0, p_n, p_n ? p_ms / p_n : 0.0);
    std::printf("  (whole-frame conversion %.2f ms, overlay compose %.2f ms)\n", conv, ovl);
    for (const H264Encoder* e : {&enc, &sub}) {
        const H264Encoder::Counts& c = e->counts();
        std::printf(
            "  %s pictures: %llu by the library, %llu skip, %llu change in intra rows,"
            " %llu keyframes of stored rows\n",
            e == &enc ? "main" : "sub", (unsigned long long)c.encoded,
            (unsigned long long)c.skipped, (unsigned long long)c.spliced,
            (unsigned long long)c.put_together);
    }
    return 0;
}
