// Rewriting the settings file in place, its crash safety, and the import.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
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
    ASSERT_TRUE(write_file_whole(
        cfg, "# my camera\r\n\r\nfps = 10\ncustom_key = keep me\r\n  fps\t= 12\r\nbitrate = 2000"));
    ASSERT_TRUE(write_keys(cfg, {{"fps", "25"}, {"zzz", "1"}, {"audio", "1"}}));
    // Comments, blank lines, unknown keys and order survive; both copies of
    // fps change; new keys follow in key order; every line ends in CRLF.
    EXPECT_EQ(read(cfg),
              "# my camera\r\n\r\nfps = 25\r\ncustom_key = keep me\r\nfps = 25\r\n"
              "bitrate = 2000\r\naudio = 1\r\nzzz = 1\r\n");
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
    EXPECT_EQ(read(cfg), "fps = 5\r\naudio = 1\r\n");
    // Settings path that is a directory: failure, nothing replaced.
    const std::string as_dir = dir + "/dir.cfg";
    ASSERT_TRUE(make_directories(as_dir));
    EXPECT_FALSE(write_keys(as_dir, {{"fps", "5"}}));
    EXPECT_TRUE(directory_exists(as_dir));
    EXPECT_FALSE(file_exists(as_dir + ".tmp"));
}

// A writer that dies inside its write leaves the old file (the next write
// clears its partial ".tmp"); one that gets through leaves the new file. The
// kernel ends the writer exactly inside write(2) once the file-size limit is
// reached (SIGXFSZ), so no kill depends on timing.
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
    ASSERT_EQ(text_a.size(), text_b.size());
    const rlim_t size = text_b.size();
    struct Case {
        rlim_t limit;  // bytes the writer may write
        bool done;     // the write gets through
    } const cases[] = {{0, false},        {1, false},   {4096, false},
                       {size - 1, false}, {size, true}, {RLIM_INFINITY, true}};
    for (const Case& c : cases) {
        ASSERT_TRUE(write_file_whole(cfg, text_a)) << c.limit;  // also replaces a stale .tmp
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const rlimit rl{c.limit, c.limit};
            setrlimit(RLIMIT_FSIZE, &rl);
            _exit(write_keys(cfg, b) ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        if (c.done)
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.limit;
        else
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << c.limit;
        EXPECT_EQ(read(cfg), c.done ? text_b : text_a) << c.limit;
        EXPECT_EQ(path_exists(cfg + ".tmp"), !c.done) << c.limit;
    }

    // Killed at any other moment of a run of writes (each kill waits for the
    // writer to announce its next write): old or new, never a mix.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(fds[0]);
        for (int i = 0;; ++i) {
            if (write(fds[1], "w", 1) != 1) _exit(1);
            write_keys(cfg, i % 2 ? a : b);
        }
    }
    close(fds[1]);
    char byte;
    for (int i = 0; i < 40; ++i) ASSERT_EQ(::read(fds[0], &byte, 1), 1);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    close(fds[0]);
    const std::string now = read(cfg);
    EXPECT_TRUE(now == text_a || now == text_b) << now.size() << " bytes";
}

// Files of the data directory are read and replaced only as regular files:
// a planted link is neither followed nor replaced, and a FIFO does not hang
// the reader.
TEST_F(TempDir, LinksAndSpecialFilesAreRefused) {
    const std::string secret = dir + "/secret", victim = dir + "/victim";
    ASSERT_TRUE(write_file_whole(secret, "stream_auth = 0\n"));
    ASSERT_TRUE(write_file_whole(victim, "precious"));
    ASSERT_EQ(symlink(secret.c_str(), cfg.c_str()), 0);
    EXPECT_FALSE(read_file(cfg));
    EXPECT_TRUE(load(cfg).empty());
    EXPECT_EQ(read_file(cfg, 1024, true), "stream_auth = 0\n");  // a file the user names
    EXPECT_FALSE(write_keys(cfg, {{"fps", "5"}}));
    EXPECT_FALSE(write_file_whole(cfg, "fps = 5\n"));
    EXPECT_TRUE(is_symlink(cfg));
    EXPECT_EQ(read(secret), "stream_auth = 0\n");
    // A link planted at the temporary name is removed, not written through.
    ASSERT_EQ(unlink(cfg.c_str()), 0);
    ASSERT_EQ(symlink(victim.c_str(), (cfg + ".tmp").c_str()), 0);
    EXPECT_TRUE(write_keys(cfg, {{"fps", "5"}}));
    EXPECT_EQ(read(cfg), "fps = 5\r\n");
    EXPECT_EQ(read(victim), "precious");
    EXPECT_FALSE(path_exists(cfg + ".tmp"));
    // A FIFO: refused at once.
    const std::string fifo = dir + "/ports.status";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(read_file(fifo));
    EXPECT_FALSE(write_file_whole(fifo, "x"));
}

TEST_F(TempDir, ImportAcceptsOnlyImportableCheckedKeys) {
    EXPECT_EQ(importable_keys().size(), 41u);
    ASSERT_TRUE(write_file_whole(cfg, "# mine\r\nadmin_pass = secret\r\nfps = 10\r\n"));
    const std::string imp = dir + "/import.cfg";
    // Accepted: fps, rtsp_port (its range is checked only when it is read),
    // lang, warn_text. Rejected: keys outside the import list and bad values.
    ASSERT_TRUE(
        write_file_whole(imp,
                         "fps = 30\nrtsp_port = 99999\nlang = ar\nwarn_text = مرحبا\n"
                         "admin_pass = stolen\nannounce_ip = 1.2.3.4\ndevice_name = X\n"
                         "stream = abc\nbitrate = 1234567890\nmotion = yes\nunknown = 1\n"));
    const ImportResult r = import_file(imp, cfg);
    EXPECT_EQ(r.applied, 4);
    EXPECT_EQ(r.rejected, 7);
    EXPECT_TRUE(r.written);
    EXPECT_EQ(read(cfg),
              "# mine\r\nadmin_pass = secret\r\nfps = 30\r\nlang = ar\r\nrtsp_port = 99999\r\n"
              "warn_text = مرحبا\r\n");
    EXPECT_EQ(read_engine_config(load(cfg)).rtsp_port, 8554);
    EXPECT_TRUE(import_value_ok("warn_text", ""));
    EXPECT_FALSE(import_value_ok("warn_text", std::string(161, 'x')));
    EXPECT_FALSE(import_file(dir + "/missing.cfg", cfg).written);
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
