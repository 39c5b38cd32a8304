// File stamp from the file's attributes and its file index (the NTFS
// counterpart of an inode: a file moved over the settings file has a new one).
#include <windows.h>

#include "engine/file_stamp.h"
#include "engine/wide_text_win.h"

FileStamp file_stamp(const std::string& path) {
    FileStamp s;
    const std::wstring w = utf8_to_wide(path);
    // Every sharing mode, so the watcher never stands in the way of a writer
    // moving a new file over this one.
    HANDLE h = CreateFileW(w.c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return s;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    if (!ok || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return s;
    const uint64_t ticks =
        (uint64_t(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime;
    // 100 ns units since 1601, taken to the Unix epoch first so that the
    // nanoseconds fit in 64 bits.
    s.mtime_ns = (static_cast<int64_t>(ticks) - 116444736000000000LL) * 100;
    s.size = static_cast<int64_t>((uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    s.inode = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    s.valid = true;
    return s;
}
