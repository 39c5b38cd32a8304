// Action table and answer templates of the device, media and imaging services.
#include "onvif/onvif_actions.h"

#include <chrono>
#include <cstdio>
#include <optional>

#include "engine/log.h"
#include "onvif/onvif_services.h"
#include "onvif/onvif_xml.h"
#include "video/local_time.h"

const char* const k_fault_not_authorized =
    "<env:Fault><env:Code><env:Value>env:Sender</env:Value><env:Subcode><env:Value>"
    "ter:NotAuthorized</env:Value></env:Subcode></env:Code><env:Reason><env:Text "
    "xml:lang=\"en\">Sender not authorized</env:Text></env:Reason></env:Fault>";

namespace {

using Answer = std::optional<std::string>;  // nothing: try the next table row
using Handler = Answer (*)(OnvifContext&, const std::string& body, const std::string& target);

bool contains(const std::string& s, std::string_view what) {
    return s.find(what) != std::string::npos;
}

std::string no_config_fault(std::string_view reason) {
    std::string f =
        "<env:Fault><env:Code><env:Value>env:Sender</env:Value><env:Subcode><env:Value>"
        "ter:InvalidArgVal</env:Value><env:Subcode><env:Value>ter:NoConfig</env:Value>"
        "</env:Subcode></env:Subcode></env:Code><env:Reason><env:Text xml:lang=\"en\">";
    f += reason;
    f += "</env:Text></env:Reason></env:Fault>";
    return f;
}

const char* const k_fault_no_profile =
    "<env:Fault><env:Code><env:Value>env:Sender</env:Value><env:Subcode><env:Value>"
    "ter:InvalidArgVal</env:Value><env:Subcode><env:Value>ter:NoProfile</env:Value>"
    "</env:Subcode></env:Subcode></env:Code><env:Reason><env:Text xml:lang=\"en\">The "
    "requested profile token does not exist</env:Text></env:Reason></env:Fault>";

const char* const k_fault_no_audio_output =
    "<env:Fault><env:Code><env:Value>env:Receiver</env:Value><env:Subcode><env:Value>"
    "ter:ActionNotSupported</env:Value><env:Subcode><env:Value>ter:AudioOutputNotSupported"
    "</env:Value></env:Subcode></env:Subcode></env:Code><env:Reason><env:Text xml:lang=\"en\">"
    "Audio or Audio Outputs are not supported by the device</env:Text></env:Reason></env:Fault>";

// Streaming set-ups the camera cannot serve (it streams unicast only).
const char* const k_fault_stream_setup =
    "<env:Fault><env:Code><env:Value>env:Sender</env:Value><env:Subcode><env:Value>"
    "ter:InvalidArgVal</env:Value><env:Subcode><env:Value>ter:InvalidStreamSetup</env:Value>"
    "</env:Subcode></env:Subcode></env:Code><env:Reason><env:Text xml:lang=\"en\">Multicast "
    "streaming is not supported</env:Text></env:Reason></env:Fault>";

const char* const k_fault_not_supported =
    "<env:Fault><env:Code><env:Value>env:Receiver</env:Value><env:Subcode><env:Value>"
    "ter:ActionNotSupported</env:Value></env:Subcode></env:Code><env:Reason><env:Text "
    "xml:lang=\"en\">Action Not Implemented</env:Text></env:Reason></env:Fault>";

const char* const k_multicast =
    "<tt:Multicast><tt:Address><tt:Type>IPv4</tt:Type><tt:IPv4Address>239.0.0.1"
    "</tt:IPv4Address></tt:Address><tt:Port>5004</tt:Port><tt:TTL>1</tt:TTL><tt:AutoStart>"
    "false</tt:AutoStart></tt:Multicast>";

const char* const k_audio_encoder_cfg_inner =
    "<tt:Name>aenc</tt:Name><tt:UseCount>2</tt:UseCount><tt:Encoding>G711</tt:Encoding>"
    "<tt:Bitrate>64</tt:Bitrate><tt:SampleRate>8</tt:SampleRate>"
    "<tt:Multicast><tt:Address><tt:Type>IPv4</tt:Type><tt:IPv4Address>239.0.0.1"
    "</tt:IPv4Address></tt:Address><tt:Port>5004</tt:Port><tt:TTL>1</tt:TTL><tt:AutoStart>"
    "false</tt:AutoStart></tt:Multicast><tt:SessionTimeout>PT60S</tt:SessionTimeout>";
const char* const k_audio_source_cfg_inner =
    "<tt:Name>asrc</tt:Name><tt:UseCount>2</tt:UseCount><tt:SourceToken>asrc0</tt:SourceToken>";

const char* const k_video_source_cfg_main =
    "<trt:Configurations token=\"vsrccfg0\"><tt:Name>vsrc</tt:Name><tt:UseCount>1</tt:UseCount>"
    "<tt:SourceToken>vsrc0</tt:SourceToken><tt:Bounds x=\"0\" y=\"0\" width=\"{W}\" "
    "height=\"{H}\"/></trt:Configurations>";

// The stream a request is about: sub when the sub stream is on and the body
// names one of its tokens.
struct Selected {
    bool sub = false;
    std::string width, height, source_token, encoder_token, bitrate;
};

Selected select_stream(const OnvifContext& ctx, const std::string& body) {
    Selected s;
    s.sub = ctx.sub_stream_on &&
            (contains(body, "venccfg1") || contains(body, "vsrccfg1") || contains(body, "prof1"));
    if (s.sub) {
        s.width = std::to_string(ctx.sub_width);
        s.height = std::to_string(ctx.sub_height);
        s.source_token = "vsrccfg1";
        s.encoder_token = "venccfg1";
        s.bitrate = "512";
    } else {
        s.width = "{W}";
        s.height = "{H}";
        s.source_token = "vsrccfg0";
        s.encoder_token = "venccfg0";
        s.bitrate = "2000";
    }
    return s;
}

std::string tag(std::string_view name, std::string_view value) {
    std::string out = "<";
    out += name;
    out += ">";
    out += value;
    out += "</";
    out += name;
    out += ">";
    return out;
}

std::string profile_of(const OnvifContext& ctx, bool sub, std::string_view element) {
    const std::string fps = std::to_string(ctx.frame_rate);
    if (sub)
        return build_profile(ctx.audio_on, element, "prof1", "SubProfile", "vsrccfg1", "venccfg1",
                             std::to_string(ctx.sub_width), std::to_string(ctx.sub_height), fps,
                             "512");
    return build_profile(ctx.audio_on, element, "prof0", "MainProfile", "vsrccfg0", "venccfg0",
                         std::to_string(ctx.width), std::to_string(ctx.height), fps, "2000");
}

// ---- device service -------------------------------------------------------

Answer get_system_date_and_time(OnvifContext&, const std::string&, const std::string&) {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    utc_time(now, utc);
    return system_date_and_time_body(utc);
}

Answer get_device_information(OnvifContext& ctx, const std::string&, const std::string&) {
    std::string model;
    {
        std::lock_guard<std::mutex> g(ctx.lock);
        model = ctx.model;
    }
    return "<tds:GetDeviceInformationResponse><tds:Manufacturer>Orvanta</tds:Manufacturer>"
           "<tds:Model>" +
           xml_escape(model) + "</tds:Model><tds:FirmwareVersion>" + ctx.firmware_version +
           "</tds:FirmwareVersion><tds:SerialNumber>" + ctx.serial_number +
           "</tds:SerialNumber><tds:HardwareId>" + ctx.serial_number +
           "</tds:HardwareId></tds:GetDeviceInformationResponse>";
}

Answer get_capabilities(OnvifContext&, const std::string&, const std::string&) {
    return std::string(
        "<tds:GetCapabilitiesResponse><tds:Capabilities><tt:Device><tt:XAddr>"
        "http://{IP}:{ONVIFPORT}/onvif/device_service</tt:XAddr><tt:System>"
        "<tt:DiscoveryResolve>false</tt:DiscoveryResolve><tt:DiscoveryBye>true</tt:DiscoveryBye>"
        "<tt:RemoteDiscovery>false</tt:RemoteDiscovery><tt:SystemBackup>false</tt:SystemBackup>"
        "<tt:SystemLogging>false</tt:SystemLogging><tt:FirmwareUpgrade>false</tt:FirmwareUpgrade>"
        "<tt:SupportedVersions><tt:Major>2</tt:Major><tt:Minor>5</tt:Minor></tt:SupportedVersions>"
        "</tt:System></tt:Device><tt:Events><tt:XAddr>"
        "http://{IP}:{ONVIFPORT}/onvif/event_service</tt:XAddr><tt:WSSubscriptionPolicySupport>"
        "false</tt:WSSubscriptionPolicySupport><tt:WSPullPointSupport>true"
        "</tt:WSPullPointSupport><tt:WSPausableSubscriptionManagerInterfaceSupport>false"
        "</tt:WSPausableSubscriptionManagerInterfaceSupport></tt:Events><tt:Imaging><tt:XAddr>"
        "http://{IP}:{ONVIFPORT}/onvif/imaging_service</tt:XAddr></tt:Imaging><tt:Media>"
        "<tt:XAddr>http://{IP}:{ONVIFPORT}/onvif/media_service</tt:XAddr>"
        "<tt:StreamingCapabilities><tt:RTPMulticast>false</tt:RTPMulticast><tt:RTP_TCP>true"
        "</tt:RTP_TCP><tt:RTP_RTSP_TCP>true</tt:RTP_RTSP_TCP></tt:StreamingCapabilities>"
        "</tt:Media></tds:Capabilities></tds:GetCapabilitiesResponse>");
}

Answer get_services(OnvifContext& ctx, const std::string& body, const std::string&) {
    const std::string include = xml_text(body, "IncludeCapability");
    return services_answer(ctx, include == "true" || include == "1");
}

Answer get_scopes(OnvifContext& ctx, const std::string&, const std::string&) {
    std::string scope_name;
    {
        std::lock_guard<std::mutex> g(ctx.lock);
        scope_name = ctx.scope_name;
    }
    const std::string items[] = {
        "onvif://www.onvif.org/type/NetworkVideoTransmitter",
        "onvif://www.onvif.org/type/video_encoder",
        "onvif://www.onvif.org/Profile/S",
        "onvif://www.onvif.org/Profile/Streaming",
        "onvif://www.onvif.org/name/" + scope_name,
        "onvif://www.onvif.org/location/" + ctx.location,
        "onvif://www.onvif.org/hardware/" + ctx.serial_number,
    };
    std::string out = "<tds:GetScopesResponse>";
    for (const auto& item : items)
        out += "<tds:Scopes><tt:ScopeDef>Fixed</tt:ScopeDef><tt:ScopeItem>" + item +
               "</tt:ScopeItem></tds:Scopes>";
    return out + "</tds:GetScopesResponse>";
}

Answer get_hostname(OnvifContext& ctx, const std::string&, const std::string&) {
    std::string scope_name;
    {
        std::lock_guard<std::mutex> g(ctx.lock);
        scope_name = ctx.scope_name;
    }
    return "<tds:GetHostnameResponse><tds:HostnameInformation><tt:FromDHCP>false</tt:FromDHCP>"
           "<tt:Name>" +
           scope_name +
           "</tt:Name></tds:HostnameInformation>"
           "</tds:GetHostnameResponse>";
}

Answer get_users(OnvifContext& ctx, const std::string&, const std::string&) {
    // The user name is configured text; escape it so it cannot break the answer.
    return "<tds:GetUsersResponse><tds:User><tt:Username>" + xml_escape(ctx.user_name) +
           "</tt:Username><tt:UserLevel>Administrator</tt:UserLevel></tds:User>"
           "</tds:GetUsersResponse>";
}

Answer get_network_protocols(OnvifContext& ctx, const std::string&, const std::string&) {
    return "<tds:GetNetworkProtocolsResponse><tds:NetworkProtocols><tt:Name>HTTP</tt:Name>"
           "<tt:Enabled>true</tt:Enabled><tt:Port>" +
           std::to_string(ctx.onvif_port) +
           "</tt:Port></tds:NetworkProtocols><tds:NetworkProtocols><tt:Name>RTSP</tt:Name>"
           "<tt:Enabled>true</tt:Enabled><tt:Port>" +
           std::to_string(ctx.rtsp_port) +
           "</tt:Port></tds:NetworkProtocols></tds:GetNetworkProtocolsResponse>";
}

Answer get_network_interfaces(OnvifContext& ctx, const std::string&, const std::string&) {
    return "<tds:GetNetworkInterfacesResponse><tds:NetworkInterfaces token=\"eth0\">"
           "<tt:Enabled>true</tt:Enabled><tt:Info><tt:Name>eth0</tt:Name><tt:HwAddress>" +
           ctx.serial_number +
           "</tt:HwAddress><tt:MTU>1500</tt:MTU></tt:Info><tt:IPv4>"
           "<tt:Enabled>true</tt:Enabled><tt:Config><tt:Manual><tt:Address>" +
           ctx.address +
           "</tt:Address><tt:PrefixLength>24</tt:PrefixLength></tt:Manual><tt:DHCP>false"
           "</tt:DHCP></tt:Config></tt:IPv4></tds:NetworkInterfaces>"
           "</tds:GetNetworkInterfacesResponse>";
}

// ---- media service: video -------------------------------------------------

Answer get_video_sources(OnvifContext&, const std::string&, const std::string&) {
    return std::string(
        "<trt:GetVideoSourcesResponse><trt:VideoSources token=\"vsrc0\"><tt:Framerate>{FPS}"
        "</tt:Framerate><tt:Resolution><tt:Width>{W}</tt:Width><tt:Height>{H}</tt:Height>"
        "</tt:Resolution></trt:VideoSources></trt:GetVideoSourcesResponse>");
}

Answer get_video_source_configurations(OnvifContext&, const std::string&, const std::string&) {
    engine_vlog("ONVIF: GetVideoSourceConfigurations\n");
    return std::string("<trt:GetVideoSourceConfigurationsResponse>") + k_video_source_cfg_main +
           "</trt:GetVideoSourceConfigurationsResponse>";
}

Answer get_compatible_video_source_configurations(OnvifContext&, const std::string&,
                                                  const std::string&) {
    return std::string("<trt:GetCompatibleVideoSourceConfigurationsResponse>") +
           k_video_source_cfg_main + "</trt:GetCompatibleVideoSourceConfigurationsResponse>";
}

Answer get_video_encoder_configuration_options(OnvifContext& ctx, const std::string& body,
                                               const std::string&) {
    engine_vlog("ONVIF: GetVideoEncoderConfigurationOptions\n");
    const Selected s = select_stream(ctx, body);
    return "<trt:GetVideoEncoderConfigurationOptionsResponse><trt:Options><tt:QualityRange>"
           "<tt:Min>1</tt:Min><tt:Max>10</tt:Max></tt:QualityRange><tt:H264>"
           "<tt:ResolutionsAvailable><tt:Width>" +
           s.width + "</tt:Width><tt:Height>" + s.height +
           "</tt:Height></tt:ResolutionsAvailable><tt:GovLengthRange><tt:Min>1"
           "</tt:Min><tt:Max>60</tt:Max></tt:GovLengthRange><tt:FrameRateRange><tt:Min>1"
           "</tt:Min><tt:Max>60</tt:Max></tt:FrameRateRange><tt:EncodingIntervalRange><tt:Min>1"
           "</tt:Min><tt:Max>1</tt:Max></tt:EncodingIntervalRange><tt:H264ProfilesSupported>"
           "Baseline</tt:H264ProfilesSupported></tt:H264></trt:Options>"
           "</trt:GetVideoEncoderConfigurationOptionsResponse>";
}

Answer get_video_encoder_configurations(OnvifContext&, const std::string&, const std::string&) {
    engine_vlog("ONVIF: GetVideoEncoderConfigurations\n");
    return std::string(
               "<trt:GetVideoEncoderConfigurationsResponse><trt:Configurations token=\"venccfg0\">"
               "<tt:Name>venc</tt:Name><tt:UseCount>1</tt:UseCount><tt:Encoding>H264"
               "</tt:Encoding><tt:Resolution><tt:Width>{W}</tt:Width><tt:Height>{H}</tt:Height>"
               "</tt:Resolution><tt:Quality>5</tt:Quality><tt:RateControl><tt:FrameRateLimit>"
               "{FPS}</tt:FrameRateLimit><tt:EncodingInterval>1</tt:EncodingInterval>"
               "<tt:BitrateLimit>2000</tt:BitrateLimit></tt:RateControl><tt:H264><tt:GovLength>"
               "10</tt:GovLength><tt:H264Profile>Baseline</tt:H264Profile></tt:H264>") +
           k_multicast +
           "<tt:SessionTimeout>PT60S</tt:SessionTimeout></trt:Configurations>"
           "</trt:GetVideoEncoderConfigurationsResponse>";
}

std::string encoder_configuration(const Selected& s, std::string_view element) {
    std::string out = "<";
    out += element;
    out += " token=\"" + s.encoder_token +
           "\"><tt:Name>venc</tt:Name><tt:UseCount>1"
           "</tt:UseCount><tt:Encoding>H264</tt:Encoding><tt:Resolution><tt:Width>" +
           s.width + "</tt:Width><tt:Height>" + s.height +
           "</tt:Height></tt:Resolution><tt:Quality>5"
           "</tt:Quality><tt:RateControl><tt:FrameRateLimit>{FPS}</tt:FrameRateLimit>"
           "<tt:EncodingInterval>1</tt:EncodingInterval><tt:BitrateLimit>" +
           s.bitrate +
           "</tt:BitrateLimit></tt:RateControl><tt:H264><tt:GovLength>10</tt:GovLength>"
           "<tt:H264Profile>Baseline</tt:H264Profile></tt:H264>" +
           k_multicast + "<tt:SessionTimeout>PT60S</tt:SessionTimeout></";
    out += element;
    out += ">";
    return out;
}

Answer get_video_encoder_configuration(OnvifContext& ctx, const std::string& body,
                                       const std::string&) {
    // The sub stream's configuration exists only while the sub stream is on.
    const std::string token = xml_text(body, "ConfigurationToken");
    if (token == "venccfg1" && !ctx.sub_stream_on)
        return no_config_fault("No video encoder configuration");
    const Selected s = select_stream(ctx, body);
    engine_vlog("ONVIF: GetVideoEncoderConfiguration -> %s (%sx%s)\n", s.sub ? "SUB" : "MAIN",
                s.width.c_str(), s.height.c_str());
    return "<trt:GetVideoEncoderConfigurationResponse>" +
           encoder_configuration(s, "trt:Configuration") +
           "</trt:GetVideoEncoderConfigurationResponse>";
}

Answer get_compatible_video_encoder_configurations(OnvifContext& ctx, const std::string& body,
                                                   const std::string&) {
    const Selected s = select_stream(ctx, body);
    return "<trt:GetCompatibleVideoEncoderConfigurationsResponse>" +
           encoder_configuration(s, "trt:Configurations") +
           "</trt:GetCompatibleVideoEncoderConfigurationsResponse>";
}

Answer get_video_source_configuration(OnvifContext& ctx, const std::string& body,
                                      const std::string&) {
    const Selected s = select_stream(ctx, body);
    return "<trt:GetVideoSourceConfigurationResponse><trt:Configuration token=\"" + s.source_token +
           "\"><tt:Name>vsrc</tt:Name><tt:UseCount>1</tt:UseCount>"
           "<tt:SourceToken>vsrc0</tt:SourceToken><tt:Bounds x=\"0\" y=\"0\" width=\"" +
           s.width + "\" height=\"" + s.height +
           "\"/></trt:Configuration>"
           "</trt:GetVideoSourceConfigurationResponse>";
}

Answer get_video_source_configuration_options(OnvifContext&, const std::string&,
                                              const std::string&) {
    return std::string(
        "<trt:GetVideoSourceConfigurationOptionsResponse><trt:Options><tt:BoundsRange>"
        "<tt:XRange><tt:Min>0</tt:Min><tt:Max>0</tt:Max></tt:XRange><tt:YRange><tt:Min>0"
        "</tt:Min><tt:Max>0</tt:Max></tt:YRange><tt:WidthRange><tt:Min>{W}</tt:Min><tt:Max>{W}"
        "</tt:Max></tt:WidthRange><tt:HeightRange><tt:Min>{H}</tt:Min><tt:Max>{H}</tt:Max>"
        "</tt:HeightRange></tt:BoundsRange><tt:VideoSourceTokensAvailable>vsrc0"
        "</tt:VideoSourceTokensAvailable></trt:Options>"
        "</trt:GetVideoSourceConfigurationOptionsResponse>");
}

Answer get_stream_uri(OnvifContext& ctx, const std::string& body, const std::string&) {
    // The camera streams unicast only, as its capabilities say.
    if (xml_text(body, "Stream") == "RTP-Multicast") return std::string(k_fault_stream_setup);
    const std::string token = xml_text(body, "ProfileToken");
    bool sub = ctx.sub_stream_on && contains(body, "prof1");
    if (!token.empty()) {
        if (token != "prof0" && !(token == "prof1" && ctx.sub_stream_on))
            return std::string(k_fault_no_profile);
        sub = token == "prof1";
    }
    engine_vlog("ONVIF: GetStreamUri -> %s\n",
                sub ? "SUB (prof1/screensub)" : "MAIN (prof0/screenlive)");
    return std::string("<trt:GetStreamUriResponse><trt:MediaUri><tt:Uri>") +
           (sub ? "rtsp://{IP}:{RTSPPORT}/{SUBSTREAM}" : "rtsp://{IP}:{RTSPPORT}/{STREAM}") +
           "</tt:Uri><tt:InvalidAfterConnect>false</tt:InvalidAfterConnect>"
           "<tt:InvalidAfterReboot>false</tt:InvalidAfterReboot><tt:Timeout>PT60S</tt:Timeout>"
           "</trt:MediaUri></trt:GetStreamUriResponse>";
}

Answer get_profiles(OnvifContext& ctx, const std::string&, const std::string&) {
    engine_vlog("ONVIF: GetProfiles (advertising %d profile%s)\n", ctx.sub_stream_on ? 2 : 1,
                ctx.sub_stream_on ? "s: prof0 main + prof1 sub" : ": prof0 main");
    std::string out = "<trt:GetProfilesResponse>" + profile_of(ctx, false, "Profiles");
    if (ctx.sub_stream_on) out += profile_of(ctx, true, "Profiles");
    return out + "</trt:GetProfilesResponse>";
}

Answer get_profile(OnvifContext& ctx, const std::string& body, const std::string&) {
    bool sub;
    if (ctx.sub_stream_on && contains(body, "prof1"))
        sub = true;
    else if (contains(body, "prof0"))
        sub = false;
    else
        return std::string(k_fault_no_profile);
    engine_vlog("ONVIF: GetProfile -> %s\n", sub ? "prof1 (sub)" : "prof0 (main)");
    return "<trt:GetProfileResponse>" + profile_of(ctx, sub, "Profile") +
           "</trt:GetProfileResponse>";
}

Answer get_snapshot_uri(OnvifContext&, const std::string&, const std::string&) {
    engine_vlog("ONVIF: GetSnapshotUri -> http snapshot\n");
    return std::string(
        "<trt:GetSnapshotUriResponse><trt:MediaUri><tt:Uri>"
        "http://{IP}:{ONVIFPORT}/onvif/snapshot</tt:Uri><tt:InvalidAfterConnect>false"
        "</tt:InvalidAfterConnect><tt:InvalidAfterReboot>false</tt:InvalidAfterReboot>"
        "<tt:Timeout>PT60S</tt:Timeout></trt:MediaUri></trt:GetSnapshotUriResponse>");
}

// ---- media service: audio -------------------------------------------------

std::string audio_answer(const OnvifContext& ctx, std::string_view response,
                         std::string_view element, std::string_view token, std::string_view inner) {
    std::string out = "<";
    out += response;
    if (!ctx.audio_on) return out + "/>";
    out += "><";
    out += element;
    out += " token=\"";
    out += token;
    out += "\">";
    out += inner;
    out += "</";
    out += element;
    out += "></";
    out += response;
    out += ">";
    return out;
}

Answer get_audio_encoder_configuration_options(OnvifContext& ctx, const std::string&,
                                               const std::string&) {
    if (!ctx.audio_on)
        return std::string(
            "<trt:GetAudioEncoderConfigurationOptionsResponse><trt:Options/>"
            "</trt:GetAudioEncoderConfigurationOptionsResponse>");
    return std::string(
        "<trt:GetAudioEncoderConfigurationOptionsResponse><trt:Options><tt:Options>"
        "<tt:Encoding>G711</tt:Encoding><tt:BitrateList><tt:Items>64</tt:Items></tt:BitrateList>"
        "<tt:SampleRateList><tt:Items>8</tt:Items></tt:SampleRateList></tt:Options></trt:Options>"
        "</trt:GetAudioEncoderConfigurationOptionsResponse>");
}

Answer get_audio_sources(OnvifContext& ctx, const std::string&, const std::string&) {
    return audio_answer(ctx, "trt:GetAudioSourcesResponse", "trt:AudioSources", "asrc0",
                        "<tt:Channels>1</tt:Channels>");
}

Answer get_audio_encoder_configurations(OnvifContext& ctx, const std::string&, const std::string&) {
    return audio_answer(ctx, "trt:GetAudioEncoderConfigurationsResponse", "trt:Configurations",
                        "aenccfg0", k_audio_encoder_cfg_inner);
}

Answer get_audio_source_configurations(OnvifContext& ctx, const std::string&, const std::string&) {
    return audio_answer(ctx, "trt:GetAudioSourceConfigurationsResponse", "trt:Configurations",
                        "asrccfg0", k_audio_source_cfg_inner);
}

Answer get_audio_encoder_configuration(OnvifContext& ctx, const std::string&, const std::string&) {
    if (!ctx.audio_on) return no_config_fault("No audio encoder configuration");
    engine_vlog("ONVIF: GetAudioEncoderConfiguration -> G711 (audio on)\n");
    return audio_answer(ctx, "trt:GetAudioEncoderConfigurationResponse", "trt:Configuration",
                        "aenccfg0", k_audio_encoder_cfg_inner);
}

Answer get_audio_source_configuration(OnvifContext& ctx, const std::string&, const std::string&) {
    if (!ctx.audio_on) return no_config_fault("No audio source configuration");
    return audio_answer(ctx, "trt:GetAudioSourceConfigurationResponse", "trt:Configuration",
                        "asrccfg0", k_audio_source_cfg_inner);
}

Answer get_compatible_audio_encoder_configurations(OnvifContext& ctx, const std::string&,
                                                   const std::string&) {
    return audio_answer(ctx, "trt:GetCompatibleAudioEncoderConfigurationsResponse",
                        "trt:Configurations", "aenccfg0", k_audio_encoder_cfg_inner);
}

Answer get_compatible_audio_source_configurations(OnvifContext& ctx, const std::string&,
                                                  const std::string&) {
    return audio_answer(ctx, "trt:GetCompatibleAudioSourceConfigurationsResponse",
                        "trt:Configurations", "asrccfg0", k_audio_source_cfg_inner);
}

Answer get_audio_source_configuration_options(OnvifContext& ctx, const std::string&,
                                              const std::string&) {
    if (!ctx.audio_on) return no_config_fault("No audio source configuration");
    return std::string(
        "<trt:GetAudioSourceConfigurationOptionsResponse><trt:Options><tt:InputTokensAvailable>"
        "asrc0</tt:InputTokensAvailable></trt:Options>"
        "</trt:GetAudioSourceConfigurationOptionsResponse>");
}

// The camera has no audio output to offer options for (GetAudioOutputs is empty).
Answer get_audio_output_configuration_options(OnvifContext&, const std::string&,
                                              const std::string&) {
    return std::string(k_fault_no_audio_output);
}

// ---- OSDs -------------------------------------------------------------------

// Nothing is created; the answer names the OSD of the requested kind.
Answer create_osd(OnvifContext&, const std::string& body, const std::string&) {
    return std::string("<trt:CreateOSDResponse><trt:OSDToken>") +
           (contains(body, "DateAndTime") ? "osd_clock" : "osd_name") +
           "</trt:OSDToken></trt:CreateOSDResponse>";
}

OsdLayout osd_layout(OnvifContext& ctx, const std::string& body) {
    OsdLayout l;
    {
        std::lock_guard<std::mutex> g(ctx.lock);
        l.display_name = ctx.display_name;
        l.name_pos = ctx.osd_name_pos;
        l.clock_pos = ctx.osd_clock_pos;
        l.clock_on = ctx.osd_clock_on != 0;
    }
    l.source_token = xml_text(body, "ConfigurationToken") == "vsrccfg1" ? "vsrccfg1" : "vsrccfg0";
    return l;
}

Answer get_osd_options(OnvifContext&, const std::string&, const std::string&) {
    engine_vlog("ONVIF: GetOSDOptions\n");
    return std::string(
        "<trt:GetOSDOptionsResponse><trt:OSDOptions><tt:MaximumNumberOfOSDs Total=\"2\" "
        "PlainText=\"1\" DateAndTime=\"1\"/><tt:Type>Text</tt:Type><tt:PositionOption>UpperLeft"
        "</tt:PositionOption><tt:PositionOption>UpperRight</tt:PositionOption><tt:PositionOption>"
        "LowerLeft</tt:PositionOption><tt:PositionOption>LowerRight</tt:PositionOption>"
        "<tt:TextOption><tt:Type>Plain</tt:Type><tt:Type>DateAndTime</tt:Type><tt:DateFormat>"
        "yyyy-MM-dd</tt:DateFormat><tt:TimeFormat>HH:mm:ss</tt:TimeFormat></tt:TextOption>"
        "</trt:OSDOptions></trt:GetOSDOptionsResponse>");
}

Answer get_osds(OnvifContext& ctx, const std::string& body, const std::string&) {
    const OsdLayout l = osd_layout(ctx, body);
    engine_vlog("ONVIF: GetOSDs -> name \"%s\"%s\n", l.display_name.c_str(),
                l.clock_on ? " + clock" : "");
    std::string out = "<trt:GetOSDsResponse>" + build_osd(l, "trt:OSDs", false);
    if (l.clock_on) out += build_osd(l, "trt:OSDs", true);
    return out + "</trt:GetOSDsResponse>";
}

Answer get_osd(OnvifContext& ctx, const std::string& body, const std::string&) {
    const OsdLayout l = osd_layout(ctx, body);
    const bool clock = xml_text(body, "OSDToken") == "osd_clock" && l.clock_on;
    engine_vlog("ONVIF: GetOSD -> %s\n", clock ? "clock" : "name");
    return "<trt:GetOSDResponse>" + build_osd(l, "trt:OSD", clock) + "</trt:GetOSDResponse>";
}

Answer set_osd(OnvifContext&, const std::string& body, const std::string&) {
    engine_vlog("ONVIF: SetOSD ignored (the name comes from the Control Panel): \"%s\"\n",
                xml_text(body, "PlainText").c_str());
    return std::string("<trt:SetOSDResponse/>");
}

// ---- imaging ----------------------------------------------------------------

Answer get_imaging_settings(OnvifContext&, const std::string&, const std::string&) {
    engine_vlog("ONVIF: GetImagingSettings -> neutral values (virtual source)\n");
    return std::string(
        "<timg:GetImagingSettingsResponse><timg:ImagingSettings><tt:Brightness>50"
        "</tt:Brightness><tt:ColorSaturation>50</tt:ColorSaturation><tt:Contrast>50"
        "</tt:Contrast><tt:Sharpness>50</tt:Sharpness></timg:ImagingSettings>"
        "</timg:GetImagingSettingsResponse>");
}

Answer set_imaging_settings(OnvifContext&, const std::string&, const std::string&) {
    engine_vlog("ONVIF: SetImagingSettings -> accepted (no-op, virtual source)\n");
    return std::string("<timg:SetImagingSettingsResponse/>");
}

Answer get_status(OnvifContext&, const std::string& body, const std::string&) {
    if (!contains(body, "VideoSourceToken")) return std::nullopt;
    return std::string("<timg:GetStatusResponse><timg:Status/></timg:GetStatusResponse>");
}

Answer get_options(OnvifContext&, const std::string& body, const std::string&) {
    if (!contains(body, "imaging")) return std::nullopt;
    std::string out = "<timg:GetOptionsResponse><timg:ImagingOptions>";
    for (const char* name : {"Brightness", "ColorSaturation", "Contrast", "Sharpness"}) {
        const std::string t = std::string("tt:") + name;
        out += "<" + t + "><tt:Min>0</tt:Min><tt:Max>100</tt:Max></" + t + ">";
    }
    return out + "</timg:ImagingOptions></timg:GetOptionsResponse>";
}

// ---- events-service answers served here --------------------------------------

Answer get_event_properties(OnvifContext&, const std::string&, const std::string&) {
    engine_vlog("ONVIF: GetEventProperties\n");
    return event_properties_answer();
}

Answer get_service_capabilities(OnvifContext& ctx, const std::string& body,
                                const std::string& target) {
    engine_vlog("ONVIF: GetServiceCapabilities\n");
    return service_capabilities_answer(ctx, body, target);
}

// Acknowledgements and fixed answers with an optional verbose log line.
template <const char* Text, const char* Log>
Answer fixed(OnvifContext&, const std::string&, const std::string&) {
    if (Log[0]) engine_vlog("%s", Log);
    return std::string(Text);
}

#define FIXED_TEXT(id, text) constexpr char id[] = text;
constexpr char k_nolog[] = "";
FIXED_TEXT(k_set_time, "<tds:SetSystemDateAndTimeResponse/>")
FIXED_TEXT(k_set_time_log, "ONVIF: SetSystemDateAndTime -> accepted, device follows the PC clock\n")
FIXED_TEXT(k_set_venc, "<trt:SetVideoEncoderConfigurationResponse/>")
FIXED_TEXT(k_set_venc_log, "ONVIF: SetVideoEncoderConfiguration -> accepted (managed in-app)\n")
FIXED_TEXT(k_set_vsrc, "<trt:SetVideoSourceConfigurationResponse/>")
FIXED_TEXT(k_set_hostname, "<tds:SetHostnameResponse/>")
FIXED_TEXT(k_set_scopes, "<tds:SetScopesResponse/>")
FIXED_TEXT(k_reboot,
           "<tds:SystemRebootResponse><tds:Message>Not applicable</tds:Message>"
           "</tds:SystemRebootResponse>")
FIXED_TEXT(k_sync_point, "<tev:SetSynchronizationPointResponse/>")
FIXED_TEXT(k_move_options,
           "<timg:GetMoveOptionsResponse><timg:MoveOptions/></timg:GetMoveOptionsResponse>")
FIXED_TEXT(k_guaranteed,
           "<trt:GetGuaranteedNumberOfVideoEncoderInstancesResponse><trt:TotalNumber>2"
           "</trt:TotalNumber><trt:H264>2</trt:H264>"
           "</trt:GetGuaranteedNumberOfVideoEncoderInstancesResponse>")
FIXED_TEXT(k_discovery_mode,
           "<tds:GetDiscoveryModeResponse><tds:DiscoveryMode>Discoverable"
           "</tds:DiscoveryMode></tds:GetDiscoveryModeResponse>")
FIXED_TEXT(k_wsdl_url,
           "<tds:GetWsdlUrlResponse><tds:WsdlUrl>"
           "http://www.onvif.org/onvif/ver10/device/wsdl</tds:WsdlUrl>"
           "</tds:GetWsdlUrlResponse>")
FIXED_TEXT(k_gateway,
           "<tds:GetNetworkDefaultGatewayResponse><tds:NetworkGateway/>"
           "</tds:GetNetworkDefaultGatewayResponse>")
FIXED_TEXT(k_dns,
           "<tds:GetDNSResponse><tds:DNSInformation><tt:FromDHCP>true</tt:FromDHCP>"
           "</tds:DNSInformation></tds:GetDNSResponse>")
FIXED_TEXT(k_ntp,
           "<tds:GetNTPResponse><tds:NTPInformation><tt:FromDHCP>true</tt:FromDHCP>"
           "</tds:NTPInformation></tds:GetNTPResponse>")
FIXED_TEXT(k_metadata, "<trt:GetMetadataConfigurationsResponse/>")
FIXED_TEXT(k_set_aenc, "<trt:SetAudioEncoderConfigurationResponse/>")
FIXED_TEXT(k_set_aenc_log, "ONVIF: SetAudioEncoderConfiguration -> accepted (managed in-app)\n")
FIXED_TEXT(k_set_asrc, "<trt:SetAudioSourceConfigurationResponse/>")
FIXED_TEXT(k_add_aenc, "<trt:AddAudioEncoderConfigurationResponse/>")
FIXED_TEXT(k_add_asrc, "<trt:AddAudioSourceConfigurationResponse/>")
FIXED_TEXT(k_rm_aenc, "<trt:RemoveAudioEncoderConfigurationResponse/>")
FIXED_TEXT(k_rm_asrc, "<trt:RemoveAudioSourceConfigurationResponse/>")
FIXED_TEXT(k_aout_cfgs, "<trt:GetAudioOutputConfigurationsResponse/>")
FIXED_TEXT(k_aouts, "<trt:GetAudioOutputsResponse/>")
FIXED_TEXT(k_adec_cfgs, "<trt:GetAudioDecoderConfigurationsResponse/>")
FIXED_TEXT(k_delete_osd, "<trt:DeleteOSDResponse/>")
FIXED_TEXT(k_compat_analytics, "<trt:GetCompatibleVideoAnalyticsConfigurationsResponse/>")
FIXED_TEXT(k_analytics, "<trt:GetVideoAnalyticsConfigurationsResponse/>")
#undef FIXED_TEXT

struct Action {
    const char* name;
    const char* action_uri;  // wsa:Action of the answer; "" for none
    Handler handler;
};

// Tried in this order; the first recognised name answers.
const Action k_actions[] = {
    {"GetSystemDateAndTime", "", get_system_date_and_time},
    {"GetDeviceInformation", "", get_device_information},
    {"GetCapabilities", "", get_capabilities},
    {"GetServices", "", get_services},
    {"GetScopes", "", get_scopes},
    {"GetVideoSources", "", get_video_sources},
    {"GetVideoSourceConfigurations", "", get_video_source_configurations},
    {"GetVideoEncoderConfigurationOptions", "", get_video_encoder_configuration_options},
    {"GetVideoEncoderConfigurations", "", get_video_encoder_configurations},
    {"GetStreamUri", "", get_stream_uri},
    {"GetProfiles", "", get_profiles},
    {"GetProfile", "", get_profile},
    {"GetSnapshotUri", "", get_snapshot_uri},
    {"SetSynchronizationPoint",
     "http://www.onvif.org/ver10/events/wsdl/EventPortType/SetSynchronizationPointResponse",
     fixed<k_sync_point, k_nolog>},
    {"SetSystemDateAndTime", "", fixed<k_set_time, k_set_time_log>},
    {"SetVideoEncoderConfiguration", "", fixed<k_set_venc, k_set_venc_log>},
    {"SetVideoSourceConfiguration", "", fixed<k_set_vsrc, k_nolog>},
    {"SetHostname", "", fixed<k_set_hostname, k_nolog>},
    {"SetScopes", "", fixed<k_set_scopes, k_nolog>},
    {"SystemReboot", "", fixed<k_reboot, k_nolog>},
    {"GetEventProperties",
     "http://www.onvif.org/ver10/events/wsdl/EventPortType/GetEventPropertiesResponse",
     get_event_properties},
    {"GetServiceCapabilities", "", get_service_capabilities},
    {"GetImagingSettings", "", get_imaging_settings},
    {"SetImagingSettings", "", set_imaging_settings},
    {"GetStatus", "", get_status},
    {"GetMoveOptions", "", fixed<k_move_options, k_nolog>},
    {"GetOptions", "", get_options},
    {"GetVideoSourceConfigurationOptions", "", get_video_source_configuration_options},
    {"GetGuaranteedNumberOfVideoEncoderInstances", "", fixed<k_guaranteed, k_nolog>},
    {"GetCompatibleVideoEncoderConfigurations", "", get_compatible_video_encoder_configurations},
    {"GetCompatibleVideoSourceConfigurations", "", get_compatible_video_source_configurations},
    {"GetVideoEncoderConfiguration", "", get_video_encoder_configuration},
    {"GetVideoSourceConfiguration", "", get_video_source_configuration},
    {"GetHostname", "", get_hostname},
    {"GetDiscoveryMode", "", fixed<k_discovery_mode, k_nolog>},
    {"GetWsdlUrl", "", fixed<k_wsdl_url, k_nolog>},
    {"GetUsers", "", get_users},
    {"GetNetworkDefaultGateway", "", fixed<k_gateway, k_nolog>},
    {"GetDNS", "", fixed<k_dns, k_nolog>},
    {"GetNTP", "", fixed<k_ntp, k_nolog>},
    {"GetNetworkProtocols", "", get_network_protocols},
    {"GetNetworkInterfaces", "", get_network_interfaces},
    {"GetAudioEncoderConfigurationOptions", "", get_audio_encoder_configuration_options},
    {"GetAudioSources", "", get_audio_sources},
    {"GetAudioEncoderConfigurations", "", get_audio_encoder_configurations},
    {"GetAudioSourceConfigurations", "", get_audio_source_configurations},
    {"GetMetadataConfigurations", "", fixed<k_metadata, k_nolog>},
    {"GetAudioEncoderConfiguration", "", get_audio_encoder_configuration},
    {"GetAudioSourceConfiguration", "", get_audio_source_configuration},
    {"GetCompatibleAudioEncoderConfigurations", "", get_compatible_audio_encoder_configurations},
    {"GetCompatibleAudioSourceConfigurations", "", get_compatible_audio_source_configurations},
    {"SetAudioEncoderConfiguration", "", fixed<k_set_aenc, k_set_aenc_log>},
    {"SetAudioSourceConfiguration", "", fixed<k_set_asrc, k_nolog>},
    {"AddAudioEncoderConfiguration", "", fixed<k_add_aenc, k_nolog>},
    {"AddAudioSourceConfiguration", "", fixed<k_add_asrc, k_nolog>},
    {"RemoveAudioEncoderConfiguration", "", fixed<k_rm_aenc, k_nolog>},
    {"RemoveAudioSourceConfiguration", "", fixed<k_rm_asrc, k_nolog>},
    {"GetAudioOutputConfigurationOptions", "", get_audio_output_configuration_options},
    {"GetAudioOutputConfigurations", "", fixed<k_aout_cfgs, k_nolog>},
    {"GetAudioOutputs", "", fixed<k_aouts, k_nolog>},
    {"GetAudioDecoderConfigurations", "", fixed<k_adec_cfgs, k_nolog>},
    {"GetAudioSourceConfigurationOptions", "", get_audio_source_configuration_options},
    {"GetOSDOptions", "", get_osd_options},
    {"GetOSDs", "", get_osds},
    {"GetOSD", "", get_osd},
    {"SetOSD", "", set_osd},
    {"CreateOSD", "", create_osd},
    {"DeleteOSD", "", fixed<k_delete_osd, k_nolog>},
    {"GetCompatibleVideoAnalyticsConfigurations", "", fixed<k_compat_analytics, k_nolog>},
    {"GetVideoAnalyticsConfigurations", "", fixed<k_analytics, k_nolog>},
};

const char* position_word(uint32_t code) {
    switch (code) {
        case 0:
            return "UpperLeft";
        case 1:
            return "UpperRight";
        case 2:
            return "LowerLeft";
        default:
            return "LowerRight";
    }
}

}  // namespace

