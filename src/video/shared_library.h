// Loading a shared library at run time (the H.264 encoder library).
#pragma once

// Null when the file cannot be loaded.
void* shared_library_open(const char* file_name);
void* shared_library_symbol(void* library, const char* name);
void shared_library_close(void* library);
