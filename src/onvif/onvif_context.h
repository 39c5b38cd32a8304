// OnvifContext: the one record that the ONVIF endpoint, its credential gate,
// the action dispatcher, the events service and WS-Discovery share.
// `lock` guards the name fields (display name, model, scope_name, scope list)
// and the OSD layout; the subscription table, push locks and waiting long
// polls have their own mutex (subscriptions_lock), the per-address connection
// slots theirs (slots_lock). Every other field is written by engine start-up before
// any ONVIF thread starts and is read without a lock afterwards.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/net_socket.h"

// One events-service subscription (pull point or push consumer).
struct EventSubscription {
    uint64_t expiry = 0;           // tick_ms() after which it is dead
    uint64_t last_change = 0;      // motion change counter last reported
    bool initialized = false;      // the "Initialized" messages were delivered
    std::string consumer_address;  // push target URL; empty for pull
    std::string peer;              // IPv4 text of the subscribing recorder
    bool push = false;             // consumer_address not empty
    uint32_t push_state = 0;       // 0 never pushed, 1 delivered, 2 failed
    uint32_t lifetime_s = 600;     // what a pull or a renew extends it by
    uint32_t topics = 3;           // topic mask of its filter (events_messages.h)
};

// FirmwareVersion of GetDeviceInformation: the release and the platform it
// runs on ("2.0.5-Linux" here).
std::string platform_firmware_version();

struct OnvifContext {
    std::mutex lock;
    std::string short_id;
    std::string display_name = "Vistrel";
    std::string model = "Vistrel";
    uint32_t osd_name_pos = 3;  // 0 UpperLeft, 1 UpperRight, 2 LowerLeft, 3 LowerRight
    uint32_t osd_clock_pos = 1;
    uint8_t osd_clock_on = 0;
    socket_t listen_socket = k_invalid_socket;
    std::vector<std::string> scope_list;
    std::string address;
    std::string stream_name;
    std::string substream_name;
    std::string endpoint_uuid = "urn:uuid:2419d68a-2dd2-21b2-a205-001122334455";
    std::string serial_number = "ZEB-0001";
    std::string second_uuid = "urn:uuid:11223344-5566-7788-99aa-bbccddeeff00";
    std::string scope_name = "Vistrel";
    std::atomic<uint32_t> active_connections{0};
    // Connections being served per client address (onvif_take_slot), so one
    // address cannot take every slot; guarded by slots_lock.
    std::mutex slots_lock;
    std::map<std::string, uint32_t> slots_by_peer;
    std::string location = "Screen";
    std::string firmware_version = platform_firmware_version();
    std::string nonce = "0000";
    uint32_t onvif_port = 8000;
    uint32_t rtsp_port = 8554;
    uint32_t width = 1280, height = 720;
    uint32_t frame_rate = 10;
    int32_t sub_width = 0, sub_height = 0;
    bool sub_stream_on = false;
    std::string user_name, password;
    uint32_t stream_auth = 0;
    uint32_t web_port = 8080;
    bool audio_on = false;

    // Events service state (the events service owns its logic).
    std::mutex subscriptions_lock;
    std::map<std::string, EventSubscription> subscriptions;  // by random reference id
    std::map<std::string, std::shared_ptr<std::mutex>> push_locks;
    std::map<std::string, uint32_t> waiting_pulls;  // long polls waiting, by peer address
    // Seams of the events service: the wait for a motion change (seen counter,
    // time-out ms) and the Notify POST (url, envelope, time-out ms). Empty: the
    // motion detector's wait and http_post_notify. Tests and fuzzers replace them.
    std::function<bool(uint64_t, int)> events_wait;
    std::function<bool(const std::string&, const std::string&, uint32_t)> events_post;

    // Port-status reporting, set by engine start-up: (requested, actual, state)
    // with state 1 running, 2 failed. Empty in tests.
    std::function<void(int, int, int)> report_onvif_port;
    std::function<void(int, int, int)> report_discovery_port;
    // Screen grabber behind the snapshot route: JPEG of width x height, or
    // empty. Engine start-up leaves the default (onvif_snapshot); tests may
    // replace it.
    std::function<std::string(int, int)> snapshot;
};

// The process's one context (engine start-up fills it, live settings update it).
OnvifContext& onvif_context();

// A stable text for this machine (same across runs and restarts).
std::string machine_identifier();

// Copies the start-up values, sets the sub-stream flag and derives the
// identity (uuids, serial number, Digest nonce, short_id, names, scopes).
void onvif_identity_init(OnvifContext& ctx, const std::string& address, uint32_t onvif_port,
                         uint32_t rtsp_port, const std::string& stream_name, uint32_t width,
                         uint32_t height, uint32_t frame_rate, const std::string& substream_name,
                         int32_t sub_width, int32_t sub_height, const std::string& user,
                         const std::string& password, uint32_t stream_auth,
                         const std::string& camera_name);
// Same derivation from an explicit machine identifier (tests).
void onvif_identity_from(OnvifContext& ctx, const std::string& machine_id);

// Camera-name derivation; the caller holds ctx.lock.
void onvif_apply_name(OnvifContext& ctx, const std::string& camera_name);
// Live change of `device_name` (takes the lock, logs a change).
void onvif_set_name_live(OnvifContext& ctx, const std::string& camera_name);
void onvif_set_osd_layout(OnvifContext& ctx, uint32_t name_pos, bool clock_on, uint32_t clock_pos);

// IPv4 text of the peer served by the calling connection thread ("" if none).
const std::string& onvif_current_peer();
void onvif_set_current_peer(const std::string& peer);
