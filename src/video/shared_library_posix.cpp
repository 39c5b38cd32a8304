#include <dlfcn.h>

#include "video/shared_library.h"

const char* const k_h264_library_files[] = {"libopenh264.so.7", "libopenh264.so", nullptr};

void* shared_library_open(const char* file_name) {
    return dlopen(file_name, RTLD_NOW | RTLD_LOCAL);
}

void* shared_library_symbol(void* library, const char* name) {
    return library ? dlsym(library, name) : nullptr;
}

void shared_library_close(void* library) {
    if (library) dlclose(library);
}
