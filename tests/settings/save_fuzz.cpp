// libFuzzer target: the form decoder and the /save check over arbitrary bytes.
// The first line of the input is taken as the settings file, the rest as the
// form body. Every accepted change must be safe to write as one settings line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "engine/settings_validate.h"
#include "web/web_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    const size_t nl = text.find('\n');
    const std::string_view file_text = nl == std::string_view::npos ? "" : text.substr(0, nl);
    const std::string_view form = nl == std::string_view::npos ? text : text.substr(nl + 1);
    const ConfigMap file = parse_config_text(file_text);
    const SaveCheck r = validate_save(parse_form(form), file);
    if (r.ok == r.changes.empty()) std::abort();
    for (const auto& [key, value] : r.changes) {
        // A line break or NUL in a stored value would add lines to the file.
        for (char c : value)
            if (c == '\r' || c == '\n' || c == '\0') std::abort();
        if (key.empty()) std::abort();
    }
    json_escape(form);
    return 0;
}
