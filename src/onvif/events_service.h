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

// Posts one Notify (both motion messages) to a push subscriber and records
// whether it was delivered; the caller holds that subscriber's push lock.
void push_notify(OnvifContext& ctx, const std::string& id, const EventSubscription& sub,
                 bool is_motion, const std::string& operation);
