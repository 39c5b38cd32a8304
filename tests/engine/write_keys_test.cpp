// Rewriting the settings file in place, its crash safety, and the import.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>

#include "engine/engine_config.h"
#include "engine/paths.h"

namespace {

class TempDir : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/zeb-cfg-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        cfg = dir + "/zeb.cfg";
        reset_config_warnings_for_tests();
    }
    void TearDown() override { std::system(("rm -rf " + dir).c_str()); }
    std::string read(const std::string& p) { return read_file(p).value_or("<missing>"); }
    std::string dir, cfg;
};

}  // namespace

TEST_F(TempDir, RewriteKeepsLayoutAndReplacesEveryCopy) {
    ASSERT_TRUE(write_file_whole(cfg,
                                 "# my camera\r\n"
                                 "\r\n"
                                 "fps = 10\n"
                                 "custom_key = keep me\r\n"
                                 "  fps\t= 12\r\n"
                                 "bitrate = 2000"));
    ASSERT_TRUE(write_keys(cfg, {{"fps", "25"}, {"zzz", "1"}, {"audio", "1"}}));
    EXPECT_EQ(read(cfg),
              "# my camera\r\n"
              "\r\n"
              "fps = 25\r\n"
              "custom_key = keep me\r\n"
              "fps = 25\r\n"
              "bitrate = 2000\r\n"
              "audio = 1\r\n"
              "zzz = 1\r\n");
    EXPECT_EQ(load(cfg).at("fps"), "25");
}

