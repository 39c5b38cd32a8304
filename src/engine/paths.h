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
// Directory of the running executable, without a trailing separator.
std::string program_directory();
// Full path of the running executable.
std::string program_path();

// Whole file content; nothing when it cannot be opened or read, or is larger
// than max_bytes, or is a directory.
std::optional<std::string> read_file(const std::string& path, size_t max_bytes = 64u << 20);
// Writes content whole (see above). On failure the temporary file is removed,
// the old file stays, and false is returned.
bool write_file_whole(const std::string& path, const std::string& content,
                      bool private_mode = false);
bool file_exists(const std::string& path);  // exists and is a regular file
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
