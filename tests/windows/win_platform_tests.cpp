// The engine's Windows platform files, run under Wine (run-unit-tests.sh) or
// on Windows: hashes and random bytes, "enc:" protection and the pwenc
// marker, whole-file writes (also against a writer killed at any moment),
// exclusive listeners and the port fallback, adapters, paths and stamps, and
// the icon and help text of zeb_onvif.exe.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <set>
#include <string>

#include "app/startup.h"
#include "engine/base64.h"
#include "engine/clock.h"
#include "engine/crypto.h"
#include "engine/engine_config.h"
#include "engine/file_stamp.h"
#include "engine/net_address.h"
#include "engine/net_socket.h"
#include "engine/paths.h"
#include "engine/ports.h"
#include "engine/wide_text_win.h"

namespace {

class WinDir : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t base[MAX_PATH];
        ASSERT_GT(GetTempPathW(MAX_PATH, base), 0u);
        dir = wide_to_utf8(base) + "zeb-win-" + std::to_string(GetCurrentProcessId()) + "-" +
              std::to_string(tick_ms());
        ASSERT_TRUE(make_directories(dir + "\\sub"));
        cfg = dir + "\\zeb.cfg";
    }
    std::string read(const std::string& p) { return read_file(p).value_or("<missing>"); }
    std::string dir, cfg;
};

// Two settings texts of the same size, for the writer that gets killed.
std::map<std::string, std::string> settings_of(char tag) {
    std::map<std::string, std::string> u;
    for (int i = 0; i < 300; ++i) u["key_" + std::to_string(1000 + i)] = std::string(40, tag);
    return u;
}

}  // namespace

