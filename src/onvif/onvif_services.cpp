// Answers about the services themselves: GetServices (with each service's
// capabilities on request), GetServiceCapabilities of the service a request is
// addressed to, and the events service's GetEventProperties.
#include "onvif/onvif_services.h"

namespace {

enum class ServiceKind { device, media, events, imaging };

struct Service {
    ServiceKind kind;
    const char* ns;
    const char* path;
    const char* prefix;  // of the envelope's namespace declarations
};

// In the order GetServices lists them.
const Service k_services[] = {
    {ServiceKind::device, "http://www.onvif.org/ver10/device/wsdl", "device_service", "tds"},
    {ServiceKind::media, "http://www.onvif.org/ver10/media/wsdl", "media_service", "trt"},
    {ServiceKind::events, "http://www.onvif.org/ver10/events/wsdl", "event_service", "tev"},
    {ServiceKind::imaging, "http://www.onvif.org/ver20/imaging/wsdl", "imaging_service", "timg"},
};

std::string service_capabilities(const OnvifContext& ctx, ServiceKind kind) {
    switch (kind) {
        case ServiceKind::device:
            return "<tds:Capabilities><tds:Network IPFilter=\"false\" ZeroConfiguration=\"false\" "
                   "IPVersion6=\"false\" DynDNS=\"false\"/><tds:Security UsernameToken=\"true\" "
                   "HttpDigest=\"true\"/><tds:System DiscoveryResolve=\"false\" "
                   "DiscoveryBye=\"true\" RemoteDiscovery=\"false\" SystemBackup=\"false\" "
                   "SystemLogging=\"false\"/></tds:Capabilities>";
        case ServiceKind::media:
            return std::string(
                       "<trt:Capabilities SnapshotUri=\"true\" Rotation=\"false\" OSD=\"true\">"
                       "<trt:ProfileCapabilities MaximumNumberOfProfiles=\"") +
                   (ctx.sub_stream_on ? "2" : "1") +
                   "\"/><trt:StreamingCapabilities RTPMulticast=\"false\" RTP_TCP=\"true\" "
                   "RTP_RTSP_TCP=\"true\"/></trt:Capabilities>";
        case ServiceKind::events:
            return "<tev:Capabilities WSSubscriptionPolicySupport=\"false\" WSPullPointSupport="
                   "\"true\" WSPausableSubscriptionManagerInterfaceSupport=\"false\" "
                   "MaxNotificationProducers=\"0\" MaxPullPoints=\"8\" "
                   "PersistentNotificationStorage=\"false\"/>";
        case ServiceKind::imaging:
            return "<timg:Capabilities ImageStabilization=\"false\"/>";
    }
    return {};
}

// The service a GetServiceCapabilities is addressed to: the namespace of its
// element (prefix declared anywhere in the request, or a default namespace
// before it), else the path it was posted to; the device service when neither
// says.
ServiceKind addressed_service(const std::string& body, const std::string& target) {
    std::string ns;
    for (size_t at = body.find("GetServiceCapabilities"); at != std::string::npos && ns.empty();
         at = body.find("GetServiceCapabilities", at + 1)) {
        const size_t lt = body.rfind('<', at);
        if (lt == std::string::npos) break;
        const std::string prefix = body.substr(lt + 1, at - lt - 1);          // "trt:" or ""
        if (prefix.find_first_of("<>/ \"'=") != std::string::npos) continue;  // not a start tag
        if (!prefix.empty() && prefix.back() == ':') {
            const std::string decl = "xmlns:" + prefix.substr(0, prefix.size() - 1) + "=";
            const size_t d = body.find(decl);
            if (d != std::string::npos) ns = body.substr(d + decl.size() + 1, 60);
        } else if (prefix.empty()) {
            const size_t gt = body.find('>', at);
            const size_t d = body.rfind("xmlns=", gt == std::string::npos ? at : gt);
            if (d != std::string::npos) ns = body.substr(d + 7, 60);
        }
        if (ns.empty()) break;
    }
    for (const Service& s : k_services)
        if (!ns.empty() && ns.rfind(s.ns, 0) == 0) return s.kind;
    for (const Service& s : k_services)
        if (target.find(s.path) != std::string::npos) return s.kind;
    return ServiceKind::device;
}

}  // namespace

