#include <gtest/gtest.h>

#include "rtsp/recent_clients.h"
#include "rtsp/stream_queue.h"

namespace {
void push(StreamQueue& q, bool key, uint32_t ts, size_t limit = 49) {
    push_frame(q, std::vector<uint8_t>{0, 0, 0, 1, uint8_t(key ? 0x65 : 0x41)}, key, ts, limit);
}
}  // namespace

TEST(StreamQueue, KeyframeRestartsQueueAndLimitBounds) {
    StreamQueue q;
    push(q, true, 0);
    push(q, false, 6000);
    push(q, true, 12000);
    ASSERT_EQ(q.frames.size(), 1u);
    EXPECT_EQ(q.frames.front().sequence, 2u);
    EXPECT_EQ(q.frames.front().timestamp, 12000u);
    for (int i = 0; i < 60; ++i) push(q, false, 0);  // fps 15: limit 3*15+4 = 49
    EXPECT_EQ(q.frames.size(), 49u);
    EXPECT_EQ(q.frames.back().sequence, 62u);
}

TEST(StreamQueue, FrameChoiceInOrderWaitAndCatchUp) {
    StreamQueue q;
    EXPECT_FALSE(choose_frame(q, std::nullopt));  // empty: wait
    push(q, false, 0);
    EXPECT_FALSE(choose_frame(q, std::nullopt));  // no keyframe yet: wait
    push(q, true, 1);                             // seq 1, clears seq 0
    push(q, false, 2);
    push(q, false, 3);
    auto f = choose_frame(q, std::nullopt);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->sequence, 1u);  // a new viewer starts at the keyframe
    EXPECT_EQ(choose_frame(q, 1)->sequence, 2u);
    EXPECT_EQ(choose_frame(q, 2)->sequence, 3u);
    EXPECT_FALSE(choose_frame(q, 3));  // up to date: wait

    // A viewer whose next frame has left the queue jumps to the newest keyframe.
    for (int i = 0; i < 10; ++i) push(q, false, 0, 5);  // seqs 4..13, queue keeps 9..13
    push(q, true, 0, 5);                                // seq 14
    push(q, false, 0, 5);                               // seq 15
    EXPECT_EQ(choose_frame(q, 3)->sequence, 14u);
    // Behind, with no keyframe left in the queue: wait for the next one.
    for (int i = 0; i < 6; ++i) push(q, false, 0, 5);
    EXPECT_FALSE(choose_frame(q, 3));
}

TEST(AudioQueue, BoundAndCursor) {
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
    push_audio(q, pkt, sizeof pkt, 0);
    auto next = take_audio(q, last);
    ASSERT_EQ(next.size(), 1u);
    EXPECT_EQ(next[0].data->size(), 160u);
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

    // ONVIF contacts are never active and refresh their own row.
    clients_reset_for_tests();
    client_connected("10.0.0.1", k_client_main);
    client_contact("10.0.0.1", k_client_onvif);
    client_contact("10.0.0.1", k_client_onvif);
    rows = clients_snapshot();
    int contacts = 0;
    for (auto& r : rows)
        if (r.kind == k_client_onvif) {
            ++contacts;
            EXPECT_EQ(r.active, 0);
        }
    EXPECT_EQ(contacts, 1);
    // Reconnecting reuses the row.
    client_disconnected("10.0.0.1", k_client_main);
    client_connected("10.0.0.1", k_client_main);
    EXPECT_EQ(clients_snapshot().size(), rows.size());
    clients_reset_for_tests();
}
