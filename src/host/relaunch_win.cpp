// Relaunch with CreateProcessW of the quoted program path and the options.
// Only this process's standard handles are passed on (a log redirected to a
// file or pipe goes on in the new engine); its sockets and the mutex never
// are, so the new process can bind and claim them once this one has ended.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/paths.h"
#include "host/relaunch.h"
#include "host/win_text.h"

namespace {

// Inheritable copies of the valid standard handles (closed by the caller).
std::vector<HANDLE> inheritable_std_handles(STARTUPINFOW& si) {
    std::vector<HANDLE> copies;
    HANDLE* slots[] = {&si.hStdInput, &si.hStdOutput, &si.hStdError};
    const DWORD ids[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int i = 0; i < 3; ++i) {
        HANDLE h = GetStdHandle(ids[i]);
        HANDLE copy = nullptr;
        if (h && h != INVALID_HANDLE_VALUE &&
            DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &copy, 0, TRUE,
                            DUPLICATE_SAME_ACCESS)) {
            *slots[i] = copy;
            copies.push_back(copy);
        }
    }
    return copies;
}

bool start_process(bool background, const std::string& working_dir) {
    const std::wstring exe = host_wide(program_path());
    if (exe.empty()) return false;
    std::wstring cmd = L"\"" + exe + L"\" --relaunch";
    if (background) cmd += L" --background";
    const std::wstring dir = host_wide(working_dir);
    const DWORD attrs = dir.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(dir.c_str());
    // A working directory that is gone is no reason not to start.
    const bool use_dir = attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);

    STARTUPINFOEXW six{};
    six.StartupInfo.cb = sizeof six;
    std::vector<HANDLE> handles = inheritable_std_handles(six.StartupInfo);
    std::vector<char> attr_buf;
    bool listed = false;
    if (!handles.empty()) {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        attr_buf.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attr_buf.data());
        if (size && InitializeProcThreadAttributeList(list, 1, 0, &size)) {
            if (UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                          handles.data(), handles.size() * sizeof(HANDLE), nullptr,
                                          nullptr)) {
                six.lpAttributeList = list;
                six.StartupInfo.dwFlags |= STARTF_USESTDHANDLES;
                listed = true;
            } else {
                DeleteProcThreadAttributeList(list);
            }
        }
    }
    if (!listed) {
        // Without a handle list nothing is inherited at all.
        six.StartupInfo.hStdInput = six.StartupInfo.hStdOutput = six.StartupInfo.hStdError =
            nullptr;
    }
    PROCESS_INFORMATION pi{};
    std::vector<wchar_t> line(cmd.begin(), cmd.end());
    line.push_back(L'\0');
    const BOOL ok =
        CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, listed ? TRUE : FALSE,
                       CREATE_UNICODE_ENVIRONMENT | (listed ? EXTENDED_STARTUPINFO_PRESENT : 0),
                       nullptr, use_dir ? dir.c_str() : nullptr, &six.StartupInfo, &pi);
    if (listed) DeleteProcThreadAttributeList(six.lpAttributeList);
    for (HANDLE h : handles) CloseHandle(h);
    if (!ok) return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

}  // namespace

bool relaunch_engine(bool background, const std::string& working_dir) {
    return start_process(background, working_dir);
}

void relaunch_in_place(bool background) {
    // Windows cannot replace a process's image: one more attempt at a new
    // process, which then waits for the mutex like any relaunch.
    if (start_process(background, "")) {
        std::fflush(stdout);
        std::_Exit(0);
    }
}

bool process_started_with(const std::string& word) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return false;
    bool found = false;
    for (int i = 1; i < argc && !found; ++i) found = host_utf8(argv[i]) == word;
    LocalFree(argv);
    return found;
}
