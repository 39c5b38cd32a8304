// The ONVIF events service: pull-point and push subscriptions reporting the
// screen-motion state. The endpoint offers it every allowed SOAP request
// before the device/media/imaging dispatcher.
#pragma once

#include <optional>
#include <string>

#include "onvif/onvif_context.h"

// The whole SOAP envelope (placeholders not yet filled) when the request is an
// events-service request, nothing otherwise.
std::optional<std::string> events_handle(OnvifContext& ctx, const std::string& request_target,
                                         const std::string& body);

// Pushes motion changes to push subscribers; runs for the life of the process.
void event_watcher(OnvifContext& ctx);
