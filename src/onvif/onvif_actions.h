// The ONVIF action dispatcher: device, media and imaging answers (plus three
// events-service answers) built from fixed templates. No request changes the
// camera; Set/Create/Delete/Add/Remove are acknowledged without effect.
// Answers still hold the placeholders {IP}, {ONVIFPORT}, {RTSPPORT},
// {SUBSTREAM}, {STREAM}, {W}, {H}, {FPS}; fill_placeholders puts the values in.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "onvif/onvif_context.h"

// The envelope answering one SOAP body (an ActionNotSupported fault when no
// action of the table is recognised).
std::string dispatch(OnvifContext& ctx, const std::string& body, const std::string& request_target);
// Placeholder substitution applied to every SOAP answer.
void fill_placeholders(const OnvifContext& ctx, std::string& envelope);

std::string build_profile(bool audio, std::string_view element, std::string_view token,
                          std::string_view name, std::string_view source_token,
                          std::string_view encoder_token, std::string_view width,
                          std::string_view height, std::string_view fps, std::string_view bitrate);

struct OsdLayout {
    std::string display_name;
    uint32_t name_pos = 3;
    uint32_t clock_pos = 1;
    bool clock_on = false;
    std::string source_token = "vsrccfg0";
};
std::string build_osd(const OsdLayout& layout, std::string_view element, bool clock);

// GetSystemDateAndTime answer body for one UTC time.
std::string system_date_and_time_body(const std::tm& utc);
// Local name of the first element inside the SOAP body, or "?".
std::string unsupported_action_name(std::string_view body);

// The NotAuthorized fault that travels with the 401 answer.
extern const char* const k_fault_not_authorized;
