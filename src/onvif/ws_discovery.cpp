#include "onvif/ws_discovery.h"

#include <cctype>

#include "engine/clock.h"
#include "engine/log.h"
#include "onvif/onvif_xml.h"

namespace {

constexpr uint16_t k_discovery_port = 3702;
constexpr size_t k_datagram_max = 8191;

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool is_prefix_char(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool contains_ci(std::string_view hay, std::string_view needle) {
    return lower(hay).find(lower(needle)) != std::string::npos;
}

std::vector<std::string> split_blank(std::string_view text) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && is_space(text[i])) ++i;
        size_t j = i;
        while (j < text.size() && !is_space(text[j])) ++j;
        if (j > i) out.emplace_back(text.substr(i, j - i));
        i = j;
    }
    return out;
}

bool types_match(std::string_view message, const XmlLookup& types) {
    const auto namespaces = namespace_map(message);
    for (const std::string& qname : split_blank(types.text)) {
        const size_t colon = qname.find(':');
        const std::string prefix = colon == std::string::npos ? "" : qname.substr(0, colon);
        const std::string local = colon == std::string::npos ? qname : qname.substr(colon + 1);
        const auto ns = namespaces.find(prefix);
        const bool known = ns != namespaces.end();
        const bool onvif = known && contains_ci(ns->second, "onvif.org");
        if (local == "NetworkVideoTransmitter") {
            if (known && !onvif) return false;
        } else if (local == "Device") {
            if (!onvif) return false;
        } else {
            return false;
        }
    }
    return true;
}

bool scope_matches(std::string_view s, std::string_view e) {
    if (s.size() > e.size()) return false;
    for (size_t i = 0; i < s.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[i])) !=
            std::tolower(static_cast<unsigned char>(e[i])))
            return false;
    return s.size() == e.size() || (!s.empty() && s.back() == '/') || e[s.size()] == '/';
}

}  // namespace

XmlLookup element_text(std::string_view m, std::string_view local_name) {
    XmlLookup r;
    for (size_t lt = m.find('<'); lt != std::string_view::npos; lt = m.find('<', lt + 1)) {
        const size_t start = lt + 1;
        if (start >= m.size() || m[start] == '/' || m[start] == '?' || m[start] == '!') continue;
        size_t end = start;
        while (end < m.size() && !is_space(m[end]) && m[end] != '/' && m[end] != '>') ++end;
        const std::string_view qname = m.substr(start, end - start);
        const size_t colon = qname.rfind(':');
        const std::string_view local =
            colon == std::string_view::npos ? qname : qname.substr(colon + 1);
        if (local != local_name) continue;
        const size_t gt = m.find('>', end);
        if (gt == std::string_view::npos) {
            r.result = XmlLookup::malformed;
            return r;
        }
        // The namespace: a declaration on the element itself, else the first
        // declaration of its prefix anywhere in the message.
        const std::string prefix =
            colon == std::string_view::npos ? "" : std::string(qname.substr(0, colon));
        auto own = namespace_map(m.substr(end, gt - end));
        if (!own.count(prefix)) own = namespace_map(m);
        if (own.count(prefix)) r.ns = own[prefix];
        if (m[gt - 1] == '/') {
            r.result = XmlLookup::found;
            return r;
        }
        // The matching end tag: "</" qname, optional blanks, ">".
        const std::string close = "</" + std::string(qname);
        for (size_t c = m.find(close, gt + 1); c != std::string_view::npos;
             c = m.find(close, c + 1)) {
            size_t k = c + close.size();
            while (k < m.size() && is_space(m[k])) ++k;
            if (k < m.size() && m[k] == '>') {
                r.result = XmlLookup::found;
                r.text = std::string(m.substr(gt + 1, c - gt - 1));
                return r;
            }
        }
        r.result = XmlLookup::malformed;
        return r;
    }
    return r;
}

