// Single instance with the Global named mutex; the show-panel request is the
// registered message posted to the running instance's message-only window.
#include <windows.h>

#include <string>

#include "engine/clock.h"
#include "engine/log.h"
#include "host/instance_lock.h"
#include "host/win_text.h"

namespace {

const wchar_t k_mutex_name[] = L"Global\\Orvanta.Vistrel.SingleInstance";

HANDLE g_mutex = nullptr;  // held for the life of the engine process

enum class Claim { created, existed, failed };

// Creates the mutex (not owned) into g_mutex. Access denied means another
// account's engine holds it, which counts as existing.
Claim create_mutex() {
    SetLastError(ERROR_SUCCESS);
    g_mutex = CreateMutexW(nullptr, FALSE, k_mutex_name);
    const DWORD err = GetLastError();
    if (!g_mutex) return err == ERROR_ACCESS_DENIED ? Claim::existed : Claim::failed;
    return err == ERROR_ALREADY_EXISTS ? Claim::existed : Claim::created;
}

void close_mutex() {
    if (g_mutex) CloseHandle(g_mutex);
    g_mutex = nullptr;
}

}  // namespace

std::wstring host_wide(const std::string& s) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(n > 0 ? n : 0, L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
    return out;
}

std::string host_utf8(const std::wstring& w) {
    if (w.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), out.data(), n,
                            nullptr, nullptr);
    return out;
}

bool send_show_panel(const std::string&) {
    const UINT msg = RegisterWindowMessageW(L"ZEB_ShowAdmin_Orvanta");
    if (!msg) return false;
    HWND target = FindWindowExW(HWND_MESSAGE, nullptr, L"ZEBAdminMsg", nullptr);
    if (!target) return false;
    // The user just started us: let the running camera bring its login window
    // or panel to the front (Windows keeps the foreground for the starter).
    DWORD owner = 0;
    GetWindowThreadProcessId(target, &owner);
    if (owner) AllowSetForegroundWindow(owner);
    return PostMessageW(target, msg, 0, 0);
}

InstanceOutcome acquire_instance(const std::string& data_dir, const InstanceOptions& opt) {
    Claim c = create_mutex();
    if (c == Claim::created) return InstanceOutcome::engine;
    if (c == Claim::failed) {
        // Without the mutex the camera still runs: refusing to start would
        // leave the user with no camera at all.
        engine_log(
            "Instance: cannot create the single-instance mutex (error %lu) - running "
            "without it\n",
            static_cast<unsigned long>(GetLastError()));
        return InstanceOutcome::engine;
    }
    if (opt.relaunch) {
        for (int i = 0; i < opt.relaunch_tries; ++i) {
            close_mutex();
            sleep_ms(opt.relaunch_wait_ms);
            if (create_mutex() == Claim::created) return InstanceOutcome::engine;
        }
        return InstanceOutcome::engine;
    }
    if (opt.background) {
        close_mutex();
        return InstanceOutcome::exit_quietly;
    }
    for (int i = 0; i <= opt.show_tries; ++i) {
        if (send_show_panel(data_dir)) {
            close_mutex();
            return InstanceOutcome::exit_quietly;
        }
        if (i < opt.show_tries) sleep_ms(opt.show_wait_ms);
    }
    close_mutex();
    engine_log("Panel-only mode: the camera runs in another session on this PC\n");
    return InstanceOutcome::panel_only;
}
