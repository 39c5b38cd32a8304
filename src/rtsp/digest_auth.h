// RTSP authentication: HTTP Digest (RFC 2617 with or without qop "auth", and
// the RFC 2069 form) and Basic (RFC 7617) against the administrator's
// credentials, plus the small text helpers the ONVIF HTTP check shares.
// Pure functions; no shared state.
#pragma once

#include <string>
#include <string_view>

// True when the request's Authorization header proves user/password, with
// Digest against this connection's nonce and realm, or with Basic. An empty
// configured password never passes.
bool check_rtsp_auth(std::string_view request, std::string_view method, std::string_view realm,
                     std::string_view nonce, std::string_view user, std::string_view password);

// n random bytes (16 when n <= 0) as 2n lower-case hexadecimal characters.
std::string random_hex(int n);
// One Digest parameter of a header line; empty when absent. A name matches only
// at the start of a parameter (after a blank, tab or comma), so "nonce" never
// matches inside "cnonce".
std::string auth_param(std::string_view line, std::string_view name);
// MD5 (RFC 1321) as 32 lower-case hexadecimal characters.
std::string md5_hex(std::string_view bytes);
// Compares every byte whatever the first difference; false on different lengths.
bool equal_constant_time(std::string_view a, std::string_view b);