std::string system_date_and_time_body(const std::tm& utc) {
    char buf[1024];
    std::snprintf(
        buf, sizeof buf,
        "<tds:GetSystemDateAndTimeResponse><tds:SystemDateAndTime><tt:DateTimeType>Manual"
        "</tt:DateTimeType><tt:DaylightSavings>false</tt:DaylightSavings><tt:TimeZone><tt:TZ>UTC"
        "</tt:TZ></tt:TimeZone><tt:UTCDateTime><tt:Time><tt:Hour>%d</tt:Hour><tt:Minute>%d"
        "</tt:Minute><tt:Second>%d</tt:Second></tt:Time><tt:Date><tt:Year>%d</tt:Year>"
        "<tt:Month>%d</tt:Month><tt:Day>%d</tt:Day></tt:Date></tt:UTCDateTime>"
        "</tds:SystemDateAndTime></tds:GetSystemDateAndTimeResponse>",
        utc.tm_hour, utc.tm_min, utc.tm_sec, utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday);
    return buf;
}

std::string build_profile(bool audio, std::string_view element, std::string_view token,
                          std::string_view name, std::string_view source_token,
                          std::string_view encoder_token, std::string_view width,
                          std::string_view height, std::string_view fps, std::string_view bitrate) {
    const std::string el = "trt:" + std::string(element);
    std::string out = "<" + el + " token=\"" + std::string(token) + "\" fixed=\"true\">";
    out += tag("tt:Name", name);
    out += "<tt:VideoSourceConfiguration token=\"" + std::string(source_token) +
           "\"><tt:Name>vsrc</tt:Name><tt:UseCount>1</tt:UseCount><tt:SourceToken>vsrc0"
           "</tt:SourceToken><tt:Bounds x=\"0\" y=\"0\" width=\"" +
           std::string(width) + "\" height=\"" + std::string(height) +
           "\"/></tt:VideoSourceConfiguration>";
    if (audio)
        out +=
            "<tt:AudioSourceConfiguration token=\"asrccfg0\"><tt:Name>asrc</tt:Name>"
            "<tt:UseCount>2</tt:UseCount><tt:SourceToken>asrc0</tt:SourceToken>"
            "</tt:AudioSourceConfiguration>";
    out += "<tt:VideoEncoderConfiguration token=\"" + std::string(encoder_token) +
           "\"><tt:Name>venc</tt:Name><tt:UseCount>1</tt:UseCount><tt:Encoding>H264"
           "</tt:Encoding><tt:Resolution>" +
           tag("tt:Width", width) + tag("tt:Height", height) +
           "</tt:Resolution><tt:Quality>5</tt:Quality><tt:RateControl>" +
           tag("tt:FrameRateLimit", fps) + "<tt:EncodingInterval>1</tt:EncodingInterval>" +
           tag("tt:BitrateLimit", bitrate) + "</tt:RateControl><tt:H264>" +
           tag("tt:GovLength", fps) + "<tt:H264Profile>Baseline</tt:H264Profile></tt:H264>" +
           k_multicast +
           "<tt:SessionTimeout>PT60S</tt:SessionTimeout>"
           "</tt:VideoEncoderConfiguration>";
    if (audio)
        out += std::string("<tt:AudioEncoderConfiguration token=\"aenccfg0\">") +
               k_audio_encoder_cfg_inner + "</tt:AudioEncoderConfiguration>";
    return out + "</" + el + ">";
}