std::map<std::string, std::string> namespace_map(std::string_view m) {
    std::map<std::string, std::string> out;
    for (size_t p = m.find("xmlns"); p != std::string_view::npos; p = m.find("xmlns", p + 1)) {
        if (p == 0 || !is_space(m[p - 1])) continue;
        size_t i = p + 5;
        std::string prefix;
        if (i < m.size() && m[i] == ':') {
            ++i;
            while (i < m.size() && is_prefix_char(m[i])) prefix += m[i++];
            if (prefix.empty()) continue;
        }
        while (i < m.size() && is_space(m[i])) ++i;
        if (i >= m.size() || m[i] != '=') continue;
        ++i;
        while (i < m.size() && is_space(m[i])) ++i;
        if (i >= m.size() || (m[i] != '"' && m[i] != '\'')) continue;
        const char quote = m[i];
        const size_t close = m.find(quote, i + 1);
        if (close == std::string_view::npos) continue;
        out.emplace(prefix, std::string(m.substr(i + 1, close - i - 1)));
    }
    return out;
}

bool is_probe(std::string_view message) {
    const XmlLookup action = element_text(message, "Action");
    if (action.result == XmlLookup::malformed) return false;
    if (action.result == XmlLookup::found) {
        std::string a;
        for (char c : action.text)
            if (!is_space(c)) a += c;
        if (!a.empty()) {
            a = lower(a);
            if (a.find("/discovery/probematches") != std::string::npos ||
                a.find("/discovery/resolvematches") != std::string::npos)
                return false;
            return a.find("/discovery/probe") != std::string::npos;
        }
    }
    return element_text(message, "Probe").result == XmlLookup::found &&
           element_text(message, "ProbeMatches").result != XmlLookup::found;
}

bool probe_matches(std::string_view message, const std::vector<std::string>& scope_list) {
    if (message.empty() || message.size() > 65535 || !is_probe(message)) return false;
    const XmlLookup types = element_text(message, "Types");
    if (types.result == XmlLookup::malformed) return false;
    if (types.result == XmlLookup::found && !types_match(message, types)) return false;
    const XmlLookup scopes = element_text(message, "Scopes");
    if (scopes.result == XmlLookup::malformed) return false;
    if (scopes.result == XmlLookup::absent) return true;
    for (const std::string& s : split_blank(scopes.text)) {
        bool any = false;
        for (const std::string& e : scope_list) any = any || scope_matches(s, e);
        if (!any) return false;
    }
    return true;
}

bool well_formed_probe(std::string_view message) {
    const XmlLookup envelope = element_text(message, "Envelope");
    if (envelope.result != XmlLookup::found ||
        (envelope.ns != "http://www.w3.org/2003/05/soap-envelope" &&
         envelope.ns != "http://schemas.xmlsoap.org/soap/envelope/"))
        return false;
    if (element_text(message, "Body").result != XmlLookup::found) return false;
    const XmlLookup probe = element_text(message, "Probe");
    if (probe.result != XmlLookup::found ||
        probe.ns != "http://schemas.xmlsoap.org/ws/2005/04/discovery")
        return false;
    const XmlLookup id = element_text(message, "MessageID");
    return id.result == XmlLookup::found && !id.text.empty() && id.text.size() <= k_max_message_id;
}