TEST(WinCrypto, KnownVectorsAndRandomBytes) {
    EXPECT_EQ(to_hex(md5("")), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(to_hex(md5("abc")), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(to_hex(sha1("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(to_hex(sha256("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // Digest HA1 of RFC 2617's example.
    EXPECT_EQ(to_hex(md5("Mufasa:testrealm@host.com:Circle Of Life")),
              "939e7578ed9e3c518a452acee763bce9");
    uint8_t a[32] = {}, b[32] = {};
    ASSERT_TRUE(random_bytes(a, sizeof a));
    ASSERT_TRUE(random_bytes(b, sizeof b));
    EXPECT_NE(to_hex(a, sizeof a), to_hex(b, sizeof b));
    EXPECT_NE(to_hex(a, sizeof a), std::string(64, '0'));
}

TEST_F(WinDir, ProtectedPasswordAndMarker) {
    const std::string stored = encode_admin_pass("pässwörd", dir);
    ASSERT_EQ(stored.rfind("enc:", 0), 0u) << stored;
    bool tampered = true;
    EXPECT_EQ(decode_admin_pass(stored, dir, &tampered), "pässwörd");
    EXPECT_FALSE(tampered);
    // An altered blob is refused, never taken as a password. (Wine checks
    // only the encrypted part and its signature, at the blob's end; Windows
    // checks every byte.)
    const std::string blob = *base64_decode(stored.substr(4));
    for (size_t from_end : {1, 20, 40}) {
        std::string altered = blob;
        altered[altered.size() - from_end] ^= 0x5a;
        const std::string locked =
            decode_admin_pass("enc:" + base64_encode(altered), dir, &tampered);
        EXPECT_TRUE(tampered) << from_end;
        EXPECT_EQ(locked[0], '\x01') << from_end;
    }
    EXPECT_TRUE(decode_admin_pass("enc:%%%", dir, &tampered) != "%%%" && tampered);
    // A plain password counts as tampered only under the marker.
    ASSERT_TRUE(write_pwenc_marker(dir, true));
    EXPECT_TRUE(read_pwenc_marker(dir));
    decode_admin_pass("plain", dir, &tampered);
    EXPECT_TRUE(tampered);
    ASSERT_TRUE(write_pwenc_marker(dir, false));
    EXPECT_FALSE(read_pwenc_marker(dir));
    EXPECT_EQ(decode_admin_pass("plain", dir, &tampered), "plain");
    EXPECT_FALSE(tampered);
}

TEST_F(WinDir, WholeFileWrites) {
    const std::string name = dir + "\\إعدادات-ü.cfg";  // UTF-8 path
    ASSERT_TRUE(write_file_whole(name, "old"));
    const FileStamp before = file_stamp(name);
    ASSERT_TRUE(before.valid);
    ASSERT_TRUE(write_file_whole(name, "new content"));
    EXPECT_EQ(read(name), "new content");
    const FileStamp after = file_stamp(name);
    EXPECT_TRUE(after.valid && after.size == 11 && after != before);
    EXPECT_FALSE(path_exists(name + ".tmp"));
    EXPECT_TRUE(file_exists(name) && !directory_exists(name));

    // A stale ".tmp" from a crash does not stop the next write.
    ASSERT_TRUE(write_file_whole(name + ".tmp", "stale"));
    ASSERT_TRUE(write_file_whole(name, "after crash"));
    EXPECT_EQ(read(name), "after crash");
    EXPECT_FALSE(path_exists(name + ".tmp"));

    // A private file (sessions) is written and read back by its owner.
    ASSERT_TRUE(write_file_whole(dir + "\\sessions.dat", "enc:x", true));
    EXPECT_EQ(read(dir + "\\sessions.dat"), "enc:x");

    // A link planted in the data directory is neither followed nor replaced
    // (where the system lets this process make links; Wine 8 only says it did).
    const std::string link = dir + "\\link.cfg";
    if (CreateSymbolicLinkW(utf8_to_wide(link).c_str(), utf8_to_wide(name).c_str(),
                            SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
        path_exists(link)) {
        EXPECT_TRUE(is_symlink(link));
        EXPECT_FALSE(read_file(link));
        EXPECT_EQ(read_file(link, 1024, true), "after crash");
        EXPECT_FALSE(write_file_whole(link, "through the link"));
        EXPECT_EQ(read(name), "after crash");
    }

    // Failures leave the old file and no ".tmp": a directory at the target,
    // a target held open without delete sharing, a missing directory.
    EXPECT_FALSE(write_file_whole(dir + "\\sub", "x"));
    EXPECT_TRUE(directory_exists(dir + "\\sub"));
    HANDLE held = CreateFileW(utf8_to_wide(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    clear_write_failure();
    const bool wrote = write_file_whole(name, "while held");
    CloseHandle(held);
    if (!wrote) {  // Windows refuses to replace an open file; Wine may not
        EXPECT_EQ(last_write_failure(), WriteFailure::replace);
        EXPECT_EQ(read(name), "after crash");
        EXPECT_FALSE(path_exists(name + ".tmp"));
    }
    EXPECT_FALSE(write_file_whole(dir + "\\missing\\zeb.cfg", "x"));
    EXPECT_EQ(last_write_failure(), WriteFailure::open);
    EXPECT_FALSE(file_error_text().empty());
    EXPECT_FALSE(read_file(dir + "\\sub"));
    EXPECT_FALSE(read_file(name, 3));  // larger than allowed
}

// A writer stopped at any moment of a run of settings rewrites leaves the old
// or the new file whole. The writer is this binary in its --writer mode; it
// releases a semaphore before each write. Windows has no file-size limit to
// end it inside a write, so the writer is frozen (SuspendThread) at many
// moments spread over its writes, and the file read as a crash there would
// leave it; then it is killed as well.
TEST_F(WinDir, KilledWriterLeavesOldOrNewFile) {
    const auto a = settings_of('a'), b = settings_of('b');
    const std::string text_a = rewrite_config_text("", a);
    const std::string text_b = rewrite_config_text(text_a, b);
    ASSERT_TRUE(write_file_whole(cfg, text_a));
    const std::wstring sem_name =
        L"zeb-writer-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(tick_ms());
    HANDLE sem = CreateSemaphoreW(nullptr, 0, 1 << 20, sem_name.c_str());
    ASSERT_NE(sem, nullptr);
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring cmd =
        L"\"" + std::wstring(exe) + L"\" --writer \"" + utf8_to_wide(cfg) + L"\" " + sem_name;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &si, &pi));
    LARGE_INTEGER freq{}, seed{};
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&seed);
    uint32_t rng = static_cast<uint32_t>(seed.QuadPart) | 1;
    std::set<std::string> seen;
    int bad = 0;
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(WaitForSingleObject(sem, 120000), WAIT_OBJECT_0) << "writer stalled";
        // A varying point inside the write that follows: 0 to 4 ms on.
        rng = rng * 1664525u + 1013904223u;
        LARGE_INTEGER t0{}, t{};
        QueryPerformanceCounter(&t0);
        const LONGLONG wait = freq.QuadPart * ((rng >> 8) % 4000) / 1000000;
        do QueryPerformanceCounter(&t);
        while (t.QuadPart - t0.QuadPart < wait);
        ASSERT_NE(SuspendThread(pi.hThread), static_cast<DWORD>(-1));
        const std::string now = read(cfg);
        ResumeThread(pi.hThread);
        if (now != text_a && now != text_b) ++bad;
        seen.insert(now.substr(0, 40));
    }
    TerminateProcess(pi.hProcess, 9);
    WaitForSingleObject(pi.hProcess, INFINITE);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    CloseHandle(sem);
    EXPECT_EQ(bad, 0) << "of 200 looks at the file, " << bad << " saw neither old nor new";
    EXPECT_GE(seen.size(), 2u) << "the writer made no progress";
    const std::string last = read(cfg);
    EXPECT_TRUE(last == text_a || last == text_b) << last.size() << " bytes after the kill";
}

TEST(WinNet, ExclusiveListenerAndPortFallback) {
    ASSERT_TRUE(net_init());
    const socket_t first = tcp_listen(0, 8, true);
    ASSERT_NE(first, k_invalid_socket) << net_last_error();
    const int port = socket_local_port(first);
    // Windows says 10048; a port held exclusively, and Wine, say 10013.
    EXPECT_EQ(tcp_listen(static_cast<uint16_t>(port), 8, true), k_invalid_socket);
    const std::set<int> busy_codes = {10048, 10013};
    EXPECT_TRUE(busy_codes.count(net_last_error())) << net_last_error();

    reset_port_slots_for_tests();
    int actual = 0;
    const socket_t moved = bind_with_fallback(port, &actual, 2, 10);
    ASSERT_NE(moved, k_invalid_socket);
    EXPECT_NE(actual, port);
    const auto cands = candidate_ports(port);
    EXPECT_NE(std::find(cands.begin(), cands.end(), actual), cands.end());
    // The holder: this program on Windows, "unknown" where the system gives
    // no process id (Wine).
    const std::string owner = port_owner(port);
    EXPECT_TRUE(owner == "unknown" || owner == "win_platform_tests.exe") << owner;

    // A connection both ways, with the peer's address.
    const socket_t c = tcp_connect("127.0.0.1", static_cast<uint16_t>(port), 20000);
    ASSERT_NE(c, k_invalid_socket);
    std::string peer;
    const socket_t s = tcp_accept(first, &peer);
    ASSERT_NE(s, k_invalid_socket);
    EXPECT_EQ(peer, "127.0.0.1");
    ASSERT_TRUE(send_all(c, std::string("ping")));
    ASSERT_TRUE(set_recv_timeout(s, 20000));
    char buf[8] = {};
    EXPECT_EQ(recv_some(s, buf, sizeof buf), 4);
    EXPECT_EQ(wait_readable(s, 10), 0);
    net_close(c);
    EXPECT_EQ(wait_readable(s, 20000), 1);
    EXPECT_EQ(recv_some(s, buf, sizeof buf), 0);
    for (socket_t x : {s, moved, first}) net_close(x);
    // Nobody listens there any more: no owner, and a refused connect.
    EXPECT_EQ(lookup_port_owner(port), "");
    EXPECT_EQ(tcp_connect("127.0.0.1", static_cast<uint16_t>(port), 20000), k_invalid_socket);
}

TEST(WinNet, AdaptersAndAddressChoice) {
    const auto adapters = enumerate_adapters();
    ASSERT_FALSE(adapters.empty());
    bool only_loopback = true;
    for (const auto& a : adapters) only_loopback = only_loopback && (a.loopback || !a.up);
    std::string log;
    const std::string chosen = choose_address(adapters, &log);
    if (only_loopback) {
        EXPECT_EQ(chosen, "127.0.0.1") << log;
    }
    for (const auto& ip : multicast_interface_addresses()) EXPECT_NE(ip.rfind("127.", 0), 0u);
    // UDP on a free port, with a multicast membership.
    ASSERT_TRUE(net_init());
    const socket_t u = udp_bind(0);
    ASSERT_NE(u, k_invalid_socket);
    EXPECT_TRUE(udp_join_group(u, "239.255.255.250", ""));
    net_close(u);
}

TEST(WinPaths, DirectoriesAndClock) {
    EXPECT_NE(program_path().find("win_platform_tests.exe"), std::string::npos);
    EXPECT_TRUE(directory_exists(program_directory()));
    wchar_t old[MAX_PATH] = {};
    const DWORD had = GetEnvironmentVariableW(L"ProgramData", old, MAX_PATH);
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    const std::string base = wide_to_utf8(tmp) + "zeb-pd-" + std::to_string(tick_ms());
    SetEnvironmentVariableW(L"ProgramData", utf8_to_wide(base).c_str());
    EXPECT_EQ(data_directory(), base + "\\Orvanta");
    EXPECT_TRUE(directory_exists(base + "\\Orvanta"));
    SetEnvironmentVariableW(L"ProgramData", nullptr);
    const std::string known = data_directory();  // the known folder
    EXPECT_EQ(known.size() > 8 ? known.substr(known.size() - 8) : known, "\\Orvanta");
    SetEnvironmentVariableW(L"ProgramData", had ? old : nullptr);
    // The tick moves on (in steps of about 16 ms on Windows, lagging under
    // Wine): wait for 50 ms of it, with a generous deadline.
    const uint64_t t0 = tick_ms();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (tick_ms() - t0 < 50 && std::chrono::steady_clock::now() < deadline) sleep_ms(10);
    EXPECT_GE(tick_ms() - t0, 50u);
}

// zeb_onvif.exe, built beside this program: its icon in every size the shell
// asks for, and help that names the Windows data directory.
TEST(WinProgram, IconAndHelpText) {
    const std::wstring exe = utf8_to_wide(program_directory() + "\\zeb_onvif.exe");
    HMODULE m = LoadLibraryExW(exe.c_str(), nullptr,
                               LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_TRUE(m);
    HRSRC group = FindResourceW(m, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
    ASSERT_TRUE(group);
    // The group: a 6-byte header (count at 4), then 14-byte entries (width first, 0 = 256).
    const auto* dir = static_cast<const uint8_t*>(LockResource(LoadResource(m, group)));
    std::set<int> sizes;
    for (int i = 0; i < dir[4]; ++i) sizes.insert(dir[6 + 14 * i] ? dir[6 + 14 * i] : 256);
    EXPECT_EQ(sizes, (std::set<int>{16, 32, 48, 256}));
    for (int size : {16, 48, 256}) {
        HICON icon = static_cast<HICON>(
            LoadImageW(m, MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
        ASSERT_TRUE(icon) << size;
        ICONINFO info{};
        BITMAP bm{};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        GetObjectW(info.hbmColor, sizeof bm, &bm);
        EXPECT_EQ(bm.bmWidth, size);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
    EXPECT_TRUE(LoadIconW(m, MAKEINTRESOURCEW(1)));
    FreeLibrary(m);

    const std::string help = help_text();
    EXPECT_NE(
        help.find("data directory (%ProgramData%\\Orvanta, usually C:\\ProgramData\\Orvanta)"),
        std::string::npos)
        << help;
    EXPECT_EQ(help.find("/var/lib"), std::string::npos);
}

int main(int argc, char** argv) {
    // Writer mode for the kill test: rewrite the settings file for ever,
    // releasing the semaphore before each write.
    if (argc == 4 && std::string(argv[1]) == "--writer") {
        HANDLE sem = OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, utf8_to_wide(argv[3]).c_str());
        if (!sem) return 2;
        const auto a = settings_of('a'), b = settings_of('b');
        for (int i = 0;; ++i) {
            ReleaseSemaphore(sem, 1, nullptr);
            write_keys(argv[2], i % 2 ? a : b);
        }
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
