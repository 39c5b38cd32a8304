// The service's hands on camera processes on Windows: the cameras are the
// processes with this executable's file name (other than this one), each in
// the session Windows gives it; a user's camera is started with the user's
// token on the user's desktop, the sign-in-screen camera with the service's
// own token moved to the console session, on the Winlogon desktop.
#include <windows.h>
// After windows.h, which they need.
#include <shellapi.h>
#include <tlhelp32.h>
#include <userenv.h>
#include <wtsapi32.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "engine/log.h"
#include "engine/paths.h"
#include "host/camera_launcher.h"
#include "host/win_text.h"

namespace {

// The executable's file name ("zeb_onvif.exe" as shipped).
std::wstring camera_file_name() {
    const std::wstring path = host_wide(program_path());
    const size_t slash = path.find_last_of(L"\\/");
    const std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    return name.empty() ? L"zeb_onvif.exe" : name;
}

// Creates the camera process with the token on the desktop; the process
// handle, or nullptr (logged) on failure.
HANDLE create_camera(HANDLE token, const wchar_t* options, const wchar_t* desktop, DWORD* pid) {
    const std::wstring exe = host_wide(program_path());
    const std::wstring dir = host_wide(program_directory());
    std::wstring line = L"\"" + exe + L"\" " + options;
    std::vector<wchar_t> cmd(line.begin(), line.end());
    cmd.push_back(L'\0');
    std::wstring desk = desktop;

    void* env = nullptr;
    if (!CreateEnvironmentBlock(&env, token, FALSE)) {
        engine_log("Service: cannot build the camera's environment (error %lu)\n", GetLastError());
        env = nullptr;
    }
    // The program is a console program: a camera the service starts in the
    // background must not open a console window on the user's desktop or on
    // the sign-in screen.
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.lpDesktop = desk.data();
    PROCESS_INFORMATION pi{};
    const BOOL ok = CreateProcessAsUserW(token, exe.c_str(), cmd.data(), nullptr, nullptr, FALSE,
                                         CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, env,
                                         dir.empty() ? nullptr : dir.c_str(), &si, &pi);
    const DWORD err = GetLastError();
    if (env) DestroyEnvironmentBlock(env);
    if (!ok) {
        engine_log("Service: cannot start the camera on %ls (error %lu)\n", desktop, err);
        return nullptr;
    }
    CloseHandle(pi.hThread);
    *pid = pi.dwProcessId;
    return pi.hProcess;
}

// Whether the process was started with one of the service options (an
// installer's --install-service or --uninstall-service, or the service
// itself): those are not cameras, and ending one would cut an installation
// short. A command line that cannot be read counts as a camera's.
bool runs_service_option(DWORD pid) {
    using Query = LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);
    static const auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    if (!query) return false;
    HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!h) return false;
    constexpr ULONG k_command_line_information = 60;
    std::vector<unsigned char> buf(4096);
    ULONG len = 0;
    LONG status =
        query(h, k_command_line_information, buf.data(), static_cast<ULONG>(buf.size()), &len);
    if (status < 0 && len > buf.size()) {
        buf.resize(len);
        status = query(h, k_command_line_information, buf.data(), len, &len);
    }
    CloseHandle(h);
    if (status < 0) return false;
    struct CountedText {
        USHORT length, capacity;
        const wchar_t* text;
    };
    const auto* line = reinterpret_cast<const CountedText*>(buf.data());
    const std::wstring text(line->text, line->length / sizeof(wchar_t));
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(text.c_str(), &argc);
    if (!argv) return false;
    bool found = false;
    for (int i = 1; i < argc && !found; ++i)
        for (const wchar_t* option : {L"--service", L"--install-service", L"--uninstall-service"})
            found |= wcscmp(argv[i], option) == 0;
    LocalFree(argv);
    return found;
}

class WinLauncher : public CameraLauncher {
  public:
    ~WinLauncher() override {
        for (auto& [pid, h] : children_) CloseHandle(h);
    }

