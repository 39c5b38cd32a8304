// Standard Base64 (RFC 4648, with padding): SDP parameter sets, Basic
// authentication, WS-Security nonces and the stored "enc:" values.
#pragma once

#include <optional>
#include <string>
#include <string_view>

std::string base64_encode(std::string_view bytes);
// Accepts the standard alphabet with or without padding; whitespace is not
// allowed. Returns nothing for any other input.
std::optional<std::string> base64_decode(std::string_view text);
