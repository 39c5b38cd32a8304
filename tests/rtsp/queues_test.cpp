#include <gtest/gtest.h>

#include "rtsp/recent_clients.h"
#include "rtsp/stream_queue.h"

namespace {
void push(StreamQueue& q, bool key, size_t limit = 49) {
    push_frame(q, {0, 0, 0, 1, uint8_t(key ? 0x65 : 0x41)}, key, uint32_t(q.next_sequence * 9000),
               limit);
}
std::optional<uint64_t> next(const StreamQueue& q, std::optional<uint64_t> last) {
    auto f = choose_frame(q, last);
    return f ? std::optional(f->sequence) : std::nullopt;
}
}  // namespace

TEST(StreamQueue, KeyframeRestartsQueueAndLimitBounds) {
    StreamQueue q;
    push(q, true);
    push(q, false);
    push(q, true);
    ASSERT_EQ(q.frames.size(), 1u);
    EXPECT_EQ(q.frames.front().sequence, 2u);
    EXPECT_EQ(q.frames.front().timestamp, 18000u);
    for (int i = 0; i < 60; ++i) push(q, false);  // fps 15: limit 3*15+4 = 49
    EXPECT_EQ(q.frames.size(), 49u);
    EXPECT_EQ(q.frames.back().sequence, 62u);
}

TEST(StreamQueue, FrameChoiceInOrderWaitAndCatchUp) {
    StreamQueue q;
    EXPECT_EQ(next(q, std::nullopt), std::nullopt);  // empty: wait
    push(q, false);
    EXPECT_EQ(next(q, std::nullopt), std::nullopt);  // no keyframe yet: wait
    push(q, true);                                   // seq 1, clears seq 0
    push(q, false);
    push(q, false);
    EXPECT_EQ(next(q, std::nullopt), 1u);  // a new viewer starts at the keyframe
    EXPECT_EQ(next(q, 1), 2u);
    EXPECT_EQ(next(q, 2), 3u);
    EXPECT_EQ(next(q, 3), std::nullopt);  // up to date: wait
    // A viewer whose next frame has left the queue jumps to the newest keyframe.
    for (int i = 0; i < 10; ++i) push(q, false, 5);  // seqs 4..13, queue keeps 9..13
    push(q, true, 5);                                // seq 14
    push(q, false, 5);
    EXPECT_EQ(next(q, 3), 14u);
    // Behind, with no keyframe left in the queue: wait for the next one.
    for (int i = 0; i < 6; ++i) push(q, false, 5);
    EXPECT_EQ(next(q, 3), std::nullopt);
}

TEST(AudioQueue, BoundCursorAndContinuousClock) {
    AudioQueue q;
    uint8_t pkt[160] = {0xFF};
    for (int i = 0; i < 60; ++i) push_audio(q, pkt, sizeof pkt, uint32_t(i * 160));
    EXPECT_EQ(q.packets.size(), 50u);
    std::optional<uint64_t> last;
    auto first = take_audio(q, last);
    ASSERT_EQ(first.size(), 50u);
    EXPECT_EQ(first.front().sequence, 10u);
    EXPECT_EQ(*last, 59u);
    EXPECT_TRUE(take_audio(q, last).empty());
    push_audio_continuous(q, pkt, sizeof pkt);
    push_audio_continuous(q, pkt, sizeof pkt);
    auto more = take_audio(q, last);
    ASSERT_EQ(more.size(), 2u);
    EXPECT_EQ(more[1].timestamp - more[0].timestamp, 160u);
    EXPECT_EQ(more[0].data->size(), 160u);
}

TEST(RecentClients, PruneKeepsActiveRows) {
    clients_reset_for_tests();
    for (int i = 0; i < 13; ++i) client_connected("10.0.0." + std::to_string(i), k_client_main);
    EXPECT_EQ(clients_snapshot().size(), 13u);  // all active: nothing pruned
    client_disconnected("10.0.0.5", k_client_main);
    client_connected("10.0.0.99", k_client_sub);
    auto rows = clients_snapshot();
    ASSERT_EQ(rows.size(), 13u);
    for (auto& r : rows) EXPECT_NE(r.address, "10.0.0.5");
    EXPECT_EQ(rows.back().address, "10.0.0.99");
    // ONVIF contacts are never active and refresh their own row; reconnecting
    // a viewer reuses its row.
    clients_reset_for_tests();
    client_connected("10.0.0.1", k_client_main);
    client_contact("10.0.0.1", k_client_onvif);
    client_contact("10.0.0.1", k_client_onvif);
    client_disconnected("10.0.0.1", k_client_main);
    client_connected("10.0.0.1", k_client_main);
    rows = clients_snapshot();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(std::make_tuple(rows[0].kind, rows[0].active), std::make_tuple(k_client_main, 1));
    EXPECT_EQ(std::make_tuple(rows[1].kind, rows[1].active), std::make_tuple(k_client_onvif, 0));
    clients_reset_for_tests();
}

TEST(MediaClock, FrameTimesFollowTheClockInWholeSteps) {
    struct Case {
        std::optional<uint64_t> previous;
        uint64_t clock;
        uint64_t expect;
    };
    const Case cases[] = {
        {std::nullopt, 123456, 123456},  // a stream's first frame: the clock
        {90000, 99000, 99000},           // on time: one step
        {90000, 103400, 99000},          // late by less than half a step: still one
        {90000, 103600, 108000},         // a frame slot missed: two steps
        {90000, 90000, 99000},           // early or at the same time: one step forward
        {90000, 90000 + 20 * 90000ULL, 90000 + 20 * 90000ULL},  // after an idle spell
    };
    for (const Case& c : cases) EXPECT_EQ(next_frame_time(c.previous, c.clock, 9000), c.expect);
    EXPECT_EQ(media_ticks(2'500'000, 90000), 225000u);
    EXPECT_EQ(media_ticks(1'000'000'000'123'000ULL, 8000), 8'000'000'000'984ULL);
}

TEST(MediaClock, AudioJoinsWithoutGapsAndReanchorsOnRestart) {
    AudioQueue q;
    uint8_t pkt[160] = {0xFF};
    auto last_ts = [&q] { return q.packets.back().timestamp; };
    const uint64_t t0 = 50'000'000;  // media clock, microseconds
    push_audio_continuous(q, pkt, 160, t0);
    EXPECT_EQ(last_ts(), uint32_t(media_ticks(t0, 8000) - 160));  // ends now
    // Late or early delivery of the next packets does not move them.
    push_audio_continuous(q, pkt, 160, t0 + 300'000);
    push_audio_continuous(q, pkt, 160, t0 + 5'000);
    EXPECT_EQ(last_ts(), uint32_t(media_ticks(t0, 8000) + 160));
    // A restart after an idle spell starts at the clock again.
    audio_restarted(q);
    push_audio_continuous(q, pkt, 160, t0 + 20'000'000);
    EXPECT_EQ(last_ts(), uint32_t(media_ticks(t0 + 20'000'000, 8000) - 160));
    // So does a run that lost more than a second of samples; never backwards.
    push_audio_continuous(q, pkt, 160, t0 + 22'000'000);
    EXPECT_EQ(last_ts(), uint32_t(media_ticks(t0 + 22'000'000, 8000) - 160));
    audio_restarted(q);
    push_audio_continuous(q, pkt, 160, t0 + 21'000'000);
    EXPECT_EQ(last_ts(), uint32_t(media_ticks(t0 + 22'000'000, 8000)));
}