    std::vector<CameraProcess> cameras() override {
        std::vector<CameraProcess> found;
        HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snap == INVALID_HANDLE_VALUE) {
            engine_log("Service: cannot list the processes (error %lu)\n", GetLastError());
            return found;
        }
        const DWORD self = GetCurrentProcessId();
        PROCESSENTRY32W pe{};
        pe.dwSize = sizeof pe;
        for (BOOL more = Process32FirstW(snap, &pe); more; more = Process32NextW(snap, &pe)) {
            if (pe.th32ProcessID == self || _wcsicmp(pe.szExeFile, name_.c_str()) != 0 ||
                runs_service_option(pe.th32ProcessID))
                continue;
            CameraProcess c;
            c.pid = static_cast<long>(pe.th32ProcessID);
            DWORD session = 0;
            if (ProcessIdToSessionId(pe.th32ProcessID, &session))
                c.session = std::to_string(session);
            found.push_back(c);
        }
        CloseHandle(snap);
        return found;
    }

    bool end_camera(long pid, unsigned wait_ms) override {
        HANDLE h = nullptr;
        const auto child = children_.find(pid);
        if (child != children_.end()) {
            h = child->second;
            children_.erase(child);
        } else {
            h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
            // A process that is gone already cannot be opened.
            if (!h) return GetLastError() == ERROR_INVALID_PARAMETER;
        }
        if (!TerminateProcess(h, 0) && WaitForSingleObject(h, 0) != WAIT_OBJECT_0)
            engine_log("Service: cannot end the camera (pid %ld, error %lu)\n", pid,
                       GetLastError());
        const bool gone = WaitForSingleObject(h, wait_ms) == WAIT_OBJECT_0;
        CloseHandle(h);
        return gone;
    }

    long start_user_camera(const SessionInfo& s, bool handover) override {
        HANDLE token = nullptr;
        if (!WTSQueryUserToken(session_number(s), &token)) {
            engine_log("Service: no user token for session %s (error %lu)\n", s.id.c_str(),
                       GetLastError());
            return -1;
        }
        DWORD pid = 0;
        HANDLE h = create_camera(token, handover ? L"--background --handover" : L"--background",
                                 L"winsta0\\default", &pid);
        CloseHandle(token);
        if (!h) return -1;
        // The user's camera is found by name and session at every pass.
        CloseHandle(h);
        return static_cast<long>(pid);
    }

    long start_logon_camera(const SessionInfo& s) override {
        HANDLE own = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &own)) {
            engine_log("Service: cannot open the service's token (error %lu)\n", GetLastError());
            return -1;
        }
        HANDLE primary = nullptr;
        const DWORD rights = TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | TOKEN_QUERY |
                             TOKEN_ADJUST_DEFAULT | TOKEN_ADJUST_SESSIONID;
        const BOOL dup =
            DuplicateTokenEx(own, rights, nullptr, SecurityImpersonation, TokenPrimary, &primary);
        CloseHandle(own);
        if (!dup) {
            engine_log("Service: cannot duplicate the service's token (error %lu)\n",
                       GetLastError());
            return -1;
        }
        DWORD session = session_number(s);
        if (!SetTokenInformation(primary, TokenSessionId, &session, sizeof session)) {
            engine_log("Service: cannot move the token to session %s (error %lu)\n", s.id.c_str(),
                       GetLastError());
            CloseHandle(primary);
            return -1;
        }
        DWORD pid = 0;
        HANDLE h = create_camera(primary, L"--background --logon-screen --handover",
                                 L"winsta0\\winlogon", &pid);
        CloseHandle(primary);
        if (!h) return -1;
        children_[static_cast<long>(pid)] = h;
        return static_cast<long>(pid);
    }

    bool child_running(long pid) override {
        const auto child = children_.find(pid);
        if (child == children_.end()) return false;
        if (WaitForSingleObject(child->second, 0) == WAIT_TIMEOUT) return true;
        CloseHandle(child->second);
        children_.erase(child);
        return false;
    }

  private:
    static DWORD session_number(const SessionInfo& s) {
        return static_cast<DWORD>(std::strtoul(s.id.c_str(), nullptr, 10));
    }

    const std::wstring name_ = camera_file_name();
    std::map<long, HANDLE> children_;  // cameras started on the sign-in desktop
};

}  // namespace

std::unique_ptr<CameraLauncher> make_process_launcher(bool) {
    return std::make_unique<WinLauncher>();
}
