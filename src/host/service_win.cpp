// The camera service on Windows: installed in the Service Control Manager as
// "Vistrel" (LocalSystem, automatic start), it runs the session watch loop on
// the service thread every 3 s until it is stopped; the data directory's
// access list lets the service and every signed-in user share the settings.
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>

#include <mutex>
#include <string>
#include <vector>

#include "engine/log.h"
#include "engine/paths.h"
#include "host/camera_launcher.h"
#include "host/relaunch.h"
#include "host/service.h"
#include "host/session_sources.h"
#include "host/win_text.h"

namespace {

const wchar_t k_service_name_w[] = L"Vistrel";
const wchar_t k_display_name_w[] = L"Vistrel Camera Service";
constexpr DWORD k_wait_hint_ms = 4000;
// How long uninstall waits for the service to stop before deleting it.
constexpr DWORD k_stop_wait_ms = 10000;

// Closes a service-manager handle when it goes out of scope.
struct ScHandle {
    SC_HANDLE h = nullptr;
    explicit ScHandle(SC_HANDLE v) : h(v) {}
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    ~ScHandle() {
        if (h) CloseServiceHandle(h);
    }
    explicit operator bool() const { return h != nullptr; }
};

// The status record, written by the service thread and the control handler.
std::mutex g_status_lock;
SERVICE_STATUS_HANDLE g_status_handle = nullptr;
SERVICE_STATUS g_status{};
HANDLE g_stop_event = nullptr;

void report_status(DWORD state, DWORD checkpoint, DWORD exit_code = NO_ERROR) {
    std::lock_guard<std::mutex> lock(g_status_lock);
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = state;
    g_status.dwControlsAccepted =
        state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    g_status.dwWin32ExitCode = exit_code;
    g_status.dwServiceSpecificExitCode = 0;
    g_status.dwCheckPoint = checkpoint;
    g_status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : k_wait_hint_ms;
    SetServiceStatus(g_status_handle, &g_status);
}

DWORD WINAPI control_handler(DWORD control, DWORD, void*, void*) {
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        DWORD checkpoint = 0;
        {
            std::lock_guard<std::mutex> lock(g_status_lock);
            checkpoint = g_status.dwCheckPoint + 1;
        }
        report_status(SERVICE_STOP_PENDING, checkpoint);
        if (g_stop_event) SetEvent(g_stop_event);
    }
    return NO_ERROR;
}

void WINAPI service_main(DWORD, LPWSTR*) {
    g_status_handle = RegisterServiceCtrlHandlerExW(k_service_name_w, control_handler, nullptr);
    if (!g_status_handle) {
        engine_log("Service: cannot register the control handler (error %lu)\n", GetLastError());
        return;
    }
    report_status(SERVICE_START_PENDING, 1);
    g_stop_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!g_stop_event) {
        const DWORD err = GetLastError();
        engine_log("Service: cannot create the stop event (error %lu)\n", err);
        report_status(SERVICE_STOPPED, 0, err);
        return;
    }
    report_status(SERVICE_RUNNING, 0);
    prepare_shared_data_directory(data_directory());
    engine_log("Service: %s running, watching the sessions every %u ms\n", k_service_name,
               k_watch_interval_ms);

    auto source = make_wts_session_source();
    auto launcher = make_process_launcher(false);
    WatchState st;
    do {
        watch_pass(st, *source, *launcher);
    } while (WaitForSingleObject(g_stop_event, k_watch_interval_ms) == WAIT_TIMEOUT);
    // Ending the sign-in-screen camera may take longer than the last report's
    // wait hint: say that the stop goes on.
    DWORD checkpoint = 0;
    {
        std::lock_guard<std::mutex> lock(g_status_lock);
        checkpoint = g_status.dwCheckPoint + 1;
    }
    report_status(SERVICE_STOP_PENDING, checkpoint);
    watch_stop(st, *launcher);
    engine_log("Service: stopped\n");
    report_status(SERVICE_STOPPED, 0);
}

