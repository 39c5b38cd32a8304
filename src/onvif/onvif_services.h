// Answers about the ONVIF services themselves (device, media, events,
// imaging): their list, the capabilities of each, and the events service's
// topic set. Pure functions of OnvifContext fields written before the threads
// start; placeholders are filled by the endpoint.
#pragma once

#include <string>

#include "onvif/onvif_context.h"

// GetServices body: the four services, each with its capabilities when asked.
std::string services_answer(const OnvifContext& ctx, bool with_capabilities);
// GetServiceCapabilities body of the service addressed by the request's
// element namespace, else by the path it was posted to; the device service
// when neither says.
std::string service_capabilities_answer(const OnvifContext& ctx, const std::string& body,
                                        const std::string& target);
// GetEventProperties body: the two motion topics and the dialects.
std::string event_properties_answer();
