// The settings routes without the HTTP server: what each answers and what it
// leaves in the data directory.
#include "web/settings_api.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "engine/auto_revert.h"
#include "engine/engine_config.h"
#include "engine/paths.h"
#include "engine/ports.h"
#include "rtsp/rtsp_engine.h"

namespace fs = std::filesystem;

namespace {

struct SettingsRoutes : ::testing::Test {
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("zeb-api-" + std::to_string(std::random_device{}()) + "-" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        ctx.advertised_address = "192.0.2.7";
        ctx.version_text = "v";
        ctx.data_dir = dir.string();
        ctx.cfg_path = (dir / "zeb.cfg").string();
        ctx.screen_width = 1366;
        ctx.screen_height = 768;
        reset_port_slots_for_tests();
        // The revert watcher a remote save starts must not run out during a test.
        revert_set_clock_for_tests([] { return int64_t(1700000000); });
    }
    void TearDown() override {
        revert_confirm(ctx.cfg_path);  // ends any watcher
        revert_set_clock_for_tests(nullptr);
        fs::remove_all(dir);
    }
    SettingsAnswer call(const std::string& method, const std::string& path,
                        const std::string& body = "", const std::string& ip = "127.0.0.1") {
        return handle_settings_route(ctx, {method, path, body, ip});
    }
    std::string file() { return read_file(ctx.cfg_path).value_or(""); }

    fs::path dir;
    SettingsApiContext ctx;
};

TEST_F(SettingsRoutes, ConfigJsonOfAMissingFileShowsDefaultsAndRunningPorts) {
    port_slot(k_slot_rtsp).state.store(k_slot_state_running);
    port_slot(k_slot_rtsp).actual.store(8555);
    port_slot(k_slot_onvif).state.store(k_slot_state_down);
    port_slot(k_slot_onvif).actual.store(0);
    const std::string j = call("GET", "/config.json").body;
    EXPECT_EQ(j.rfind("{\"ip\":\"192.0.2.7\",\"version\":\"v\",\"resolution\":\"1366x768\",", 0),
              0u)
        << j;
    for (const char* part :
         {"\"rtsp_main\":\"rtsp://192.0.2.7:8555/screenlive\"", "\"rtsp_port\":8555",
          "\"onvif_port\":18000", "\"web_port\":13030", "\"admin_user\":\"zeb\"",
          "\"fps\":10,\"bitrate\":2000,\"stream\":\"screenlive\",\"main_width\":0",
          "\"mo_pull_age\":-1", "\"ips\":["}) {
        EXPECT_NE(j.find(part), std::string::npos) << part << " in " << j;
    }
    EXPECT_EQ(j.substr(j.size() - 25), ",\"device_name\":\"Vistrel\"}");
}

TEST_F(SettingsRoutes, ConfigJsonReadsTheFileLeniently) {
    ASSERT_TRUE(write_file_whole(ctx.cfg_path,
                                 "main_width = 640\r\nfps = 99\r\nstream = a<b\r\n"
                                 "motion_top = 0\r\nweb_admin = 0\r\n"));
    const std::string j = call("GET", "/config.json").body;
    for (const char* part : {"\"resolution\":\"640x358\"", "\"fps\":10", "\"main_width\":640",
                             "\"stream\":\"a\\u003cb\"", "\"motion_top\":0", "\"web_admin\":0"})
        EXPECT_NE(j.find(part), std::string::npos) << part << " in " << j;
}

TEST_F(SettingsRoutes, SaveArmsOnlyForRemoteChangesOfReachKeys) {
    ASSERT_TRUE(write_file_whole(ctx.cfg_path, "rtsp_port = 554\r\nweb_port = 13030\r\n"));
    struct {
        const char* body;
        const char* ip;
        bool pending;
    } cases[] = {
        {"fps=12", "10.0.0.5", false},
        {"rtsp_port=554", "10.0.0.5", false},  // the file's own value
        {"web_port=14000", "127.0.0.1", false},
        {"web_port=14001", "::1", false},
        {"web_port=14002", "::ffff:127.0.0.2", false},
        {"stream_auth=1", "10.0.0.5", true},  // a key the file lacks
        {"web_port=14003", "10.0.0.5", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        revert_confirm(ctx.cfg_path);
        const SettingsAnswer a = call("POST", "/save", c.body, c.ip);
        EXPECT_EQ(a.status, "200 OK");
        EXPECT_EQ(a.body,
                  std::string("{\"ok\":true,\"needsRestart\":true,\"pending\":") +
                      (c.pending ? "true,\"holdSeconds\":90}" : "false,\"holdSeconds\":0}"));
        EXPECT_EQ(revert_is_pending(ctx.cfg_path), c.pending);
    }
    EXPECT_NE(file().find("web_port = 14003\r\n"), std::string::npos);
    EXPECT_EQ(read_file(ctx.cfg_path + ".bak").value_or(""),
              "rtsp_port = 554\r\nweb_port = 14002\r\nfps = 12\r\nstream_auth = 1\r\n");
    EXPECT_EQ(call("GET", "/pending.json").body, "{\"pending\":true,\"secondsLeft\":90}");
    EXPECT_EQ(call("POST", "/confirm").body, "{\"ok\":true,\"was_pending\":true}");
    EXPECT_EQ(call("POST", "/confirm").body, "{\"ok\":true,\"was_pending\":false}");
    EXPECT_EQ(call("GET", "/pending.json").body, "{\"pending\":false,\"secondsLeft\":0}");
}

TEST_F(SettingsRoutes, SaveErrorsWriteNothing) {
    ASSERT_TRUE(write_file_whole(ctx.cfg_path, "web_port = 13030\r\n"));
    SettingsAnswer a = call("POST", "/save", "fps=9&rtsp_port=13030", "10.0.0.5");
    EXPECT_EQ(a.status, "400 Bad Request");
    EXPECT_EQ(a.body.rfind("{\"ok\":false,\"error\":\"لازم كل خدمة", 0), 0u) << a.body;
    EXPECT_EQ(file(), "web_port = 13030\r\n");
    EXPECT_FALSE(revert_is_pending(ctx.cfg_path));

    // The writer's failure disarms at once.
    fs::create_directories(ctx.cfg_path + ".tmp");  // the temporary file cannot be opened
    a = call("POST", "/save", "web_port=14000", "10.0.0.5");
    EXPECT_EQ(a.body, "{\"ok\":false,\"error\":\"تعذّر فتح ملف الإعدادات\"}");
    EXPECT_FALSE(revert_is_pending(ctx.cfg_path));
    EXPECT_FALSE(fs::exists(ctx.cfg_path + ".bak"));
    EXPECT_EQ(file(), "web_port = 13030\r\n");
}

TEST_F(SettingsRoutes, PasswordIsStoredProtectedAndMarked) {
    ASSERT_TRUE(write_file_whole(ctx.cfg_path, "admin_pass = tolvu\r\n"));
    ASSERT_EQ(call("POST", "/save", "admin_pass=n%26w+pass").status, "200 OK");
    const ConfigMap m = load(ctx.cfg_path);
    ASSERT_EQ(m.at("admin_pass").rfind("enc:", 0), 0u);
    EXPECT_TRUE(read_pwenc_marker(ctx.data_dir));
    bool tampered = true;
    EXPECT_EQ(decode_admin_pass(m.at("admin_pass"), ctx.data_dir, &tampered), "n&w pass");
    EXPECT_FALSE(tampered);
}

}  // namespace
