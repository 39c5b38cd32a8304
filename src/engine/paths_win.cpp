// Data and program directories and whole-file I/O with the Windows file API.
// Paths arrive as UTF-8 and go to the wide-character calls as UTF-16; both
// separators are accepted. Reparse points (symbolic links, junctions) are
// refused where the Linux build refuses symbolic links.
#include <windows.h>
//
#include <knownfolders.h>
#include <sddl.h>
#include <shlobj.h>

#include <mutex>
#include <set>

#include "engine/log.h"
#include "engine/paths.h"
#include "engine/paths_shared.h"
#include "engine/wide_text_win.h"

namespace {

thread_local DWORD t_last_error = 0;
thread_local WriteFailure t_write_failure = WriteFailure::none;

bool fail_write(WriteFailure step, DWORD err) {
    t_write_failure = step;
    t_last_error = err;
    return false;
}

bool fail(DWORD err) {
    t_last_error = err;
    return false;
}

bool is_separator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

DWORD attributes_of(const std::string& path) {
    return GetFileAttributesW(utf8_to_wide(path).c_str());
}

// Attributes of what path finally names (links followed); false when nothing.
bool follow_attributes(const std::string& path, DWORD* attrs) {
    HANDLE h = CreateFileW(utf8_to_wide(path).c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return fail(GetLastError());
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = GetFileInformationByHandle(h, &info) != 0;
    const DWORD err = GetLastError();
    CloseHandle(h);
    if (!ok) return fail(err);
    *attrs = info.dwFileAttributes;
    return true;
}

// Security for private files: full control for SYSTEM, the administrators and
// the file's owner only, not inherited from the data directory (which lets
// every user read).
struct PrivateSecurity {
    SECURITY_ATTRIBUTES sa{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    PSECURITY_DESCRIPTOR sd = nullptr;
    PrivateSecurity() {
        if (ConvertStringSecurityDescriptorToSecurityDescriptorW(
                L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;OW)", SDDL_REVISION_1, &sd, nullptr))
            sa.lpSecurityDescriptor = sd;
    }
    ~PrivateSecurity() {
        if (sd) LocalFree(sd);
    }
    PrivateSecurity(const PrivateSecurity&) = delete;
    PrivateSecurity& operator=(const PrivateSecurity&) = delete;
};

// The ".tmp" file, made new: an old one (left by a crash, or a link planted
// there) is removed first; CREATE_NEW never opens through a link.
HANDLE create_temp(const std::wstring& tmp, SECURITY_ATTRIBUTES* sa) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        HANDLE h = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, sa, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
        if (h != INVALID_HANDLE_VALUE) return h;
        const DWORD err = GetLastError();
        if (err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS) return h;
        const DWORD a = GetFileAttributesW(tmp.c_str());
        if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) &&
            !(a & FILE_ATTRIBUTE_REPARSE_POINT))
            return INVALID_HANDLE_VALUE;
        // A directory link is removed as a directory, anything else as a file;
        // neither follows the link.
        const BOOL gone = (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY))
                              ? RemoveDirectoryW(tmp.c_str())
                              : DeleteFileW(tmp.c_str());
        if (!gone) return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
}

// Moves tmp over path. A reader or a virus scanner holding the target open a
// moment makes the move fail with a sharing error: try again briefly.
bool replace_with(const std::wstring& tmp, const std::wstring& path, DWORD* err) {
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(tmp.c_str(), path.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        *err = GetLastError();
        const bool transient = *err == ERROR_SHARING_VIOLATION || *err == ERROR_ACCESS_DENIED ||
                               *err == ERROR_LOCK_VIOLATION;
        if (!transient || attempt >= 20) return false;
        Sleep(25);
    }
}

std::string known_program_data() {
    wchar_t* p = nullptr;
    std::string out;
    if (SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &p) == S_OK && p)
        out = wide_to_utf8(p);
    CoTaskMemFree(p);
    return out;
}

}  // namespace

std::string data_directory() {
    // The variable first, as on Linux: Windows sets it to the known folder
    // anyway, and tests point it at a directory of their own.
    std::string base;
    wchar_t env[MAX_PATH * 2];
    const DWORD n = GetEnvironmentVariableW(L"ProgramData", env, MAX_PATH * 2);
    if (n > 0 && n < MAX_PATH * 2) base = wide_to_utf8(std::wstring_view(env, n));
    if (base.empty()) base = known_program_data();
    if (base.empty()) base = "C:\\ProgramData";
    while (base.size() > 3 && (base.back() == '\\' || base.back() == '/')) base.pop_back();
    const std::string dir =
        base + (base.back() == '\\' || base.back() == '/' ? "" : "\\") + "Orvanta";
    make_directories(dir);
    return dir;
}

std::string data_directory_rule() {
    return "%ProgramData%\\Orvanta, usually C:\\ProgramData\\Orvanta";
}

std::string program_path() {
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return "";
        if (n < buf.size()) return wide_to_utf8(std::wstring_view(buf.data(), n));
        if (buf.size() >= 32768) return "";
        buf.resize(buf.size() * 2);
    }
}

std::string program_directory() {
    const std::string p = program_path();
    const size_t slash = p.find_last_of("\\/");
    if (slash == std::string::npos) return ".";
    return p.substr(0, slash);
}

