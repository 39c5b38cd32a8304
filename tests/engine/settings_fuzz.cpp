// libFuzzer target: the settings file as read at start-up (parser, every
// typed getter and its warning) and the in-place rewrite, whose result must
// read back with the new values and every other key as it was.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>

#include "engine/engine_config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const ConfigMap before = parse_config_text(text);
    read_engine_config(before, 554, 8000);

    // Updates: a fixed key, and the value of the file's first key moved to a
    // new key, when it is one write_keys would write.
    std::map<std::string, std::string> updates = {{"fps", "12"}};
    if (!before.empty()) {
        const std::string v = trim_blanks(before.begin()->second);
        if (v.find_first_of(std::string("\r\n\0", 3)) == std::string::npos) updates["zz_moved"] = v;
    }
    const ConfigMap after = parse_config_text(rewrite_config_text(text, updates));
    for (const auto& [key, value] : updates) {
        auto it = after.find(key);
        if (it == after.end() || trim_blanks(it->second) != value) std::abort();
    }
    ConfigMap rest = after;
    for (const auto& u : updates) rest.erase(u.first);
    ConfigMap rest_before = before;
    for (const auto& u : updates) rest_before.erase(u.first);
    if (rest != rest_before) std::abort();
    return 0;
}
