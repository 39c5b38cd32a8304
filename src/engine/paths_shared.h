// What the platform files of the paths facility share.
#pragma once

#include <mutex>
#include <string>

// Serialises whole-file writes inside this process, so that two threads that
// write the same target never share its ".tmp" file.
std::mutex& write_mutex();
// Says once per path (for the first 64 paths) that a symbolic link was refused.
void note_refused_link(const std::string& path);
