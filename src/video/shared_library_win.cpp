// LoadLibrary of the encoder DLL. A bare file name is looked for beside the
// program first, then in the system's safe search (the program's folder and
// System32), never in the current directory: a DLL someone left in whatever
// folder the camera was started from must not be loaded into it.
#include <windows.h>

#include <string>

#include "engine/paths.h"
#include "video/shared_library.h"

const char* const k_h264_library_files[] = {"openh264.dll", "orcore.dll", nullptr};

namespace {

std::wstring wide(const std::string& s) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(n > 0 ? n : 0, L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
    return out;
}

bool bare_name(const std::string& name) {
    return name.find_first_of("\\/:") == std::string::npos;
}

}  // namespace

void* shared_library_open(const char* file_name) {
    const std::string name = file_name ? file_name : "";
    if (name.empty()) return nullptr;
    HMODULE m = nullptr;
    if (bare_name(name)) {
        const std::string dir = program_directory();
        if (!dir.empty()) {
            // The DLL's own dependencies are then looked up in its folder too.
            m = LoadLibraryExW(wide(dir + "\\" + name).c_str(), nullptr,
                               LOAD_WITH_ALTERED_SEARCH_PATH);
        }
        if (!m) m = LoadLibraryExW(wide(name).c_str(), nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    } else {
        m = LoadLibraryExW(wide(name).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    return reinterpret_cast<void*>(m);
}

void* shared_library_symbol(void* library, const char* name) {
    if (!library || !name) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void shared_library_close(void* library) {
    if (library) FreeLibrary(static_cast<HMODULE>(library));
}
