// The start-up platform files of the Windows build under Wine: the Global
// single-instance mutex, the encoder DLL search, UTC time fields and the
// machine identifier. Linked into win_platform_tests.exe.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "engine/paths.h"
#include "host/instance_lock.h"
#include "onvif/onvif_context.h"
#include "video/local_time.h"
#include "video/shared_library.h"

TEST(HostWin, UtcTimeFields) {
    struct Case {
        std::time_t t;
        int year, mon, mday, hour, min, sec, wday;
    };
    const Case cases[] = {
        {0, 70, 0, 1, 0, 0, 0, 4},
        {951782400, 100, 1, 29, 0, 0, 0, 2},  // 2000-02-29, a leap day
        {1700000000, 123, 10, 14, 22, 13, 20, 2},
    };
    for (const Case& c : cases) {
        std::tm tm{};
        ASSERT_TRUE(utc_time(c.t, tm)) << c.t;
        EXPECT_EQ(tm.tm_year, c.year) << c.t;
        EXPECT_EQ(tm.tm_mon, c.mon) << c.t;
        EXPECT_EQ(tm.tm_mday, c.mday) << c.t;
        EXPECT_EQ(tm.tm_hour, c.hour) << c.t;
        EXPECT_EQ(tm.tm_min, c.min) << c.t;
        EXPECT_EQ(tm.tm_sec, c.sec) << c.t;
        EXPECT_EQ(tm.tm_wday, c.wday) << c.t;
    }
    std::tm bad{};
    bad.tm_year = 99;
    EXPECT_FALSE(utc_time(-1, bad));
    EXPECT_EQ(bad.tm_year, 0);  // cleared, never left half-filled
}

TEST(HostWin, SecondInstanceByMutex) {
    const std::string dir = data_directory();
    InstanceOptions opt;
    opt.relaunch_tries = 3;
    opt.relaunch_wait_ms = 10;
    ASSERT_EQ(acquire_instance(dir, opt), InstanceOutcome::engine);
    // The mutex now exists: a background start leaves quietly.
    opt.background = true;
    EXPECT_EQ(acquire_instance(dir, opt), InstanceOutcome::exit_quietly);
    // A relaunch whose predecessor never ends waits its tries out, then runs.
    opt.relaunch = true;
    const ULONGLONG t0 = GetTickCount64();
    EXPECT_EQ(acquire_instance(dir, opt), InstanceOutcome::engine);
    EXPECT_GE(GetTickCount64() - t0, 25u);
    HANDLE probe = CreateMutexW(nullptr, FALSE, L"Global\\Orvanta.Vistrel.SingleInstance");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    if (probe) CloseHandle(probe);
}

TEST(HostWin, EncoderDllBesideTheProgramNotFromTheCurrentFolder) {
    // The build puts openh264.dll beside the test program.
    void* lib = shared_library_open("openh264.dll");
    ASSERT_NE(lib, nullptr);
    EXPECT_NE(shared_library_symbol(lib, "WelsCreateSVCEncoder"), nullptr);
    EXPECT_NE(shared_library_symbol(lib, "WelsDestroySVCEncoder"), nullptr);
    EXPECT_EQ(shared_library_symbol(lib, "NoSuchExport"), nullptr);
    shared_library_close(lib);
    EXPECT_EQ(shared_library_open("no-such-library.dll"), nullptr);

    // A DLL that lies only in the current folder is not picked up.
    wchar_t tmp[MAX_PATH] = {};
    ASSERT_GT(GetTempPathW(MAX_PATH, tmp), 0u);
    const std::wstring dir = std::wstring(tmp) + L"vistrel-dll-cwd";
    CreateDirectoryW(dir.c_str(), nullptr);
    const std::wstring planted = dir + L"\\planted-encoder.dll";
    std::wstring own(MAX_PATH, L'\0');
    own.resize(GetModuleFileNameW(nullptr, own.data(), MAX_PATH));
    const std::wstring source = own.substr(0, own.find_last_of(L"\\/")) + L"\\openh264.dll";
    ASSERT_TRUE(CopyFileW(source.c_str(), planted.c_str(), FALSE));
    wchar_t old_cwd[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, old_cwd);
    ASSERT_TRUE(SetCurrentDirectoryW(dir.c_str()));
    void* planted_lib = shared_library_open("planted-encoder.dll");
    SetCurrentDirectoryW(old_cwd);
    EXPECT_EQ(planted_lib, nullptr);
    if (planted_lib) shared_library_close(planted_lib);
    DeleteFileW(planted.c_str());
    RemoveDirectoryW(dir.c_str());
}

TEST(HostWin, MachineIdentifierIsStable) {
    const std::string a = machine_identifier();
    EXPECT_FALSE(a.empty());
    EXPECT_NE(a, "vistrel-screen-camera");
    EXPECT_EQ(a, machine_identifier());
    EXPECT_EQ(platform_firmware_version(), "2.0.5-WindowsServer");
}
