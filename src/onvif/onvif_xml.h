// Text-level XML and SOAP helpers of the ONVIF endpoint. Requests are never
// parsed into a tree: actions and values are found by searching the text for
// an element's local name, whatever its namespace prefix.
#pragma once

#include <string>
#include <string_view>

// True when <prefix:name or <name occurs followed by blank, '/' or '>'.
bool has_element(std::string_view xml, std::string_view name);
// Trimmed text of the first such element ("" when absent or self-closing).
std::string xml_text(std::string_view xml, std::string_view name);
// &, <, >, ", ' escaped; bytes below 32 dropped.
std::string xml_escape(std::string_view text);
// Replaces every occurrence, continuing after each inserted value.
void replace_all(std::string& text, std::string_view placeholder, std::string_view value);
// SOAP 1.2 envelope with the namespaces all answers use; the wsa:Action
// header only when action is not empty.
std::string soap_envelope(std::string_view body, std::string_view action = {});