std::string build_osd(const OsdLayout& l, std::string_view element, bool clock) {
    std::string out = "<" + std::string(element) + " token=\"" +
                      (clock ? "osd_clock" : "osd_name") + "\">" +
                      tag("tt:VideoSourceConfigurationToken", l.source_token) +
                      "<tt:Type>Text</tt:Type><tt:Position>" +
                      tag("tt:Type", position_word(clock ? l.clock_pos : l.name_pos)) +
                      "</tt:Position><tt:TextString>";
    if (clock)
        out +=
            "<tt:Type>DateAndTime</tt:Type><tt:DateFormat>yyyy-MM-dd</tt:DateFormat>"
            "<tt:TimeFormat>HH:mm:ss</tt:TimeFormat>";
    else
        out += "<tt:Type>Plain</tt:Type><tt:PlainText>" + xml_escape(l.display_name) +
               "</tt:PlainText>";
    return out + "</tt:TextString></" + std::string(element) + ">";
}

std::string unsupported_action_name(std::string_view body) {
    size_t p = body.find(":Body");
    if (p == std::string_view::npos) p = body.find("<Body");
    if (p == std::string_view::npos) return "?";
    for (p = body.find('<', p + 1); p != std::string_view::npos; p = body.find('<', p + 1)) {
        const size_t start = p + 1;
        size_t end = start;
        while (end < body.size() && body[end] != ' ' && body[end] != '>' && body[end] != '/') ++end;
        std::string_view name = body.substr(start, end - start);
        const size_t colon = name.rfind(':');
        if (colon != std::string_view::npos) name.remove_prefix(colon + 1);
        // A closing tag reads as an empty name here (the slash ends the name).
        if (!name.empty() && name[0] != '/' && name != "Body") return std::string(name);
    }
    return "?";
}

