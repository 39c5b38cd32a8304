// The live-settings watcher over real files: what it applies, when it logs,
// the file stamp, and the restart request.
#include "engine/live_settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "engine/log.h"
#include "engine/paths.h"

namespace fs = std::filesystem;

namespace {

struct LiveWatcher : ::testing::Test {
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("zeb-live-" + std::to_string(std::random_device{}()) + "-" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        cfg = (dir / "zeb.cfg").string();
        LogRing::reset_for_tests();
    }
    void TearDown() override { fs::remove_all(dir); }

    LiveSettingsWatcher make() {
        LiveSettingsHooks h;
        h.apply = [this](const ConfigMap& m) {
            ++applied;
            seen = m;
            LiveSwitches s;
            s.name_on = m.count("osd_name") && m.at("osd_name") == "1";
            s.name_text = m.count("device_name") ? m.at("device_name") : "";
            return s;
        };
        h.restart = [this] { ++restarts; };
        h.sleep = [](uint32_t) {};
        return LiveSettingsWatcher(cfg, dir.string(), h);
    }
    int applied_lines() {
        int n = 0;
        for (const auto& l : LogRing::lines()) n += l.rfind("Live settings applied:", 0) == 0;
        return n;
    }

    fs::path dir;
    std::string cfg;
    int applied = 0, restarts = 0;
    ConfigMap seen;
};

TEST_F(LiveWatcher, AppliesChangesAndLogsOnlySwitchAndNameChanges) {
    auto w = make();
    EXPECT_EQ(w.pass(), LiveSettingsWatcher::Pass::unchanged);  // no file yet
    ASSERT_TRUE(write_file_whole(cfg, "osd_name = 1\r\nosd_clock_pos = 1\r\n"));
    EXPECT_EQ(w.pass(), LiveSettingsWatcher::Pass::applied);  // first pass: silent
    EXPECT_EQ(w.pass(), LiveSettingsWatcher::Pass::unchanged);

    struct {
        const char* text;
        int lines_after;
    } steps[] = {
        {"osd_name = 1\r\nosd_clock_pos = 3\r\n", 0},  // a position only: no line
        {"osd_name = 1\r\nosd_clock_pos = 2\r\n", 0},  // same size, same second, new inode
        {"osd_name = 0\r\nosd_clock_pos = 2\r\n", 1},  // the switch
        {"osd_name = 0\r\nosd_clock_pos = 2\r\ndevice_name = Cam\r\n", 2},  // the name text
        {"osd_name = 0\r\nosd_clock_pos = 2\r\ndevice_name = Cam\r\nfps = 3\r\n", 2},
    };
    int expected_applied = 1;
    for (const auto& s : steps) {
        SCOPED_TRACE(s.text);
        ASSERT_TRUE(write_file_whole(cfg, s.text));
        EXPECT_EQ(w.pass(), LiveSettingsWatcher::Pass::applied);
        EXPECT_EQ(applied, ++expected_applied);
        EXPECT_EQ(applied_lines(), s.lines_after);
    }
    EXPECT_EQ(LogRing::lines().back(), "Live settings applied: name=0 clock=0 cursor=0");
}

TEST_F(LiveWatcher, EmptyFileIsRetriedUntilItHasKeys) {
    auto w = make();
    ASSERT_TRUE(write_file_whole(cfg, "# only a comment\r\n"));
    EXPECT_EQ(w.pass(), LiveSettingsWatcher::Pass::unchanged);
    EXPECT_EQ(w.pass(), LiveSettingsWatcher::Pass::unchanged);
    EXPECT_EQ(applied, 0);
    ASSERT_TRUE(write_file_whole(cfg, "stream_on = 0\r\n"));
    EXPECT_EQ(w.pass(), LiveSettingsWatcher::Pass::applied);
    bool paused = false;
    EXPECT_TRUE(live_stream_paused(seen, &paused));
    EXPECT_TRUE(paused);
}

}  // namespace
