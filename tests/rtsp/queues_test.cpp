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