// The access list of the shared data directory: Users modify, Administrators
// and LocalSystem full control, each inherited by files and subfolders.
// Merged into base (may be null); the new list, to be freed with LocalFree.
PACL shared_access_list(PACL base) {
    struct Grant {
        WELL_KNOWN_SID_TYPE sid;
        DWORD mask;
    };
    const Grant grants[] = {{WinBuiltinUsersSid, 0x1301BF},
                            {WinBuiltinAdministratorsSid, 0x1F01FF},
                            {WinLocalSystemSid, 0x1F01FF}};
    BYTE sids[3][SECURITY_MAX_SID_SIZE];
    EXPLICIT_ACCESSW ea[3]{};
    for (int i = 0; i < 3; ++i) {
        DWORD size = SECURITY_MAX_SID_SIZE;
        if (!CreateWellKnownSid(grants[i].sid, nullptr, sids[i], &size)) return nullptr;
        ea[i].grfAccessPermissions = grants[i].mask;
        ea[i].grfAccessMode = GRANT_ACCESS;
        ea[i].grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
        ea[i].Trustee.TrusteeForm = TRUSTEE_IS_SID;
        ea[i].Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
        ea[i].Trustee.ptstrName = reinterpret_cast<LPWSTR>(sids[i]);
    }
    PACL acl = nullptr;
    const DWORD err = SetEntriesInAclW(3, ea, base, &acl);
    if (err != ERROR_SUCCESS) {
        SetLastError(err);
        return nullptr;
    }
    return acl;
}

bool create_shared_directory(const std::wstring& dir) {
    PACL acl = shared_access_list(nullptr);
    if (!acl) return false;
    SECURITY_DESCRIPTOR sd;
    bool ok = InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) &&
              SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE);
    if (ok) {
        SECURITY_ATTRIBUTES sa{sizeof sa, &sd, FALSE};
        ok = CreateDirectoryW(dir.c_str(), &sa) || GetLastError() == ERROR_ALREADY_EXISTS;
    }
    const DWORD err = GetLastError();
    LocalFree(acl);
    SetLastError(err);
    return ok;
}

// Adds the grants to a directory made without them (the start-up path makes
// the data directory before the service ever sees it).
bool add_shared_rights(const std::wstring& dir) {
    PACL current = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    DWORD err = GetNamedSecurityInfoW(dir.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, &current, nullptr, &sd);
    if (err != ERROR_SUCCESS) {
        SetLastError(err);
        return false;
    }
    PACL merged = shared_access_list(current);
    err = merged ? ERROR_SUCCESS : GetLastError();
    if (merged) {
        std::vector<wchar_t> path(dir.begin(), dir.end());
        path.push_back(L'\0');
        err = SetNamedSecurityInfoW(path.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                    nullptr, merged, nullptr);
        LocalFree(merged);
    }
    LocalFree(sd);
    SetLastError(err);
    return err == ERROR_SUCCESS;
}

SERVICE_STATUS query_status(SC_HANDLE service) {
    SERVICE_STATUS st{};
    QueryServiceStatus(service, &st);
    return st;
}

}  // namespace

bool prepare_shared_data_directory(const std::string& dir) {
    const std::wstring wdir = host_wide(dir);
    if (!directory_exists(dir)) {
        // Every level above is made as usual; the data directory itself
        // carries the shared rights from the start.
        const size_t slash = dir.find_last_of("\\/");
        if (slash != std::string::npos && slash > 0) make_directories(dir.substr(0, slash));
        if (!create_shared_directory(wdir)) {
            engine_log("Service: cannot create %s (error %lu)\n", dir.c_str(), GetLastError());
            return false;
        }
        return true;
    }
    if (!add_shared_rights(wdir)) {
        engine_log("Service: cannot open %s to local users (error %lu)\n", dir.c_str(),
                   GetLastError());
        return false;
    }
    return true;
}

bool service_installed() {
    ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!scm) return false;
    ScHandle service(OpenServiceW(scm.h, k_service_name_w, SERVICE_QUERY_STATUS));
    return static_cast<bool>(service);
}

