#include "video/openh264.h"

#include <wels/codec_api.h>

#include "video/shared_library.h"

namespace {
using CreateFn = int (*)(ISVCEncoder**);
using DestroyFn = void (*)(ISVCEncoder*);
}  // namespace

void* openh264_create(void*& library) {
    for (const char* const* file = k_h264_library_files; *file && !library; ++file)
        library = shared_library_open(*file);
    if (!library) return nullptr;
    auto create = reinterpret_cast<CreateFn>(shared_library_symbol(library, "WelsCreateSVCEncoder"));
    auto destroy =
        reinterpret_cast<DestroyFn>(shared_library_symbol(library, "WelsDestroySVCEncoder"));
    ISVCEncoder* e = nullptr;
    if (!create || !destroy || create(&e) != 0 || !e) return nullptr;
    // Library warnings would otherwise go to stderr on every open.
    int trace = WELS_LOG_ERROR;
    e->SetOption(ENCODER_OPTION_TRACE_LEVEL, &trace);
    return e;
}

void openh264_destroy(void* library, void* encoder) {
    auto* e = static_cast<ISVCEncoder*>(encoder);
    auto destroy =
        reinterpret_cast<DestroyFn>(shared_library_symbol(library, "WelsDestroySVCEncoder"));
    e->Uninitialize();
    if (destroy) destroy(e);
}
