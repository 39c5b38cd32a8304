// Auto-revert with real files in a temporary folder and an injected clock.
#include "engine/auto_revert.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "engine/log.h"
#include "engine/paths.h"

namespace fs = std::filesystem;

namespace {

class AutoRevert : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("zeb-revert-" + std::to_string(std::random_device{}()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        cfg_ = (dir_ / "zeb.cfg").string();
        revert_set_clock_for_tests([this] { return now_; });
        LogRing::reset_for_tests();
    }
    void TearDown() override {
        revert_set_clock_for_tests(nullptr);
        fs::remove_all(dir_);
    }
    void put(const std::string& path, const std::string& text) {
        ASSERT_TRUE(write_file_whole(path, text));
    }
    std::string get(const std::string& path) { return read_file(path).value_or("<none>"); }
    bool logged(const std::string& line) {
        for (const auto& l : LogRing::lines())
            if (l == line) return true;
        return false;
    }

    fs::path dir_;
    std::string cfg_;
    int64_t now_ = 1700000000;
};

TEST_F(AutoRevert, ArmWritesBackupAndMarkerThenRevertRestores) {
    put(cfg_, "web_port = 13030\r\n");
    ASSERT_TRUE(revert_arm(cfg_, 0, "10.1.2.3"));  // 0 means the default hold
    EXPECT_EQ(get(cfg_ + ".bak"), "web_port = 13030\r\n");
    EXPECT_EQ(get(cfg_ + ".pending"), "deadline=1700000090\r\nhold=90\r\norigin=10.1.2.3\r\n");
    EXPECT_TRUE(logged("CFG: auto-revert armed for 90 s (remote change from 10.1.2.3)"));
    put(cfg_, "web_port = 14000\r\n");
    EXPECT_EQ(revert_seconds_left(cfg_), 90);
    EXPECT_TRUE(revert_changed_key(cfg_, "web_port"));
    EXPECT_FALSE(revert_changed_key(cfg_, "rtsp_port"));  // not in the backup

    ASSERT_TRUE(revert_now(cfg_, "why"));
    EXPECT_EQ(get(cfg_), "web_port = 13030\r\n");
    EXPECT_FALSE(fs::exists(cfg_ + ".bak"));
    EXPECT_FALSE(fs::exists(cfg_ + ".pending"));
    EXPECT_TRUE(logged("CFG: settings AUTO-REVERTED to previous values (why)"));
}

TEST_F(AutoRevert, ArmFailures) {
    EXPECT_FALSE(revert_arm(cfg_, 90, "10.0.0.9"));  // no settings file
    EXPECT_TRUE(
        logged("CFG: arm failed (cannot read current config) - applying without auto-revert"));
    put(cfg_, "fps = 5\r\n");
    fs::create_directories(cfg_ + ".pending");  // the marker cannot be written
    EXPECT_FALSE(revert_arm(cfg_, 90, "10.0.0.9"));
    EXPECT_FALSE(fs::exists(cfg_ + ".bak"));
    EXPECT_TRUE(
        logged("CFG: arm failed (cannot write pending marker) - applying without auto-revert"));
}

TEST_F(AutoRevert, MarkerReading) {
    struct {
        const char* text;
        int seconds_left;
    } cases[] = {
        {"hold=90\r\norigin=x\r\n", 0},                    // no deadline
        {"deadline=0\r\n", 0},                             // zero
        {"deadline=1699999999\r\n", 0},                    // passed, still pending
        {"origin=a\r\ndeadline=1700000030\r\n", 30},       // found anywhere
        {"deadline=1800000000\r\n", 100000},               // capped
        {"deadline=99999999999999999999999\r\n", 100000},  // no overflow
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        put(cfg_ + ".pending", c.text);
        EXPECT_EQ(revert_seconds_left(cfg_), c.seconds_left);
    }
    put(cfg_ + ".pending", "hold=5\r\n");
    EXPECT_FALSE(revert_is_pending(cfg_));
}

TEST_F(AutoRevert, ConfirmDeletesEvenStrayFilesAndLogsOnlyWhenPending) {
    put(cfg_ + ".bak", "old");
    EXPECT_FALSE(revert_confirm(cfg_));
    EXPECT_FALSE(fs::exists(cfg_ + ".bak"));
    EXPECT_TRUE(LogRing::lines().empty());
    put(cfg_, "x = 1\r\n");
    ASSERT_TRUE(revert_arm(cfg_, 90, "10.0.0.2"));
    EXPECT_TRUE(revert_confirm(cfg_));
    EXPECT_TRUE(logged("CFG: change confirmed by user - settings kept"));
    EXPECT_FALSE(revert_is_pending(cfg_));
}

TEST_F(AutoRevert, RevertWithoutBackupClearsMarker) {
    put(cfg_, "new\r\n");
    put(cfg_ + ".pending", "deadline=5\r\n");
    EXPECT_FALSE(revert_now(cfg_, "r"));
    EXPECT_EQ(get(cfg_), "new\r\n");
    EXPECT_FALSE(fs::exists(cfg_ + ".pending"));
    EXPECT_TRUE(logged("CFG: revert requested (r) but no backup found - marker cleared"));
}

TEST_F(AutoRevert, FailedRevertKeepsTheBackupForTheNextStart) {
    put(cfg_ + ".bak", "old\r\n");
    put(cfg_ + ".pending", "deadline=5\r\n");
    fs::create_directories(cfg_);  // the settings path cannot be replaced
    EXPECT_FALSE(revert_now(cfg_, "r"));
    EXPECT_TRUE(logged("CFG: revert FAILED to write config (r)"));
    EXPECT_EQ(get(cfg_ + ".bak"), "old\r\n");
    EXPECT_TRUE(revert_is_pending(cfg_));
}

TEST_F(AutoRevert, BindFailureRule) {
    struct {
        const char* name;
        std::string backup, now;
        BindOutcome outcome;
        bool reverted;
    } cases[] = {
        {"web port moved and busy",
         "web_port = 1\r\n",
         "web_port = 2\r\n",
         {false, false, true, true},
         true},
        {"web switched on, its port busy",
         "web_admin = 0\r\n",
         "web_admin = 1\r\n",
         {false, false, true, true},
         true},
        {"web port busy but panel off",
         "web_port = 1\r\n",
         "web_port = 2\r\n",
         {false, false, false, true},
         false},
        {"rtsp port busy, unchanged",
         "rtsp_port = 1\r\n",
         "rtsp_port = 1\r\n",
         {true, false, false, false},
         false},
        {"onvif port removed from the file",
         "onvif_port = 1\r\n",
         "fps = 3\r\n",
         {false, true, false, false},
         true},
        {"only stream_auth changed",
         "stream_auth = 0\r\n",
         "stream_auth = 1\r\n",
         {true, true, true, true},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        put(cfg_, c.now);
        put(cfg_ + ".bak", c.backup);
        put(cfg_ + ".pending", "deadline=1700000050\r\n");
        EXPECT_EQ(revert_on_bind_failure(cfg_, c.outcome), c.reverted);
        EXPECT_EQ(get(cfg_), c.reverted ? c.backup : c.now);
        EXPECT_EQ(revert_take_note(cfg_), c.reverted);
        EXPECT_FALSE(revert_take_note(cfg_));  // taken once
        revert_confirm(cfg_);
    }
    EXPECT_TRUE(
        logged("Bind failed on the new settings - previous settings restored, restarting now"));
    EXPECT_FALSE(revert_on_bind_failure(cfg_, {true, true, true, true}));  // nothing pending
}

}  // namespace
