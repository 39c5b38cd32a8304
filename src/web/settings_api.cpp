// Placeholder until the settings routes are built: every route answers 404.
#include "web/settings_api.h"

#include <cstdlib>

bool is_settings_route(const std::string&, const std::string&) {
    return false;
}

SettingsAnswer handle_settings_route(SettingsApiContext&, const SettingsRequest&) {
    return {"404 Not Found", "", AfterAnswer::none};
}

void relaunch_and_exit(const SettingsApiContext&) {
    std::exit(0);
}
