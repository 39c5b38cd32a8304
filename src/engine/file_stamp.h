// Change stamp of a file for the live-settings watcher: modification time in
// nanoseconds, size and inode. Every writer here replaces the settings file by
// rename, so even a rewrite within the same second and of the same size shows
// as a new inode.
#pragma once

#include <cstdint>
#include <string>

struct FileStamp {
    int64_t mtime_ns = 0;
    int64_t size = 0;
    uint64_t inode = 0;
    bool valid = false;  // false when the file's attributes cannot be read

    bool operator==(const FileStamp&) const = default;
};

FileStamp file_stamp(const std::string& path);