std::string services_answer(const OnvifContext& ctx, bool with_capabilities) {
    std::string out = "<tds:GetServicesResponse>";
    for (const Service& s : k_services) {
        out += "<tds:Service><tds:Namespace>";
        out += s.ns;
        out += "</tds:Namespace><tds:XAddr>http://{IP}:{ONVIFPORT}/onvif/";
        out += s.path;
        out += "</tds:XAddr>";
        if (with_capabilities)
            out += "<tds:Capabilities>" + service_capabilities(ctx, s.kind) + "</tds:Capabilities>";
        out +=
            "<tds:Version><tt:Major>2</tt:Major><tt:Minor>5</tt:Minor>"
            "</tds:Version></tds:Service>";
    }
    return out + "</tds:GetServicesResponse>";
}

std::string service_capabilities_answer(const OnvifContext& ctx, const std::string& body,
                                        const std::string& target) {
    const ServiceKind kind = addressed_service(body, target);
    const char* prefix = k_services[static_cast<int>(kind)].prefix;
    return std::string("<") + prefix + ":GetServiceCapabilitiesResponse>" +
           service_capabilities(ctx, kind) + "</" + prefix + ":GetServiceCapabilitiesResponse>";
}

std::string event_properties_answer() {
    auto item = [](const char* name, const char* type) {
        return std::string("<tt:SimpleItemDescription Name=\"") + name + "\" Type=\"" + type +
               "\"/>";
    };
    return "<tev:GetEventPropertiesResponse><tev:TopicNamespaceLocation>"
           "http://www.onvif.org/onvif/ver10/topics/topicns.xml</tev:TopicNamespaceLocation>"
           "<wsnt:FixedTopicSet>true</wsnt:FixedTopicSet><wstop:TopicSet>"
           "<tns1:RuleEngine wstop:topic=\"false\"><tns1:CellMotionDetector wstop:topic=\"false\">"
           "<tns1:Motion wstop:topic=\"true\"><tt:MessageDescription IsProperty=\"true\">"
           "<tt:Source>" +
           item("VideoSourceConfigurationToken", "tt:ReferenceToken") +
           item("VideoAnalyticsConfigurationToken", "tt:ReferenceToken") +
           item("Rule", "xs:string") + "</tt:Source><tt:Data>" + item("IsMotion", "xs:boolean") +
           "</tt:Data></tt:MessageDescription></tns1:Motion></tns1:CellMotionDetector>"
           "</tns1:RuleEngine><tns1:VideoSource wstop:topic=\"false\"><tns1:MotionAlarm "
           "wstop:topic=\"true\"><tt:MessageDescription IsProperty=\"true\"><tt:Source>" +
           item("Source", "tt:ReferenceToken") + "</tt:Source><tt:Data>" +
           item("State", "xs:boolean") +
           "</tt:Data></tt:MessageDescription></tns1:MotionAlarm></tns1:VideoSource>"
           "</wstop:TopicSet><wsnt:TopicExpressionDialect>"
           "http://docs.oasis-open.org/wsn/t-1/TopicExpression/Concrete"
           "</wsnt:TopicExpressionDialect><tev:MessageContentFilterDialect>"
           "http://www.onvif.org/ver10/tev/messageContentFilter/ItemFilter"
           "</tev:MessageContentFilterDialect><tev:MessageContentSchemaLocation>"
           "http://www.onvif.org/onvif/ver10/schema/onvif.xsd</tev:MessageContentSchemaLocation>"
           "</tev:GetEventPropertiesResponse>";
}
