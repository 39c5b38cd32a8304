// Where the camera keeps its files, and whole-file reads and writes. Files that
// other processes or later runs read are written whole: a ".tmp" sibling,
// flushed to disk, renamed over the target, then the directory flushed, so a
// reader sees the old or the new content and never a mix.
#pragma once

#include <optional>
#include <string>

// The machine-wide data directory (DataDirectory), created when missing
// (failure ignored): $ProgramData/Orvanta when ProgramData is set, else
// /var/lib/orvanta when it can be created and written, else
// $HOME/.local/share/orvanta.
std::string data_directory();
// Where data_directory() looks, in words for the command-line help.
std::string data_directory_rule();
// Directory of the running executable, without a trailing separator.
std::string program_directory();
// Full path of the running executable.
std::string program_path();

// Whole file content; nothing when it cannot be opened or read, or is larger
// than max_bytes, or is a directory. A symbolic link is not followed unless
// follow_links is set (for files the user names, such as an import file):
// a link planted in the data directory must not make the camera read, as
// root, a file it points to. A refused link is logged once per path.
std::optional<std::string> read_file(const std::string& path, size_t max_bytes = 64u << 20,
                                     bool follow_links = false);
// Writes content whole (see above). Only a regular file (or no file) is
// replaced: a symbolic link or anything else at path is left alone and the
// write fails (a refused link is logged once per path). The temporary file is
// made new, never opened through a link. On failure the temporary file is
// removed, the old file stays, and false is returned.
bool write_file_whole(const std::string& path, const std::string& content,
                      bool private_mode = false);
bool file_exists(const std::string& path);  // exists and is a regular file
// Something is at path (a file, a directory, a link, even a dangling one).
bool path_exists(const std::string& path);
bool is_symlink(const std::string& path);
bool directory_exists(const std::string& path);
bool make_directories(const std::string& path);
bool remove_file(const std::string& path);
// Errno text of the last failed call of this facility on this thread.
std::string file_error_text();

// Step at which the last write_file_whole on this thread failed: the
// temporary file could not be opened, written, or moved over the target.
enum class WriteFailure { none, open, write, replace };
WriteFailure last_write_failure();
void clear_write_failure();
