// Placeholder events service: declines every request and has nothing to watch.
#include "onvif/events_service.h"

std::optional<std::string> events_handle(OnvifContext&, const std::string&, const std::string&) {
    return std::nullopt;
}

void event_watcher(OnvifContext&) {}
