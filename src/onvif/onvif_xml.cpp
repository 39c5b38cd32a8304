#include "onvif/onvif_xml.h"

namespace {

bool ends_name(char c) {
    return c == '\t' || c == '\n' || c == '\r' || c == ' ' || c == '/' || c == '>';
}

// Position just after the first counting occurrence of the name (colon pattern
// first, then the angle-bracket pattern); npos when there is none.
size_t find_element(std::string_view xml, std::string_view name) {
    for (char lead : {':', '<'}) {
        std::string pattern(1, lead);
        pattern += name;
        for (size_t p = xml.find(pattern); p != std::string_view::npos;
             p = xml.find(pattern, p + 1)) {
            const size_t after = p + pattern.size();
            if (after < xml.size() && ends_name(xml[after])) return after;
        }
    }
    return std::string_view::npos;
}

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

bool has_element(std::string_view xml, std::string_view name) {
    return find_element(xml, name) != std::string_view::npos;
}

std::string xml_text(std::string_view xml, std::string_view name) {
    const size_t at = find_element(xml, name);
    if (at == std::string_view::npos) return {};
    const size_t gt = xml.find('>', at);
    if (gt == std::string_view::npos || xml[gt - 1] == '/') return {};
    const size_t lt = xml.find('<', gt + 1);
    if (lt == std::string_view::npos) return {};
    size_t b = gt + 1, e = lt;
    while (b < e && is_blank(xml[b])) ++b;
    while (e > b && is_blank(xml[e - 1])) --e;
    return std::string(xml.substr(b, e - b));
}

std::string xml_escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        switch (ch) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                if (static_cast<unsigned char>(ch) >= 32) out += ch;
        }
    }
    return out;
}

void replace_all(std::string& text, std::string_view placeholder, std::string_view value) {
    if (placeholder.empty()) return;
    for (size_t p = text.find(placeholder); p != std::string::npos;
         p = text.find(placeholder, p + value.size())) {
        text.replace(p, placeholder.size(), value);
    }
}

std::string soap_envelope(std::string_view body, std::string_view action) {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><env:Envelope "
        "xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\" "
        "xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\" "
        "xmlns:trt=\"http://www.onvif.org/ver10/media/wsdl\" "
        "xmlns:ter=\"http://www.onvif.org/ver10/error\" "
        "xmlns:timg=\"http://www.onvif.org/ver20/imaging/wsdl\" "
        "xmlns:tev=\"http://www.onvif.org/ver10/events/wsdl\" "
        "xmlns:wsnt=\"http://docs.oasis-open.org/wsn/b-2\" "
        "xmlns:wstop=\"http://docs.oasis-open.org/wsn/t-1\" "
        "xmlns:wsa=\"http://www.w3.org/2005/08/addressing\" "
        "xmlns:tns1=\"http://www.onvif.org/ver10/topics\" "
        "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
        "xmlns:tt=\"http://www.onvif.org/ver10/schema\">";
    if (!action.empty()) {
        out += "<env:Header><wsa:Action>";
        out += action;
        out += "</wsa:Action></env:Header>";
    }
    out += "<env:Body>";
    out += body;
    out += "</env:Body></env:Envelope>";
    return out;
}