std::optional<std::string> read_file(const std::string& path, size_t max_bytes, bool follow_links) {
    const std::wstring w = utf8_to_wide(path);
    const DWORD flags = follow_links ? 0 : FILE_FLAG_OPEN_REPARSE_POINT;
    HANDLE h =
        CreateFileW(w.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        fail(GetLastError());
        return std::nullopt;
    }
    auto close_fail = [&](DWORD err) -> std::optional<std::string> {
        CloseHandle(h);
        fail(err);
        return std::nullopt;
    };
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info))
        return close_fail(ERROR_INVALID_FUNCTION);
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        note_refused_link(path);
        return close_fail(ERROR_CANT_ACCESS_FILE);
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return close_fail(ERROR_DIRECTORY);
    const uint64_t size = (uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (size > max_bytes) return close_fail(ERROR_FILE_TOO_LARGE);
    std::string out;
    out.reserve(static_cast<size_t>(size));
    char buf[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(h, buf, sizeof buf, &got, nullptr)) return close_fail(GetLastError());
        if (got == 0) break;
        out.append(buf, got);
        if (out.size() > max_bytes) return close_fail(ERROR_FILE_TOO_LARGE);
    }
    CloseHandle(h);
    return out;
}

bool write_file_whole(const std::string& path, const std::string& content, bool private_mode) {
    std::lock_guard<std::mutex> lock(write_mutex());
    t_write_failure = WriteFailure::none;
    const std::wstring target = utf8_to_wide(path);
    const std::wstring tmp = utf8_to_wide(path + ".tmp");
    const DWORD old = GetFileAttributesW(target.c_str());
    if (old != INVALID_FILE_ATTRIBUTES) {
        if (old & FILE_ATTRIBUTE_REPARSE_POINT) {
            note_refused_link(path);
            return fail_write(WriteFailure::open, ERROR_CANT_ACCESS_FILE);
        }
        if (old & FILE_ATTRIBUTE_DIRECTORY) return fail_write(WriteFailure::open, ERROR_DIRECTORY);
    }
    PrivateSecurity security;
    HANDLE h = create_temp(tmp, private_mode ? &security.sa : nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD e = GetLastError();
        if (is_symlink(path + ".tmp")) note_refused_link(path + ".tmp");
        return fail_write(WriteFailure::open, e);
    }
    size_t done = 0;
    while (done < content.size()) {
        const size_t left = content.size() - done;
        const DWORD chunk = static_cast<DWORD>(left > (1u << 30) ? (1u << 30) : left);
        DWORD wrote = 0;
        if (!WriteFile(h, content.data() + done, chunk, &wrote, nullptr) || wrote == 0) {
            const DWORD e = wrote == 0 && GetLastError() == 0 ? ERROR_WRITE_FAULT : GetLastError();
            CloseHandle(h);
            DeleteFileW(tmp.c_str());
            return fail_write(WriteFailure::write, e);
        }
        done += wrote;
    }
    if (!FlushFileBuffers(h)) {
        const DWORD e = GetLastError();
        CloseHandle(h);
        DeleteFileW(tmp.c_str());
        return fail_write(WriteFailure::write, e);
    }
    CloseHandle(h);
    DWORD e = 0;
    if (!replace_with(tmp, target, &e)) {
        DeleteFileW(tmp.c_str());
        return fail_write(WriteFailure::replace, e);
    }
    return true;
}

bool file_exists(const std::string& path) {
    DWORD a = 0;
    return follow_attributes(path, &a) && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool path_exists(const std::string& path) {
    return attributes_of(path) != INVALID_FILE_ATTRIBUTES;
}

bool is_symlink(const std::string& path) {
    const DWORD a = attributes_of(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool directory_exists(const std::string& path) {
    DWORD a = 0;
    return follow_attributes(path, &a) && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool make_directories(const std::string& path) {
    if (path.empty()) return false;
    if (directory_exists(path)) return true;
    const std::wstring w = utf8_to_wide(path);
    // Skip the root: "C:\", "\\server\share\" or a leading separator.
    size_t start = 0;
    if (w.size() >= 2 && w[1] == L':') {
        start = 2;
    } else if (w.size() >= 2 && is_separator(w[0]) && is_separator(w[1])) {
        int seps = 0;
        for (start = 2; start < w.size() && seps < 2; ++start)
            if (is_separator(w[start])) ++seps;
    }
    while (start < w.size() && is_separator(w[start])) ++start;
    for (size_t pos = start + 1; pos <= w.size(); ++pos) {
        if (pos < w.size() && !is_separator(w[pos])) continue;
        const std::wstring part = w.substr(0, pos);
        if (!CreateDirectoryW(part.c_str(), nullptr)) {
            const DWORD e = GetLastError();
            if (e != ERROR_ALREADY_EXISTS && e != ERROR_ACCESS_DENIED) return fail(e);
        }
    }
    return directory_exists(path);
}

bool remove_file(const std::string& path) {
    return DeleteFileW(utf8_to_wide(path).c_str()) || fail(GetLastError());
}

WriteFailure last_write_failure() {
    return t_write_failure;
}

void clear_write_failure() {
    t_write_failure = WriteFailure::none;
}

std::string file_error_text() {
    return t_last_error ? windows_error_text(t_last_error) : "unknown error";
}