int install_service() {
    const std::wstring exe = host_wide(program_path());
    if (exe.empty()) {
        engine_log("Service: cannot find this program's path\n");
        return 1;
    }
    const std::wstring command = L"\"" + exe + L"\" --service";
    ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (!scm) {
        engine_log("Service: cannot open the service manager (error %lu)\n", GetLastError());
        return 1;
    }
    bool existed = false;
    ScHandle service(CreateServiceW(scm.h, k_service_name_w, k_display_name_w, SERVICE_ALL_ACCESS,
                                    SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                    SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr,
                                    nullptr, nullptr, nullptr));
    if (!service && GetLastError() == ERROR_SERVICE_EXISTS) {
        existed = true;
        service.h = OpenServiceW(scm.h, k_service_name_w, SERVICE_ALL_ACCESS);
        // A program installed again at another place moves the service with it.
        if (service &&
            !ChangeServiceConfigW(service.h, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                  SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr,
                                  nullptr, nullptr, k_display_name_w))
            engine_log("Service: cannot update the service's command line (error %lu)\n",
                       GetLastError());
    }
    if (!service) {
        engine_log("Service: cannot %s the service %s (error %lu)\n", existed ? "open" : "create",
                   k_service_name, GetLastError());
        return 1;
    }
    std::wstring text = host_wide(k_service_description);
    SERVICE_DESCRIPTIONW description{text.data()};
    if (!ChangeServiceConfig2W(service.h, SERVICE_CONFIG_DESCRIPTION, &description))
        engine_log("Service: cannot set the description (error %lu)\n", GetLastError());
    prepare_shared_data_directory(data_directory());
    engine_log("Service: %s %s\n", existed ? "updated" : "installed", k_service_name);
    // A start failure is not the installation's: the service starts at the
    // next boot.
    if (!StartServiceW(service.h, 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
        engine_log("Service: %s did not start (error %lu)\n", k_service_name, GetLastError());
    return 0;
}

int uninstall_service() {
    ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!scm) {
        engine_log("Service: cannot open the service manager (error %lu)\n", GetLastError());
        return 1;
    }
    ScHandle service(
        OpenServiceW(scm.h, k_service_name_w, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (!service) {
        const DWORD err = GetLastError();
        if (err == ERROR_SERVICE_DOES_NOT_EXIST) {
            engine_log("Service: %s is not installed\n", k_service_name);
            return 0;
        }
        engine_log("Service: cannot open the service %s (error %lu)\n", k_service_name, err);
        return 1;
    }
    SERVICE_STATUS st{};
    if (ControlService(service.h, SERVICE_CONTROL_STOP, &st)) {
        // Deleted while it still runs, the service would only be marked for
        // deletion, and an install right after would fail: wait until it has
        // stopped (it ends its sign-in-screen camera first).
        const ULONGLONG deadline = GetTickCount64() + k_stop_wait_ms;
        Sleep(500);
        while (query_status(service.h).dwCurrentState != SERVICE_STOPPED &&
               GetTickCount64() < deadline)
            Sleep(100);
    }
    if (!DeleteService(service.h) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
        engine_log("Service: cannot delete the service %s (error %lu)\n", k_service_name,
                   GetLastError());
        return 1;
    }
    engine_log("Service: removed %s\n", k_service_name);
    return 0;
}

int run_service(const std::vector<std::string>&) {
    wchar_t name[] = L"Vistrel";
    const SERVICE_TABLE_ENTRYW table[] = {{name, service_main}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        const DWORD err = GetLastError();
        if (err == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT)
            engine_log("Service: --service is for the service manager; use --install-service\n");
        else
            engine_log("Service: the service dispatcher did not run (error %lu)\n", err);
        return 1;
    }
    return 0;
}

bool request_engine_restart(const std::string& data_dir) {
    const bool written = write_file_whole(data_dir + "/restart.req", "1");
    // The service's engine reads the request; without the service nobody
    // would, so this start relaunches as the engine.
    if (written && service_installed()) return true;
    return relaunch_engine(false);
}
