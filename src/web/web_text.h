// Text helpers shared by the web panel's routes: form bodies
// (application/x-www-form-urlencoded) and JSON string escaping.
#pragma once

#include <map>
#include <string>
#include <string_view>

// Splits a form body on '&', each part on its first '='; a part without '=' or
// with an empty name is skipped. Names and values are URL-decoded ('+' is a
// blank, '%' and two hex digits a byte). A name given twice keeps its last value.
std::map<std::string, std::string> parse_form(std::string_view body);

std::string url_decode(std::string_view text);

// The text as the inside of a JSON string: '"' and '\' escaped, \b \f \n \r \t,
// '<' '>' '&' as \u003c \u003e \u0026 (safe inside HTML), other bytes below 32
// as \u00XX; everything else, UTF-8 included, copied.
std::string json_escape(std::string_view text);
