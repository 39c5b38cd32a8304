// The /save check: every rule with its exact error text, and what is stored.
#include <gtest/gtest.h>

#include "engine/settings_validate.h"

namespace {

#define LRM "\u200E"

const std::string k_main_width_error =
    "قيمة غير صالحة في " LRM "main_width" LRM " — المسموح: " LRM "0 / 320 \u2013 7680" LRM
    " (رقم زوجي) | Invalid value in main_width - allowed: 0 / 320 \u2013 7680 (even number)";
const std::string k_fps_error = "قيمة غير صالحة في " LRM "fps" LRM " — المسموح: " LRM
                                "1 \u2013 60" LRM " | Invalid value in fps - allowed: 1 \u2013 60";
const std::string k_rtsp_error =
    "قيمة غير صالحة في " LRM "rtsp_port" LRM " — المسموح: " LRM "1 \u2013 65535" LRM
    " | Invalid value in rtsp_port - allowed: 1 \u2013 65535";
const std::string k_sub_width_error =
    "قيمة غير صالحة في " LRM "sub_width" LRM " — المسموح: " LRM "160 \u2013 1920" LRM
    " (رقم زوجي) | Invalid value in sub_width - allowed: 160 \u2013 1920 (even number)";
const std::string k_top_error =
    "قيمة غير صالحة في " LRM "motion_top" LRM " — المسموح: " LRM "0 / 0 \u2013 40" LRM
    " | Invalid value in motion_top - allowed: 0 / 0 \u2013 40";
const std::string k_stream_error =
    "قيمة غير صالحة في " LRM "stream" LRM " — المسموح: " LRM "A-Z a-z 0-9 _ - (1\u201332)" LRM
    " | Invalid value in stream - allowed: A-Z a-z 0-9 _ - (1-32)";
const std::string k_device_error =
    "اسم الجهاز لازم يكون من " LRM "1" LRM " إلى " LRM "32" LRM
    " حرفًا، وبدون المحارف < > & \" ' | Device name must be 1 to 32 characters, without the "
    "characters < > & \" '";
const std::string k_address_error =
    "عنوان غير صالح في «العنوان المُعلَن» | Invalid address in \"Announced address\"";
const std::string k_ports_error =
    "لازم كل خدمة على منفذ مختلف: " LRM "RTSP" LRM " و" LRM "ONVIF" LRM
    " ولوحة التحكّم | Each service needs a different port: RTSP, ONVIF and the Web panel cannot "
    "share the same number";
const std::string k_password_error = "كلمة مرور غير صالحة";
const std::string k_nothing_error = "لا يوجد ما يُحفظ";

struct Case {
    const char* name;
    std::map<std::string, std::string> form;
    ConfigMap file;
    std::string error;                          // empty: accepted
    std::map<std::string, std::string> stored;  // accepted: these pairs among the changes
};

const Case k_cases[] = {
    {"main_width zero", {{"main_width", "0"}}, {}, "", {{"main_width", "0"}}},
    {"main_width odd", {{"main_width", "321"}}, {}, k_main_width_error, {}},
    {"main_width too wide", {{"main_width", "7682"}}, {}, k_main_width_error, {}},
    {"main_width below range", {{"main_width", "318"}}, {}, k_main_width_error, {}},
    {"sub_width odd", {{"sub_width", "641"}}, {}, k_sub_width_error, {}},
    {"fps trimmed, leading zeros dropped", {{"fps", " \t015 "}}, {}, "", {{"fps", "15"}}},
    {"fps zero", {{"fps", "0"}}, {}, k_fps_error, {}},
    {"fps 61", {{"fps", "61"}}, {}, k_fps_error, {}},
    {"fps sign", {{"fps", "+10"}}, {}, k_fps_error, {}},
    {"fps empty", {{"fps", ""}}, {}, k_fps_error, {}},
    {"fps huge", {{"fps", "99999999999999999999"}}, {}, k_fps_error, {}},
    {"motion_top zero", {{"motion_top", "0"}}, {}, "", {{"motion_top", "0"}}},
    {"motion_top 41", {{"motion_top", "41"}}, {}, k_top_error, {}},
    {"port zero", {{"rtsp_port", "0"}}, {}, k_rtsp_error, {}},
    {"port 65536", {{"rtsp_port", "65536"}}, {}, k_rtsp_error, {}},
    {"first error in the fixed order", {{"fps", "0"}, {"rtsp_port", "0"}}, {}, k_rtsp_error, {}},
    {"flag words",
     {{"web_admin", "yes"},
      {"substream", "TRUE"},
      {"stream_auth", "on"},
      {"discovery", "ON"},
      {"motion", " 1"},
      {"show_cursor", "1"}},
     {},
     "",
     {{"web_admin", "0"},
      {"substream", "1"},
      {"stream_auth", "1"},
      {"discovery", "0"},
      {"motion", "0"},
      {"show_cursor", "1"}}},
    {"name with a blank", {{"stream", "my cam"}}, {}, k_stream_error, {}},
    {"name of 33", {{"stream", std::string(33, 'a')}}, {}, k_stream_error, {}},
    {"name ok", {{"sub_stream", "cam_1-A"}}, {}, "", {{"sub_stream", "cam_1-A"}}},
    {"device name with &", {{"device_name", "A&B"}}, {}, k_device_error, {}},
    {"device name with a tab", {{"device_name", "A\tB"}}, {}, k_device_error, {}},
    {"device name empty", {{"device_name", ""}}, {}, k_device_error, {}},
    {"device name UTF-8", {{"device_name", "كاميرا 1"}}, {}, "", {{"device_name", "كاميرا 1"}}},
    {"address 256", {{"announce_ip", "192.168.1.256"}}, {}, k_address_error, {}},
    {"address three parts", {{"announce_ip", "10.0.1"}}, {}, k_address_error, {}},
    {"address with a blank", {{"announce_ip", " 10.0.0.1"}}, {}, k_address_error, {}},
    {"address leading zero",
     {{"announce_ip", "010.0.0.1"}},
     {},
     "",
     {{"announce_ip", "010.0.0.1"}}},
    {"address cleared", {{"announce_ip", ""}}, {}, "", {{"announce_ip", ""}}},
    {"port equal to one kept in the file",
     {{"rtsp_port", "13030"}},
     {{"web_port", "13030"}},
     k_ports_error,
     {}},
    {"port equal to a default", {{"onvif_port", "554"}}, {}, k_ports_error, {}},
    {"ports moved together",
     {{"rtsp_port", "13030"}, {"web_port", "13031"}},
     {{"web_port", "13030"}},
     "",
     {{"rtsp_port", "13030"}, {"web_port", "13031"}}},
    {"bad port in the file counts as its default",
     {{"rtsp_port", "13030"}},
     {{"web_port", "99999"}},
     k_ports_error,
     {}},
    {"password of 64",
     {{"admin_pass", std::string(64, 'p')}},
     {},
     "",
     {{"admin_pass", std::string(64, 'p')}}},
    {"password of 65", {{"admin_pass", std::string(65, 'p')}}, {}, k_password_error, {}},
    {"password with DEL", {{"admin_pass", "ab\x7f"}}, {}, k_password_error, {}},
    {"password with a line break", {{"admin_pass", "ab\ncd"}}, {}, k_password_error, {}},
    {"empty password alone", {{"admin_pass", ""}}, {}, k_nothing_error, {}},
    {"unknown keys only", {{"osd_name", "0"}, {"x", "1"}}, {}, k_nothing_error, {}},
};

TEST(SaveValidation, Table) {
    for (const Case& c : k_cases) {
        SCOPED_TRACE(c.name);
        const SaveCheck r = validate_save(c.form, c.file);
        if (!c.error.empty()) {
            EXPECT_FALSE(r.ok);
            EXPECT_EQ(r.error, c.error);
            EXPECT_TRUE(r.changes.empty());
            continue;
        }
        EXPECT_TRUE(r.ok) << r.error;
        for (const auto& [k, v] : c.stored) {
            auto it = r.changes.find(k);
            ASSERT_NE(it, r.changes.end()) << k;
            EXPECT_EQ(it->second, v) << k;
        }
        EXPECT_EQ(r.changes.size(), c.stored.size());
    }
}

}  // namespace