std::string dispatch(OnvifContext& ctx, const std::string& body, const std::string& target) {
    for (const Action& a : k_actions) {
        if (!has_element(body, a.name)) continue;
        if (Answer answer = a.handler(ctx, body, target))
            return soap_envelope(*answer, a.action_uri);
    }
    const std::string name = unsupported_action_name(body);
    engine_vlog("ONVIF: unsupported action '%s' -> ActionNotSupported\n", name.c_str());
    if (name == "?") {
        std::string snippet = body.substr(0, 220);
        for (char& c : snippet)
            if (c == '\t' || c == '\r' || c == '\n') c = ' ';
        engine_vlog("ONVIF:   body snippet: %s\n", snippet.c_str());
    }
    return soap_envelope(k_fault_not_supported);
}

void fill_placeholders(const OnvifContext& ctx, std::string& envelope) {
    replace_all(envelope, "{IP}", ctx.address);
    replace_all(envelope, "{ONVIFPORT}", std::to_string(ctx.onvif_port));
    replace_all(envelope, "{RTSPPORT}", std::to_string(ctx.rtsp_port));
    replace_all(envelope, "{SUBSTREAM}", ctx.substream_name);
    replace_all(envelope, "{STREAM}", ctx.stream_name);
    replace_all(envelope, "{W}", std::to_string(ctx.width));
    replace_all(envelope, "{H}", std::to_string(ctx.height));
    replace_all(envelope, "{FPS}", std::to_string(ctx.frame_rate));
}
