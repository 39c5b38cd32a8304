// Loading a shared library at run time (the H.264 encoder library).
#pragma once

// Null when the file cannot be loaded.
void* shared_library_open(const char* file_name);
void* shared_library_symbol(void* library, const char* name);
void shared_library_close(void* library);

// The H.264 encoder library's file names on this platform, in the order they
// are tried; the list ends with a null pointer.
extern const char* const k_h264_library_files[];
