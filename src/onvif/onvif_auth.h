// Credential gate of the ONVIF port: which SOAP requests need the stream
// credentials, and the two accepted proofs (WS-Security UsernameToken in the
// body, HTTP Digest or Basic in the Authorization header). Pure functions.
#pragma once

#include <string>
#include <string_view>

#include "onvif/onvif_context.h"

// The requests that reveal or fetch the video, and the events actions (only
// consulted with stream_auth on).
bool needs_credentials(std::string_view body);
// WS-Security UsernameToken, digest (SHA-1 of nonce + created + password) or text.
bool check_username_token(const OnvifContext& ctx, std::string_view body);
// Authorization header: Basic, or Digest against the given nonce (RFC 2617
// with qop, or RFC 2069 without).
bool check_http_auth(std::string_view request, std::string_view method, std::string_view realm,
                     std::string_view nonce, std::string_view user, std::string_view password);