TEST_F(TempDir, EdgeCasesOfWriteKeys) {
    // Empty update: success without creating the file.
    EXPECT_TRUE(write_keys(cfg, {}));
    EXPECT_FALSE(file_exists(cfg));
    // Missing file: the updates alone.
    ASSERT_TRUE(write_keys(cfg, {{"fps", "5"}}));
    EXPECT_EQ(read(cfg), "fps = 5\r\n");
    // A value with a line break would add a line: refused, file untouched.
    EXPECT_FALSE(write_keys(cfg, {{"device_name", "x\r\nstream_auth = 0"}}));
    EXPECT_FALSE(write_keys(cfg, {{"bad=key", "1"}}));
    EXPECT_FALSE(write_keys(cfg, {{"", "1"}}));
    EXPECT_EQ(read(cfg), "fps = 5\r\n");
    EXPECT_FALSE(file_exists(cfg + ".tmp"));
    // The replaced file keeps its permissions.
    chmod(cfg.c_str(), 0600);
    ASSERT_TRUE(write_keys(cfg, {{"audio", "1"}}));
    struct stat st {};
    ASSERT_EQ(stat(cfg.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_TRUE(write_keys(cfg, {{"audio", "0"}}));
    EXPECT_EQ(read(cfg), "fps = 5\r\naudio = 0\r\n");
    // Settings path that is a directory: failure, nothing replaced.
    const std::string as_dir = dir + "/dir.cfg";
    ASSERT_TRUE(make_directories(as_dir));
    EXPECT_FALSE(write_keys(as_dir, {{"fps", "5"}}));
    EXPECT_TRUE(directory_exists(as_dir));
    EXPECT_FALSE(file_exists(as_dir + ".tmp"));
    // Directory that cannot be written: failure, old file intact.
    if (geteuid() != 0) {
        chmod(dir.c_str(), 0555);
        EXPECT_FALSE(write_keys(cfg, {{"fps", "6"}}));
        chmod(dir.c_str(), 0755);
        EXPECT_EQ(read(cfg), "fps = 5\r\n");
    }
}

// A writer killed at any moment leaves the old or the new file, never a mix
// or an empty one.
TEST_F(TempDir, KilledWriterLeavesOldOrNewFile) {
    auto content = [](char tag) {
        std::map<std::string, std::string> u;
        for (int i = 0; i < 300; ++i) u["key_" + std::to_string(1000 + i)] = std::string(40, tag);
        return u;
    };
    const auto a = content('a');
    const auto b = content('b');
    const std::string text_a = rewrite_config_text("", a);
    const std::string text_b = rewrite_config_text(text_a, b);
    ASSERT_NE(text_a, text_b);
    ASSERT_TRUE(write_file_whole(cfg, text_a));

    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> delay_us(0, 4000);
    int kept_old = 0, got_new = 0, tmp_left = 0;
    const int kills = 120;
    for (int k = 0; k < kills; ++k) {
        const std::string before = read(cfg);
        const bool now_a = before == text_a;
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            // Alternate, starting with the content the file does not have.
            for (int i = 0;; ++i) write_keys(cfg, ((i % 2) == 0) == now_a ? b : a);
        }
        usleep(static_cast<useconds_t>(delay_us(rng)));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        const std::string now = read(cfg);
        ASSERT_TRUE(now == text_a || now == text_b)
            << "after kill " << k << " the file has " << now.size() << " bytes";
        (now == before ? kept_old : got_new)++;
        if (file_exists(cfg + ".tmp")) ++tmp_left;
    }
    EXPECT_GT(got_new, 0);
    EXPECT_GT(tmp_left, 0);  // some kills did land in the middle of a write
    std::printf("kills: %d, file kept %d, file replaced %d, killed with a temporary file left %d\n",
                kills, kept_old, got_new, tmp_left);
}

TEST_F(TempDir, ImportAcceptsOnlyImportableCheckedKeys) {
    EXPECT_EQ(importable_keys().size(), 41u);
    ASSERT_TRUE(write_file_whole(cfg, "# mine\r\nadmin_pass = secret\r\nfps = 10\r\n"));
    const std::string imp = dir + "/import.cfg";
    ASSERT_TRUE(write_file_whole(imp,
                                 "fps = 30\n"
                                 "rtsp_port = 99999\n"
                                 "lang = ar\n"
                                 "warn_text = مرحبا\n"
                                 "admin_pass = stolen\n"
                                 "announce_ip = 1.2.3.4\n"
                                 "device_name = X\n"
                                 "stream = abc\n"
                                 "bitrate = 1234567890\n"
                                 "motion = yes\n"
                                 "unknown = 1\n"));
    ImportResult r = import_file(imp, cfg);
    EXPECT_EQ(r.applied, 4);
    EXPECT_EQ(r.rejected, 7);
    EXPECT_TRUE(r.written);
    ConfigMap m = load(cfg);
    EXPECT_EQ(m.at("fps"), "30");
    EXPECT_EQ(m.at("admin_pass"), "secret");
    EXPECT_EQ(m.count("announce_ip"), 0u);
    EXPECT_EQ(read(cfg).rfind("# mine\r\n", 0), 0u);
    // The out-of-range port was imported and falls back with a warning when read.
    EngineConfig c = read_engine_config(m);
    EXPECT_EQ(c.rtsp_port, 8554);
    ASSERT_EQ(config_warnings().size(), 1u);
    EXPECT_EQ(config_warnings()[0].en,
              "\u26A0 Invalid setting in the config file: rtsp_port = \"99999\" - using the "
              "default 8554");

    EXPECT_TRUE(import_value_ok("warn_text", ""));
    EXPECT_FALSE(import_value_ok("warn_text", std::string(161, 'x')));
    EXPECT_FALSE(import_value_ok("lang", "fr"));
    EXPECT_TRUE(import_value_ok("sub_stream", "cam_1-A"));

    // Nothing importable, or no import file: nothing written.
    const std::string before = read(cfg);
    ASSERT_TRUE(write_file_whole(imp, "admin_user = evil\n"));
    r = import_file(imp, cfg);
    EXPECT_EQ(r.applied, 0);
    EXPECT_EQ(r.rejected, 1);
    EXPECT_FALSE(r.written);
    EXPECT_FALSE(import_file(dir + "/missing.cfg", cfg).written);
    EXPECT_EQ(read(cfg), before);
}

TEST_F(TempDir, SeedCopiesFirstSeedByteForByte) {
    const std::string prog = dir + "/prog";
    ASSERT_TRUE(make_directories(prog));
    EXPECT_FALSE(seed(dir, prog));
    ASSERT_TRUE(write_file_whole(prog + "/core.dat", "fps = 7\n"));
    EXPECT_TRUE(seed(dir, prog));
    EXPECT_EQ(read(cfg), "fps = 7\n");
    const std::string bytes("rtsp_port = 554\r\n\x00\xff tail", 24);
    ASSERT_TRUE(write_file_whole(prog + "/default-settings.cfg", bytes));
    EXPECT_TRUE(seed(dir, prog));
    EXPECT_EQ(read(cfg), bytes);
}
