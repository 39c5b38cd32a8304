// Data and program directories and whole-file I/O with POSIX calls.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include "engine/log.h"
#include "engine/paths.h"
#include "engine/paths_shared.h"

namespace {

thread_local int t_last_error = 0;
thread_local WriteFailure t_write_failure = WriteFailure::none;

bool fail_write(WriteFailure step, int err) {
    t_write_failure = step;
    t_last_error = err;
    return false;
}

bool fail(int err) {
    t_last_error = err;
    return false;
}

std::string parent_of(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool writable_dir(const std::string& dir) {
    make_directories(dir);
    return directory_exists(dir) && access(dir.c_str(), W_OK | X_OK) == 0;
}

// The ".tmp" file, made new: an old one (left by a crash, or a link planted
// there) is removed first, and O_EXCL | O_NOFOLLOW never write through a link.
int create_temp(const std::string& tmp, mode_t mode) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
        if (unlink(tmp.c_str()) != 0) return -1;
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

std::string data_directory() {
    const char* pd = std::getenv("ProgramData");
    if (pd && *pd) {
        std::string dir = std::string(pd) + "/Orvanta";
        make_directories(dir);
        return dir;
    }
    if (writable_dir("/var/lib/orvanta")) return "/var/lib/orvanta";
    const char* home = std::getenv("HOME");
    std::string dir = std::string(home && *home ? home : "/tmp") + "/.local/share/orvanta";
    make_directories(dir);
    return dir;
}

std::string data_directory_rule() {
    return "$ProgramData/Orvanta, else /var/lib/orvanta, else ~/.local/share/orvanta";
}

std::string program_path() {
    char buf[PATH_MAX + 1];
    ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
    if (n <= 0) return "";
    return std::string(buf, static_cast<size_t>(n));
}

std::string program_directory() {
    std::string p = program_path();
    size_t slash = p.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : p.substr(0, slash);
}

std::optional<std::string> read_file(const std::string& path, size_t max_bytes, bool follow_links) {
    // O_NONBLOCK: a FIFO in place of a file must not hang the reader (it is
    // then refused as not regular); regular files ignore the flag.
    int fd =
        open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | (follow_links ? 0 : O_NOFOLLOW));
    if (fd < 0) {
        const int e = errno;
        if (e == ELOOP && !follow_links && is_symlink(path)) note_refused_link(path);
        fail(e);
        return std::nullopt;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        fail(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        close(fd);
        return std::nullopt;
    }
    if (static_cast<unsigned long long>(st.st_size) > max_bytes) {
        fail(EFBIG);
        close(fd);
        return std::nullopt;
    }
    std::string out;
    out.reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            fail(errno);
            close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        out.append(buf, static_cast<size_t>(n));
        if (out.size() > max_bytes) {
            fail(EFBIG);
            close(fd);
            return std::nullopt;
        }
    }
    close(fd);
    return out;
}

bool write_file_whole(const std::string& path, const std::string& content, bool private_mode) {
    std::lock_guard<std::mutex> lock(write_mutex());
    t_write_failure = WriteFailure::none;
    const std::string tmp = path + ".tmp";
    struct stat old_st {};
    const bool had_file = lstat(path.c_str(), &old_st) == 0;
    if (had_file && !S_ISREG(old_st.st_mode)) {
        if (S_ISLNK(old_st.st_mode)) {
            note_refused_link(path);
            return fail_write(WriteFailure::open, ELOOP);
        }
        return fail_write(WriteFailure::open, S_ISDIR(old_st.st_mode) ? EISDIR : EINVAL);
    }
    int fd = create_temp(tmp, private_mode ? 0600 : 0644);
    if (fd < 0) {
        const int e = errno;
        if (is_symlink(tmp)) note_refused_link(tmp);
        return fail_write(WriteFailure::open, e);
    }
    // A replaced file keeps its permissions (a settings file made private stays private).
    if (had_file) fchmod(fd, old_st.st_mode & 07777);
    size_t done = 0;
    while (done < content.size()) {
        ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int e = n < 0 ? errno : EIO;
            close(fd);
            unlink(tmp.c_str());
            return fail_write(WriteFailure::write, e);
        }
        done += static_cast<size_t>(n);
    }
    if (fsync(fd) != 0) {
        int e = errno;
        close(fd);
        unlink(tmp.c_str());
        return fail_write(WriteFailure::write, e);
    }
    if (close(fd) != 0) {
        int e = errno;
        unlink(tmp.c_str());
        return fail_write(WriteFailure::write, e);
    }
    if (rename(tmp.c_str(), path.c_str()) != 0) {
        int e = errno;
        unlink(tmp.c_str());
        return fail_write(WriteFailure::replace, e);
    }
    int dfd = open(parent_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
    return true;
}

bool file_exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool path_exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

bool is_symlink(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool directory_exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool make_directories(const std::string& path) {
    if (path.empty()) return false;
    if (directory_exists(path)) return true;
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos == path.size() || path[pos] == '/') {
            std::string part = path.substr(0, pos);
            if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return fail(errno);
        }
    }
    return directory_exists(path);
}

bool remove_file(const std::string& path) {
    return unlink(path.c_str()) == 0 || fail(errno);
}

WriteFailure last_write_failure() {
    return t_write_failure;
}

void clear_write_failure() {
    t_write_failure = WriteFailure::none;
}

std::string file_error_text() {
    return t_last_error ? std::strerror(t_last_error) : "unknown error";
}