std::string probe_matches_answer(OnvifContext& ctx, std::string_view probe) {
    // Echoed escaped: the probe's text must not be able to break our answer.
    std::string relates_to;
    const XmlLookup id = element_text(probe, "MessageID");
    if (id.result == XmlLookup::found) {
        std::string_view t = id.text;
        while (!t.empty() && is_space(t.front())) t.remove_prefix(1);
        while (!t.empty() && is_space(t.back())) t.remove_suffix(1);
        relates_to = xml_escape(t.substr(0, k_max_message_id));
    }
    std::string scope_name;
    {
        std::lock_guard<std::mutex> g(ctx.lock);
        scope_name = ctx.scope_name;
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><env:Envelope "
           "xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\" "
           "xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
           "xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\" "
           "xmlns:dn=\"http://www.onvif.org/ver10/network/wsdl\" "
           "xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\"><env:Header><a:MessageID>" +
           ctx.second_uuid + "</a:MessageID><a:RelatesTo>" + relates_to +
           "</a:RelatesTo><a:To>http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous"
           "</a:To><a:Action>http://schemas.xmlsoap.org/ws/2005/04/discovery/ProbeMatches"
           "</a:Action></env:Header><env:Body><d:ProbeMatches><d:ProbeMatch><a:EndpointReference>"
           "<a:Address>" +
           ctx.endpoint_uuid +
           "</a:Address></a:EndpointReference><d:Types>dn:NetworkVideoTransmitter tds:Device"
           "</d:Types><d:Scopes>onvif://www.onvif.org/type/NetworkVideoTransmitter "
           "onvif://www.onvif.org/type/video_encoder onvif://www.onvif.org/Profile/S "
           "onvif://www.onvif.org/Profile/Streaming onvif://www.onvif.org/name/" +
           scope_name + " onvif://www.onvif.org/location/" + ctx.location +
           " onvif://www.onvif.org/hardware/" + ctx.serial_number + "</d:Scopes><d:XAddrs>http://" +
           ctx.address + ":" + std::to_string(ctx.onvif_port) +
           "/onvif/device_service</d:XAddrs><d:MetadataVersion>1</d:MetadataVersion>"
           "</d:ProbeMatch></d:ProbeMatches></env:Body></env:Envelope>";
}

std::string discovery_answer(OnvifContext& ctx, std::string_view message,
                             const std::vector<std::string>& scope_list) {
    if (!probe_matches(message, scope_list) || !well_formed_probe(message)) return {};
    std::string answer = probe_matches_answer(ctx, message);
    if (answer.size() > 3 * message.size()) return {};
    return answer;
}

bool DiscoveryRateLimiter::allow(const std::string& source, uint64_t now_ms) {
    if (!started_ || now_ms - window_start_ >= 1000 || now_ms < window_start_) {
        started_ = true;
        window_start_ = now_ms;
        total_count_ = 0;
        counts_.clear();
    }
    if (total_count_ >= total_) return false;
    uint32_t& n = counts_[source];
    if (n >= per_source_) return false;
    ++n;
    ++total_count_;
    return true;
}

void discovery_thread(OnvifContext& ctx) {
    const socket_t s = udp_bind(k_discovery_port);
    if (s == k_invalid_socket) {
        engine_log(
            "WS-Discovery bind failed: %d (auto-discovery off; add the camera manually "
            "by IP)\n",
            net_last_error());
        if (ctx.report_discovery_port) ctx.report_discovery_port(k_discovery_port, 0, 2);
        return;
    }
    if (ctx.report_discovery_port) ctx.report_discovery_port(k_discovery_port, k_discovery_port, 1);
    udp_join_group(s, "239.255.255.250", "");
    int joined = 0;
    for (const std::string& ip : multicast_interface_addresses()) {
        udp_join_group(s, "239.255.255.250", ip);
        ++joined;
    }
    engine_log("WS-Discovery ready (UDP 3702, joined %d interface(s))\n", joined);

    DiscoveryRateLimiter limiter;
    std::string buf(k_datagram_max, '\0');
    for (;;) {
        std::string from;
        uint16_t from_port = 0;
        const long n = udp_recv_from(s, buf.data(), buf.size(), &from, &from_port);
        if (n <= 0) {
            sleep_ms(5);
            continue;
        }
        const std::string_view message(buf.data(), static_cast<size_t>(n));
        std::vector<std::string> scopes;
        {
            std::lock_guard<std::mutex> g(ctx.lock);
            scopes = ctx.scope_list;
        }
        const std::string answer = discovery_answer(ctx, message, scopes);
        if (answer.empty() || !limiter.allow(from, tick_ms())) continue;
        udp_send_to(s, answer.data(), answer.size(), from, from_port);
    }
}
