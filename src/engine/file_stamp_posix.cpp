// File stamp from stat(2).
#include <sys/stat.h>

#include "engine/file_stamp.h"

FileStamp file_stamp(const std::string& path) {
    struct stat st {};
    FileStamp s;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return s;
    s.mtime_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    s.size = static_cast<int64_t>(st.st_size);
    s.inode = static_cast<uint64_t>(st.st_ino);
    s.valid = true;
    return s;
}
