// Golden answers of the ONVIF action table: every answer is compared byte for
// byte (after placeholder substitution) with the sub stream on and off and
// audio on and off, through the whole HTTP answer path.
#include "onvif/onvif_actions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/log.h"
#include "onvif/onvif_server.h"
#include "onvif/onvif_xml.h"

namespace {

std::string replace_text(std::string t, const std::string& from, const std::string& to) {
    for (size_t p = t.find(from); p != std::string::npos; p = t.find(from, p + to.size()))
        t.replace(p, from.size(), to);
    return t;
}

bool hex_digit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

struct Golden {
    const char* action;
    const char* variant;  // "any", or "on"/"off" for audio
    const char* body;
};

// Fixed answers, with placeholders as the camera keeps them.
const Golden
    k_fixed[] =
        {
            {"GetVideoSources", "any",
             R"(<trt:GetVideoSourcesResponse><trt:VideoSources token="vsrc0"><tt:Framerate>{FPS}</tt:Framerate><tt:Resolution><tt:Width>{W}</tt:Width><tt:Height>{H}</tt:Height></tt:Resolution></trt:VideoSources></trt:GetVideoSourcesResponse>)"},
            {"GetVideoSourceConfigurations", "any",
             R"(<trt:GetVideoSourceConfigurationsResponse><trt:Configurations token="vsrccfg0"><tt:Name>vsrc</tt:Name><tt:UseCount>1</tt:UseCount><tt:SourceToken>vsrc0</tt:SourceToken><tt:Bounds x="0" y="0" width="{W}" height="{H}"/></trt:Configurations></trt:GetVideoSourceConfigurationsResponse>)"},
            {"GetSnapshotUri", "any",
             R"(<trt:GetSnapshotUriResponse><trt:MediaUri><tt:Uri>http://{IP}:{ONVIFPORT}/onvif/snapshot</tt:Uri><tt:InvalidAfterConnect>false</tt:InvalidAfterConnect><tt:InvalidAfterReboot>false</tt:InvalidAfterReboot><tt:Timeout>PT60S</tt:Timeout></trt:MediaUri></trt:GetSnapshotUriResponse>)"},
            {"SetSystemDateAndTime", "any", R"(<tds:SetSystemDateAndTimeResponse/>)"},
            {"SetVideoEncoderConfiguration", "any",
             R"(<trt:SetVideoEncoderConfigurationResponse/>)"},
            {"SetVideoSourceConfiguration", "any", R"(<trt:SetVideoSourceConfigurationResponse/>)"},
            {"SetHostname", "any", R"(<tds:SetHostnameResponse/>)"},
            {"SetScopes", "any", R"(<tds:SetScopesResponse/>)"},
            {"SystemReboot", "any",
             R"(<tds:SystemRebootResponse><tds:Message>Not applicable</tds:Message></tds:SystemRebootResponse>)"},
            {"GetImagingSettings", "any",
             R"(<timg:GetImagingSettingsResponse><timg:ImagingSettings><tt:Brightness>50</tt:Brightness><tt:ColorSaturation>50</tt:ColorSaturation><tt:Contrast>50</tt:Contrast><tt:Sharpness>50</tt:Sharpness></timg:ImagingSettings></timg:GetImagingSettingsResponse>)"},
            {"SetImagingSettings", "any", R"(<timg:SetImagingSettingsResponse/>)"},
            {"GetStatus", "any",
             R"(<timg:GetStatusResponse><timg:Status/></timg:GetStatusResponse>)"},
            {"GetMoveOptions", "any",
             R"(<timg:GetMoveOptionsResponse><timg:MoveOptions/></timg:GetMoveOptionsResponse>)"},
            {"GetGuaranteedNumberOfVideoEncoderInstances", "any",
             R"(<trt:GetGuaranteedNumberOfVideoEncoderInstancesResponse><trt:TotalNumber>2</trt:TotalNumber><trt:H264>2</trt:H264></trt:GetGuaranteedNumberOfVideoEncoderInstancesResponse>)"},
            {"GetCompatibleVideoSourceConfigurations", "any",
             R"(<trt:GetCompatibleVideoSourceConfigurationsResponse><trt:Configurations token="vsrccfg0"><tt:Name>vsrc</tt:Name><tt:UseCount>1</tt:UseCount><tt:SourceToken>vsrc0</tt:SourceToken><tt:Bounds x="0" y="0" width="{W}" height="{H}"/></trt:Configurations></trt:GetCompatibleVideoSourceConfigurationsResponse>)"},
            {"GetDiscoveryMode", "any",
             R"(<tds:GetDiscoveryModeResponse><tds:DiscoveryMode>Discoverable</tds:DiscoveryMode></tds:GetDiscoveryModeResponse>)"},
            {"GetWsdlUrl", "any",
             R"(<tds:GetWsdlUrlResponse><tds:WsdlUrl>http://www.onvif.org/onvif/ver10/device/wsdl</tds:WsdlUrl></tds:GetWsdlUrlResponse>)"},
            {"GetNetworkDefaultGateway", "any",
             R"(<tds:GetNetworkDefaultGatewayResponse><tds:NetworkGateway/></tds:GetNetworkDefaultGatewayResponse>)"},
            {"GetDNS", "any",
             R"(<tds:GetDNSResponse><tds:DNSInformation><tt:FromDHCP>true</tt:FromDHCP></tds:DNSInformation></tds:GetDNSResponse>)"},
            {"GetNTP", "any",
             R"(<tds:GetNTPResponse><tds:NTPInformation><tt:FromDHCP>true</tt:FromDHCP></tds:NTPInformation></tds:GetNTPResponse>)"},
            {"GetAudioEncoderConfigurationOptions", "on", R"(<trt:GetAudioEncoderConfigurationOptionsResponse><trt:Options><tt:Options><tt:Encoding>G711</tt:Encoding><tt:BitrateList><tt:Items>64</tt:Items></tt:BitrateList><tt:SampleRateList><tt:Items>8</tt:Items></tt:SampleRateList></tt:Options></trt:Options></trt:GetAudioEncoderConfigurationOptionsResponse>)"},
            {"GetAudioEncoderConfigurationOptions", "off",
             R"(<trt:GetAudioEncoderConfigurationOptionsResponse/>)"},
            {"GetAudioSources", "on",
             R"(<trt:GetAudioSourcesResponse><trt:AudioSources token="asrc0"><tt:Channels>1</tt:Channels></trt:AudioSources></trt:GetAudioSourcesResponse>)"},
            {"GetAudioSources", "off", R"(<trt:GetAudioSourcesResponse/>)"},
            {"GetAudioEncoderConfigurations", "on",
             R"(<trt:GetAudioEncoderConfigurationsResponse><trt:Configurations token="aenccfg0"><tt:Name>aenc</tt:Name><tt:UseCount>2</tt:UseCount><tt:Encoding>G711</tt:Encoding><tt:Bitrate>64</tt:Bitrate><tt:SampleRate>8</tt:SampleRate><tt:SessionTimeout>PT60S</tt:SessionTimeout></trt:Configurations></trt:GetAudioEncoderConfigurationsResponse>)"},
            {"GetAudioEncoderConfigurations", "off",
             R"(<trt:GetAudioEncoderConfigurationsResponse/>)"},
            {"GetAudioSourceConfigurations", "on",
             R"(<trt:GetAudioSourceConfigurationsResponse><trt:Configurations token="asrccfg0"><tt:Name>asrc</tt:Name><tt:UseCount>2</tt:UseCount><tt:SourceToken>asrc0</tt:SourceToken></trt:Configurations></trt:GetAudioSourceConfigurationsResponse>)"},
            {"GetAudioSourceConfigurations", "off",
             R"(<trt:GetAudioSourceConfigurationsResponse/>)"},
            {"GetMetadataConfigurations", "any", R"(<trt:GetMetadataConfigurationsResponse/>)"},
            {"GetAudioEncoderConfiguration", "on",
             R"(<trt:GetAudioEncoderConfigurationResponse><trt:Configuration token="aenccfg0"><tt:Name>aenc</tt:Name><tt:UseCount>2</tt:UseCount><tt:Encoding>G711</tt:Encoding><tt:Bitrate>64</tt:Bitrate><tt:SampleRate>8</tt:SampleRate><tt:SessionTimeout>PT60S</tt:SessionTimeout></trt:Configuration></trt:GetAudioEncoderConfigurationResponse>)"},
            {"GetAudioSourceConfiguration", "on",
             R"(<trt:GetAudioSourceConfigurationResponse><trt:Configuration token="asrccfg0"><tt:Name>asrc</tt:Name><tt:UseCount>2</tt:UseCount><tt:SourceToken>asrc0</tt:SourceToken></trt:Configuration></trt:GetAudioSourceConfigurationResponse>)"},
            {"GetCompatibleAudioEncoderConfigurations", "on",
             R"(<trt:GetCompatibleAudioEncoderConfigurationsResponse><trt:Configurations token="aenccfg0"><tt:Name>aenc</tt:Name><tt:UseCount>2</tt:UseCount><tt:Encoding>G711</tt:Encoding><tt:Bitrate>64</tt:Bitrate><tt:SampleRate>8</tt:SampleRate><tt:SessionTimeout>PT60S</tt:SessionTimeout></trt:Configurations></trt:GetCompatibleAudioEncoderConfigurationsResponse>)"},
            {"GetCompatibleAudioEncoderConfigurations", "off",
             R"(<trt:GetCompatibleAudioEncoderConfigurationsResponse/>)"},
            {"GetCompatibleAudioSourceConfigurations", "on",
             R"(<trt:GetCompatibleAudioSourceConfigurationsResponse><trt:Configurations token="asrccfg0"><tt:Name>asrc</tt:Name><tt:UseCount>2</tt:UseCount><tt:SourceToken>asrc0</tt:SourceToken></trt:Configurations></trt:GetCompatibleAudioSourceConfigurationsResponse>)"},
            {"GetCompatibleAudioSourceConfigurations", "off",
             R"(<trt:GetCompatibleAudioSourceConfigurationsResponse/>)"},
            {"SetAudioEncoderConfiguration", "any",
             R"(<trt:SetAudioEncoderConfigurationResponse/>)"},
            {"SetAudioSourceConfiguration", "any", R"(<trt:SetAudioSourceConfigurationResponse/>)"},
            {"AddAudioEncoderConfiguration", "any",
             R"(<trt:AddAudioEncoderConfigurationResponse/>)"},
            {"AddAudioSourceConfiguration", "any", R"(<trt:AddAudioSourceConfigurationResponse/>)"},
            {"RemoveAudioEncoderConfiguration", "any",
             R"(<trt:RemoveAudioEncoderConfigurationResponse/>)"},
            {"RemoveAudioSourceConfiguration", "any",
             R"(<trt:RemoveAudioSourceConfigurationResponse/>)"},
            {"GetAudioOutputConfigurationOptions", "any",
             R"(<trt:GetAudioOutputConfigurationOptionsResponse><trt:Options/></trt:GetAudioOutputConfigurationOptionsResponse>)"},
            {"GetAudioOutputConfigurations", "any",
             R"(<trt:GetAudioOutputConfigurationsResponse/>)"},
            {"GetAudioOutputs", "any", R"(<trt:GetAudioOutputsResponse/>)"},
            {"GetAudioDecoderConfigurations", "any",
             R"(<trt:GetAudioDecoderConfigurationsResponse/>)"},
            {"GetAudioSourceConfigurationOptions", "any",
             R"(<trt:GetAudioSourceConfigurationOptionsResponse><trt:Options/></trt:GetAudioSourceConfigurationOptionsResponse>)"},
            {"SetOSD", "any", R"(<trt:SetOSDResponse/>)"},
            {"CreateOSD", "any", R"(<trt:CreateOSDResponse/>)"},
            {"DeleteOSD", "any", R"(<trt:DeleteOSDResponse/>)"},
            {"GetCompatibleVideoAnalyticsConfigurations", "any",
             R"(<trt:GetCompatibleVideoAnalyticsConfigurationsResponse/>)"},
            {"GetVideoAnalyticsConfigurations", "any",
             R"(<trt:GetVideoAnalyticsConfigurationsResponse/>)"},
            {"GetCapabilities", "any",
             R"(<tds:GetCapabilitiesResponse><tds:Capabilities><tt:Device><tt:XAddr>http://{IP}:{ONVIFPORT}/onvif/device_service</tt:XAddr><tt:System><tt:DiscoveryResolve>false</tt:DiscoveryResolve><tt:DiscoveryBye>true</tt:DiscoveryBye><tt:RemoteDiscovery>false</tt:RemoteDiscovery><tt:SystemBackup>false</tt:SystemBackup><tt:SystemLogging>false</tt:SystemLogging><tt:FirmwareUpgrade>false</tt:FirmwareUpgrade></tt:System></tt:Device><tt:Events><tt:XAddr>http://{IP}:{ONVIFPORT}/onvif/event_service</tt:XAddr><tt:WSSubscriptionPolicySupport>false</tt:WSSubscriptionPolicySupport><tt:WSPullPointSupport>true</tt:WSPullPointSupport><tt:WSPausableSubscriptionManagerInterfaceSupport>false</tt:WSPausableSubscriptionManagerInterfaceSupport></tt:Events><tt:Media><tt:XAddr>http://{IP}:{ONVIFPORT}/onvif/media_service</tt:XAddr><tt:StreamingCapabilities><tt:RTPMulticast>false</tt:RTPMulticast><tt:RTP_TCP>true</tt:RTP_TCP><tt:RTP_RTSP_TCP>true</tt:RTP_RTSP_TCP></tt:StreamingCapabilities></tt:Media><tt:Imaging><tt:XAddr>http://{IP}:{ONVIFPORT}/onvif/imaging_service</tt:XAddr></tt:Imaging></tds:Capabilities></tds:GetCapabilitiesResponse>)"},
            {"GetVideoEncoderConfigurations", "any",
             R"(<trt:GetVideoEncoderConfigurationsResponse><trt:Configurations token="venccfg0"><tt:Name>venc</tt:Name><tt:UseCount>1</tt:UseCount><tt:Encoding>H264</tt:Encoding><tt:Resolution><tt:Width>{W}</tt:Width><tt:Height>{H}</tt:Height></tt:Resolution><tt:Quality>5</tt:Quality><tt:RateControl><tt:FrameRateLimit>{FPS}</tt:FrameRateLimit><tt:EncodingInterval>1</tt:EncodingInterval><tt:BitrateLimit>2000</tt:BitrateLimit></tt:RateControl><tt:H264><tt:GovLength>10</tt:GovLength><tt:H264Profile>Baseline</tt:H264Profile></tt:H264><tt:Multicast><tt:Address><tt:Type>IPv4</tt:Type><tt:IPv4Address>239.0.0.1</tt:IPv4Address></tt:Address><tt:Port>5004</tt:Port><tt:TTL>1</tt:TTL><tt:AutoStart>false</tt:AutoStart></tt:Multicast><tt:SessionTimeout>PT60S</tt:SessionTimeout></trt:Configurations></trt:GetVideoEncoderConfigurationsResponse>)"},
            {"GetVideoSourceConfigurationOptions", "any",
             R"(<trt:GetVideoSourceConfigurationOptionsResponse><trt:Options><tt:BoundsRange><tt:XRange><tt:Min>0</tt:Min><tt:Max>0</tt:Max></tt:XRange><tt:YRange><tt:Min>0</tt:Min><tt:Max>0</tt:Max></tt:YRange><tt:WidthRange><tt:Min>{W}</tt:Min><tt:Max>{W}</tt:Max></tt:WidthRange><tt:HeightRange><tt:Min>{H}</tt:Min><tt:Max>{H}</tt:Max></tt:HeightRange></tt:BoundsRange><tt:VideoSourceTokensAvailable>vsrc0</tt:VideoSourceTokensAvailable></trt:Options></trt:GetVideoSourceConfigurationOptionsResponse>)"},
            {"GetOptions", "any",
             R"(<timg:GetOptionsResponse><timg:ImagingOptions><tt:Brightness><tt:Min>0</tt:Min><tt:Max>100</tt:Max></tt:Brightness><tt:ColorSaturation><tt:Min>0</tt:Min><tt:Max>100</tt:Max></tt:ColorSaturation><tt:Contrast><tt:Min>0</tt:Min><tt:Max>100</tt:Max></tt:Contrast><tt:Sharpness><tt:Min>0</tt:Min><tt:Max>100</tt:Max></tt:Sharpness></timg:ImagingOptions></timg:GetOptionsResponse>)"},
            {"GetOSDOptions",
             "any", R"(<trt:GetOSDOptionsResponse><trt:OSDOptions><tt:MaximumNumberOfOSDs Total="2" PlainText="1" DateAndTime="1"/><tt:Type>Text</tt:Type><tt:PositionOption>UpperLeft</tt:PositionOption><tt:PositionOption>UpperRight</tt:PositionOption><tt:PositionOption>LowerLeft</tt:PositionOption><tt:PositionOption>LowerRight</tt:PositionOption><tt:TextOption><tt:Type>Plain</tt:Type><tt:Type>DateAndTime</tt:Type><tt:DateFormat>yyyy-MM-dd</tt:DateFormat><tt:TimeFormat>HH:mm:ss</tt:TimeFormat></tt:TextOption></trt:OSDOptions></trt:GetOSDOptionsResponse>)"},
            {"GetServiceCapabilities", "any",
             R"(<tev:GetServiceCapabilitiesResponse><tev:Capabilities WSSubscriptionPolicySupport="false" WSPullPointSupport="true" WSPausableSubscriptionManagerInterfaceSupport="false" MaxNotificationProducers="0" MaxPullPoints="8" PersistentNotificationStorage="false"/></tev:GetServiceCapabilitiesResponse>)"},
            {"SetSynchronizationPoint", "any", R"(<tev:SetSynchronizationPointResponse/>)"},
};

const char* const k_env_prefix =
    R"(<?xml version="1.0" encoding="UTF-8"?><env:Envelope xmlns:env="http://www.w3.org/2003/05/soap-envelope" xmlns:tds="http://www.onvif.org/ver10/device/wsdl" xmlns:trt="http://www.onvif.org/ver10/media/wsdl" xmlns:ter="http://www.onvif.org/ver10/error" xmlns:timg="http://www.onvif.org/ver20/imaging/wsdl" xmlns:tev="http://www.onvif.org/ver10/events/wsdl" xmlns:wsnt="http://docs.oasis-open.org/wsn/b-2" xmlns:wstop="http://docs.oasis-open.org/wsn/t-1" xmlns:wsa="http://www.w3.org/2005/08/addressing" xmlns:tns1="http://www.onvif.org/ver10/topics" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:tt="http://www.onvif.org/ver10/schema">)";

std::string subst(std::string t, bool) {
    // Values of the test camera below.
    const std::pair<const char*, const char*> values[] = {{"{IP}", "127.0.0.1"},
                                                          {"{ONVIFPORT}", "8000"},
                                                          {"{RTSPPORT}", "8554"},
                                                          {"{SUBSTREAM}", "screensub"},
                                                          {"{STREAM}", "screenlive"},
                                                          {"{W}", "1920"},
                                                          {"{H}", "1080"},
                                                          {"{FPS}", "10"}};
    for (const auto& [k, v] : values)
        for (size_t p; (p = t.find(k)) != std::string::npos;) t.replace(p, strlen(k), v);
    return t;
}

std::string wrap(const std::string& body, const std::string& action = "") {
    std::string out = k_env_prefix;
    if (!action.empty()) out += "<env:Header><wsa:Action>" + action + "</wsa:Action></env:Header>";
    return out + "<env:Body>" + body + "</env:Body></env:Envelope>";
}

class Dispatcher : public ::testing::Test {
  protected:
    void SetUp() override {
        ctx.address = "127.0.0.1";
        ctx.onvif_port = 8000;
        ctx.rtsp_port = 8554;
        ctx.stream_name = "screenlive";
        ctx.substream_name = "screensub";
        ctx.width = 1920;
        ctx.height = 1080;
        ctx.frame_rate = 10;
        onvif_identity_from(ctx, "unit-test-machine");
        std::lock_guard<std::mutex> g(ctx.lock);
        onvif_apply_name(ctx, "Lab cam #2");
    }
    void sub(bool on) {
        ctx.sub_stream_on = on;
        ctx.sub_width = on ? 640 : 0;
        ctx.sub_height = on ? 360 : 0;
    }
    // The SOAP body of the 200 answer to a request whose Body holds `inner`.
    std::string ask(const std::string& inner, const std::string& extra_ns = "") {
        const std::string soap =
            "<?xml version=\"1.0\"?><s:Envelope "
            "xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\"" +
            extra_ns + "><s:Header/><s:Body>" + inner + "</s:Body></s:Envelope>";
        HttpRequest req;
        req.text = "POST /onvif/device_service HTTP/1.1\r\nHost: x\r\nContent-Length: " +
                   std::to_string(soap.size()) + "\r\n\r\n" + soap;
        req.header_end = req.text.find("\r\n\r\n");
        req.body = soap;
        const std::string answer = handle_request(ctx, req);
        const size_t sep = answer.find("\r\n\r\n");
        const std::string head = answer.substr(0, sep);
        const std::string envelope = answer.substr(sep + 4);
        EXPECT_EQ(head,
                  "HTTP/1.1 200 OK\r\nContent-Type: application/soap+xml; charset=utf-8\r\n"
                  "Content-Length: " +
                      std::to_string(envelope.size()) + "\r\nConnection: close");
        return envelope;
    }
    std::string ask_action(const std::string& action, const std::string& args = "") {
        return ask("<tds:" + action + " xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\">" +
                   args + "</tds:" + action + ">");
    }
    OnvifContext ctx;
};

std::string request_args(const std::string& action) {
    if (action == "GetStatus") return "<timg:VideoSourceToken>vsrc0</timg:VideoSourceToken>";
    if (action == "GetOptions") return "<timg:VideoSourceToken>imaging</timg:VideoSourceToken>";
    return "";
}

TEST_F(Dispatcher, FixedAnswersAreByteExact) {
    for (bool sub_on : {false, true}) {
        for (bool audio : {false, true}) {
            sub(sub_on);
            ctx.audio_on = audio;
            for (const Golden& g : k_fixed) {
                const std::string v = g.variant;
                if ((v == "on" && !audio) || (v == "off" && audio)) continue;
                std::string action = g.action;
                const std::string header =
                    action == "SetSynchronizationPoint"
                        ? "http://www.onvif.org/ver10/events/wsdl/EventPortType/"
                          "SetSynchronizationPointResponse"
                        : "";
                EXPECT_EQ(ask_action(action, request_args(action)),
                          wrap(subst(g.body, sub_on), header))
                    << action << " sub=" << sub_on << " audio=" << audio;
            }
        }
    }
}

const char* const k_main_vec =
    R"(<tt:VideoEncoderConfiguration token="venccfg0"><tt:Name>venc</tt:Name><tt:UseCount>1</tt:UseCount><tt:Encoding>H264</tt:Encoding><tt:Resolution><tt:Width>1920</tt:Width><tt:Height>1080</tt:Height></tt:Resolution><tt:Quality>5</tt:Quality><tt:RateControl><tt:FrameRateLimit>10</tt:FrameRateLimit><tt:EncodingInterval>1</tt:EncodingInterval><tt:BitrateLimit>2000</tt:BitrateLimit></tt:RateControl><tt:H264><tt:GovLength>10</tt:GovLength><tt:H264Profile>Baseline</tt:H264Profile></tt:H264><tt:Multicast><tt:Address><tt:Type>IPv4</tt:Type><tt:IPv4Address>239.0.0.1</tt:IPv4Address></tt:Address><tt:Port>5004</tt:Port><tt:TTL>1</tt:TTL><tt:AutoStart>false</tt:AutoStart></tt:Multicast><tt:SessionTimeout>PT60S</tt:SessionTimeout></tt:VideoEncoderConfiguration>)";
const char* const k_asc =
    R"(<tt:AudioSourceConfiguration token="asrccfg0"><tt:Name>asrc</tt:Name><tt:UseCount>2</tt:UseCount><tt:SourceToken>asrc0</tt:SourceToken></tt:AudioSourceConfiguration>)";
const char* const k_aec =
    R"(<tt:AudioEncoderConfiguration token="aenccfg0"><tt:Name>aenc</tt:Name><tt:UseCount>2</tt:UseCount><tt:Encoding>G711</tt:Encoding><tt:Bitrate>64</tt:Bitrate><tt:SampleRate>8</tt:SampleRate><tt:SessionTimeout>PT60S</tt:SessionTimeout></tt:AudioEncoderConfiguration>)";

std::string main_profile(const char* element, bool audio) {
    return std::string("<trt:") + element +
           R"( token="prof0" fixed="true"><tt:Name>MainProfile</tt:Name><tt:VideoSourceConfiguration token="vsrccfg0"><tt:Name>vsrc</tt:Name><tt:UseCount>1</tt:UseCount><tt:SourceToken>vsrc0</tt:SourceToken><tt:Bounds x="0" y="0" width="1920" height="1080"/></tt:VideoSourceConfiguration>)" +
           (audio ? k_asc : "") + k_main_vec + (audio ? k_aec : "") + "</trt:" + element + ">";
}

std::string sub_profile(bool audio) {
    // The sub profile's GovLength follows the frame rate (10) like the main one.
    std::string vec = k_main_vec;
    vec = replace_text(vec, "venccfg0", "venccfg1");
    vec = replace_text(vec, "1920", "640");
    vec = replace_text(vec, "1080", "360");
    vec = replace_text(vec, ">2000<", ">512<");
    return std::string(
               R"(<trt:Profiles token="prof1" fixed="true"><tt:Name>SubProfile</tt:Name><tt:VideoSourceConfiguration token="vsrccfg1"><tt:Name>vsrc</tt:Name><tt:UseCount>1</tt:UseCount><tt:SourceToken>vsrc0</tt:SourceToken><tt:Bounds x="0" y="0" width="640" height="360"/></tt:VideoSourceConfiguration>)") +
           (audio ? k_asc : "") + vec + (audio ? k_aec : "") + "</trt:Profiles>";
}

TEST_F(Dispatcher, ProfilesFollowSubStreamAndAudio) {
    for (bool audio : {false, true}) {
        ctx.audio_on = audio;
        sub(false);
        EXPECT_EQ(ask_action("GetProfiles"),
                  wrap("<trt:GetProfilesResponse>" + main_profile("Profiles", audio) +
                       "</trt:GetProfilesResponse>"));
        sub(true);
        EXPECT_EQ(ask_action("GetProfiles"),
                  wrap("<trt:GetProfilesResponse>" + main_profile("Profiles", audio) +
                       sub_profile(audio) + "</trt:GetProfilesResponse>"));
        EXPECT_EQ(ask_action("GetProfile", "<trt:ProfileToken>prof0</trt:ProfileToken>"),
                  wrap("<trt:GetProfileResponse>" + main_profile("Profile", audio) +
                       "</trt:GetProfileResponse>"));
        std::string sub_single = sub_profile(audio);
        sub_single = replace_text(sub_single, "trt:Profiles", "trt:Profile");
        EXPECT_EQ(ask_action("GetProfile", "<trt:ProfileToken>prof1</trt:ProfileToken>"),
                  wrap("<trt:GetProfileResponse>" + sub_single + "</trt:GetProfileResponse>"));
    }
}

const char* const k_no_profile =
    R"(<env:Fault><env:Code><env:Value>env:Sender</env:Value><env:Subcode><env:Value>ter:InvalidArgVal</env:Value><env:Subcode><env:Value>ter:NoProfile</env:Value></env:Subcode></env:Subcode></env:Code><env:Reason><env:Text xml:lang="en">The requested profile token does not exist</env:Text></env:Reason></env:Fault>)";
const char* const k_not_supported =
    R"(<env:Fault><env:Code><env:Value>env:Receiver</env:Value><env:Subcode><env:Value>ter:ActionNotSupported</env:Value></env:Subcode></env:Code><env:Reason><env:Text xml:lang="en">Action Not Implemented</env:Text></env:Reason></env:Fault>)";

TEST_F(Dispatcher, Faults) {
    sub(false);
    EXPECT_EQ(ask_action("GetProfile", "<trt:ProfileToken>prof1</trt:ProfileToken>"),
              wrap(k_no_profile));
    EXPECT_EQ(ask_action("GetProfile", "<trt:ProfileToken>other</trt:ProfileToken>"),
              wrap(k_no_profile));
    ctx.audio_on = false;
    EXPECT_EQ(
        ask_action("GetAudioEncoderConfiguration"),
        wrap(
            R"(<env:Fault><env:Code><env:Value>env:Sender</env:Value><env:Subcode><env:Value>ter:InvalidArgVal</env:Value><env:Subcode><env:Value>ter:NoConfig</env:Value></env:Subcode></env:Subcode></env:Code><env:Reason><env:Text xml:lang="en">No audio encoder configuration</env:Text></env:Reason></env:Fault>)"));
    EXPECT_EQ(
        ask_action("GetAudioSourceConfiguration"),
        wrap(
            R"(<env:Fault><env:Code><env:Value>env:Sender</env:Value><env:Subcode><env:Value>ter:InvalidArgVal</env:Value><env:Subcode><env:Value>ter:NoConfig</env:Value></env:Subcode></env:Subcode></env:Code><env:Reason><env:Text xml:lang="en">No audio source configuration</env:Text></env:Reason></env:Fault>)"));
    EXPECT_EQ(ask_action("ContinuousMove"), wrap(k_not_supported));
    // Without their marker texts these two fall through to the fault.
    EXPECT_EQ(ask_action("GetStatus"), wrap(k_not_supported));
    EXPECT_EQ(ask_action("GetOptions"), wrap(k_not_supported));
    EXPECT_EQ(ask(""), wrap(k_not_supported));
}

TEST(UnsupportedAction, NameExtraction) {
    EXPECT_EQ(unsupported_action_name("<s:Body><tptz:ContinuousMove xmlns:tptz=\"x\"/></s:Body>"),
              "ContinuousMove");
    EXPECT_EQ(unsupported_action_name("<Body>\n  <Foo>bar</Foo></Body>"), "Foo");
    EXPECT_EQ(unsupported_action_name("<a:b:c:Deep/>:Body>"), "?");  // nothing after Body
    EXPECT_EQ(unsupported_action_name("<s:Body></s:Body>"), "?");
    EXPECT_EQ(unsupported_action_name("no xml at all"), "?");
    EXPECT_EQ(unsupported_action_name("<s:Body><x:/><ns:Real>"), "Real");
}

TEST_F(Dispatcher, SelectedStreamAnswers) {
    const std::string main_vec_cfg =
        R"( token="venccfg0"><tt:Name>venc</tt:Name><tt:UseCount>1</tt:UseCount><tt:Encoding>H264</tt:Encoding><tt:Resolution><tt:Width>1920</tt:Width><tt:Height>1080</tt:Height></tt:Resolution><tt:Quality>5</tt:Quality><tt:RateControl><tt:FrameRateLimit>10</tt:FrameRateLimit><tt:EncodingInterval>1</tt:EncodingInterval><tt:BitrateLimit>2000</tt:BitrateLimit></tt:RateControl><tt:H264><tt:GovLength>10</tt:GovLength><tt:H264Profile>Baseline</tt:H264Profile></tt:H264><tt:SessionTimeout>PT60S</tt:SessionTimeout>)";
    std::string sub_vec_cfg = replace_text(main_vec_cfg, "venccfg0", "venccfg1");
    sub_vec_cfg = replace_text(sub_vec_cfg, ">1920<", ">640<");
    sub_vec_cfg = replace_text(sub_vec_cfg, ">1080<", ">360<");
    sub_vec_cfg = replace_text(sub_vec_cfg, ">2000<", ">512<");
    const std::string tok1 = "<trt:ConfigurationToken>venccfg1</trt:ConfigurationToken>";
    for (bool sub_on : {false, true}) {
        sub(sub_on);
        const std::string& cfg = sub_on ? sub_vec_cfg : main_vec_cfg;
        EXPECT_EQ(ask_action("GetVideoEncoderConfiguration", tok1),
                  wrap("<trt:GetVideoEncoderConfigurationResponse><trt:Configuration" + cfg +
                       "</trt:Configuration></trt:GetVideoEncoderConfigurationResponse>"));
        EXPECT_EQ(
            ask_action("GetCompatibleVideoEncoderConfigurations",
                       "<trt:ProfileToken>prof1</trt:ProfileToken>"),
            wrap("<trt:GetCompatibleVideoEncoderConfigurationsResponse><trt:Configurations" + cfg +
                 "</trt:Configurations></trt:GetCompatibleVideoEncoderConfigurationsResponse>"));
        const std::string w = sub_on ? "640" : "1920", h = sub_on ? "360" : "1080";
        EXPECT_EQ(
            ask_action("GetVideoSourceConfiguration",
                       "<trt:ConfigurationToken>vsrccfg1</trt:ConfigurationToken>"),
            wrap(std::string(
                     "<trt:GetVideoSourceConfigurationResponse><trt:Configuration token=\"") +
                 (sub_on ? "vsrccfg1" : "vsrccfg0") +
                 "\"><tt:Name>vsrc</tt:Name><tt:UseCount>1</tt:UseCount><tt:SourceToken>vsrc0</"
                 "tt:SourceToken><tt:Bounds x=\"0\" y=\"0\" width=\"" +
                 w + "\" height=\"" + h +
                 "\"/></trt:Configuration></trt:GetVideoSourceConfigurationResponse>"));
        EXPECT_EQ(
            ask_action("GetVideoEncoderConfigurationOptions", tok1),
            wrap("<trt:GetVideoEncoderConfigurationOptionsResponse><trt:Options><tt:QualityRange><"
                 "tt:Min>1</tt:Min><tt:Max>10</tt:Max></"
                 "tt:QualityRange><tt:H264><tt:ResolutionsAvailable><tt:Width>" +
                 w + "</tt:Width><tt:Height>" + h +
                 "</tt:Height></tt:ResolutionsAvailable><tt:GovLengthRange><tt:Min>1</"
                 "tt:Min><tt:Max>60</tt:Max></tt:GovLengthRange><tt:FrameRateRange><tt:Min>1</"
                 "tt:Min><tt:Max>60</tt:Max></"
                 "tt:FrameRateRange><tt:EncodingIntervalRange><tt:Min>1</tt:Min><tt:Max>1</"
                 "tt:Max></tt:EncodingIntervalRange><tt:H264ProfilesSupported>Baseline</"
                 "tt:H264ProfilesSupported></tt:H264></trt:Options></"
                 "trt:GetVideoEncoderConfigurationOptionsResponse>"));
        // Stream addresses: only "prof1" selects the sub stream here.
        const std::string uri_tail =
            "</tt:Uri><tt:InvalidAfterConnect>false</"
            "tt:InvalidAfterConnect><tt:InvalidAfterReboot>false</"
            "tt:InvalidAfterReboot><tt:Timeout>PT60S</tt:Timeout></trt:MediaUri></"
            "trt:GetStreamUriResponse>";
        EXPECT_EQ(
            ask_action("GetStreamUri", "<trt:ProfileToken>prof1</trt:ProfileToken>"),
            wrap(std::string(
                     "<trt:GetStreamUriResponse><trt:MediaUri><tt:Uri>rtsp://127.0.0.1:8554/") +
                 (sub_on ? "screensub" : "screenlive") + uri_tail));
        EXPECT_EQ(
            ask_action("GetStreamUri", "<x>venccfg1</x>"),
            wrap(
                "<trt:GetStreamUriResponse><trt:MediaUri><tt:Uri>rtsp://127.0.0.1:8554/screenlive" +
                uri_tail));
    }
}

TEST_F(Dispatcher, IdentityAnswers) {
    const std::string serial = ctx.serial_number;
    ASSERT_EQ(serial.size(), 16u);
    EXPECT_EQ(ask_action("GetDeviceInformation"),
              wrap("<tds:GetDeviceInformationResponse><tds:Manufacturer>Orvanta</"
                   "tds:Manufacturer><tds:Model>Lab cam "
                   "#2</tds:Model><tds:FirmwareVersion>2.0.5-WindowsServer</"
                   "tds:FirmwareVersion><tds:SerialNumber>" +
                   serial + "</tds:SerialNumber><tds:HardwareId>" + serial +
                   "</tds:HardwareId></tds:GetDeviceInformationResponse>"));
    std::string scopes = "<tds:GetScopesResponse>";
    for (std::string item : {std::string("onvif://www.onvif.org/type/NetworkVideoTransmitter"),
                             std::string("onvif://www.onvif.org/type/video_encoder"),
                             std::string("onvif://www.onvif.org/Profile/S"),
                             std::string("onvif://www.onvif.org/Profile/Streaming"),
                             std::string("onvif://www.onvif.org/name/Lab-cam-2"),
                             std::string("onvif://www.onvif.org/location/Screen"),
                             "onvif://www.onvif.org/hardware/" + serial})
        scopes += "<tds:Scopes><tt:ScopeDef>Fixed</tt:ScopeDef><tt:ScopeItem>" + item +
                  "</tt:ScopeItem></tds:Scopes>";
    EXPECT_EQ(ask_action("GetScopes"), wrap(scopes + "</tds:GetScopesResponse>"));
    std::string services = "<tds:GetServicesResponse>";
    for (auto [ns, path] :
         {std::pair{"http://www.onvif.org/ver10/device/wsdl", "device_service"},
          std::pair{"http://www.onvif.org/ver10/media/wsdl", "media_service"},
          std::pair{"http://www.onvif.org/ver10/events/wsdl", "event_service"},
          std::pair{"http://www.onvif.org/ver20/imaging/wsdl", "imaging_service"}})
        services += std::string("<tds:Service><tds:Namespace>") + ns +
                    "</tds:Namespace><tds:XAddr>http://127.0.0.1:8000/onvif/" + path +
                    "</tds:XAddr><tds:Version><tt:Major>2</tt:Major><tt:Minor>5</tt:Minor></"
                    "tds:Version></tds:Service>";
    EXPECT_EQ(ask_action("GetServices"), wrap(services + "</tds:GetServicesResponse>"));
    EXPECT_EQ(ask_action("GetHostname"),
              wrap("<tds:GetHostnameResponse><tds:HostnameInformation><tt:FromDHCP>false</"
                   "tt:FromDHCP><tt:Name>Lab-cam-2</tt:Name></tds:HostnameInformation></"
                   "tds:GetHostnameResponse>"));
    ctx.user_name = "admin";
    EXPECT_EQ(ask_action("GetUsers"), wrap("<tds:GetUsersResponse><tds:User><tt:Username>admin</"
                                           "tt:Username><tt:UserLevel>Administrator</"
                                           "tt:UserLevel></tds:User></tds:GetUsersResponse>"));
    EXPECT_EQ(ask_action("GetNetworkProtocols"),
              wrap("<tds:GetNetworkProtocolsResponse><tds:NetworkProtocols><tt:Name>HTTP</"
                   "tt:Name><tt:Enabled>true</tt:Enabled><tt:Port>8000</tt:Port></"
                   "tds:NetworkProtocols><tds:NetworkProtocols><tt:Name>RTSP</"
                   "tt:Name><tt:Enabled>true</tt:Enabled><tt:Port>8554</tt:Port></"
                   "tds:NetworkProtocols></tds:GetNetworkProtocolsResponse>"));
    EXPECT_EQ(
        ask_action("GetNetworkInterfaces"),
        wrap(
            "<tds:GetNetworkInterfacesResponse><tds:NetworkInterfaces "
            "token=\"eth0\"><tt:Enabled>true</tt:Enabled><tt:Info><tt:Name>eth0</"
            "tt:Name><tt:HwAddress>" +
            serial +
            "</tt:HwAddress><tt:MTU>1500</tt:MTU></tt:Info><tt:IPv4><tt:Enabled>true</"
            "tt:Enabled><tt:Config><tt:Manual><tt:Address>127.0.0.1</"
            "tt:Address><tt:PrefixLength>24</tt:PrefixLength></tt:Manual><tt:DHCP>false</tt:DHCP></"
            "tt:Config></tt:IPv4></tds:NetworkInterfaces></tds:GetNetworkInterfacesResponse>"));
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 0;
    t.tm_mday = 5;
    t.tm_hour = 7;
    t.tm_min = 3;
    t.tm_sec = 9;
    EXPECT_EQ(
        system_date_and_time_body(t),
        "<tds:GetSystemDateAndTimeResponse><tds:SystemDateAndTime><tt:DateTimeType>Manual</"
        "tt:DateTimeType><tt:DaylightSavings>false</tt:DaylightSavings><tt:TimeZone><tt:TZ>UTC</"
        "tt:TZ></tt:TimeZone><tt:UTCDateTime><tt:Time><tt:Hour>7</tt:Hour><tt:Minute>3</"
        "tt:Minute><tt:Second>9</tt:Second></tt:Time><tt:Date><tt:Year>2026</tt:Year><tt:Month>1</"
        "tt:Month><tt:Day>5</tt:Day></tt:Date></tt:UTCDateTime></tds:SystemDateAndTime></"
        "tds:GetSystemDateAndTimeResponse>");
    EXPECT_NE(ask_action("GetSystemDateAndTime").find("<tt:TZ>UTC</tt:TZ>"), std::string::npos);
}

TEST_F(Dispatcher, OsdAnswers) {
    onvif_set_osd_layout(ctx, 0, true, 9);  // clock position out of range -> UpperRight
    const std::string name_osd =
        R"(<trt:OSDs token="osd_name"><tt:VideoSourceConfigurationToken>vsrccfg1</tt:VideoSourceConfigurationToken><tt:Type>Text</tt:Type><tt:Position><tt:Type>UpperLeft</tt:Type></tt:Position><tt:TextString><tt:Type>Plain</tt:Type><tt:PlainText>Lab cam #2</tt:PlainText></tt:TextString></trt:OSDs>)";
    const std::string clock_osd =
        R"(<trt:OSDs token="osd_clock"><tt:VideoSourceConfigurationToken>vsrccfg1</tt:VideoSourceConfigurationToken><tt:Type>Text</tt:Type><tt:Position><tt:Type>UpperRight</tt:Type></tt:Position><tt:TextString><tt:Type>DateAndTime</tt:Type><tt:DateFormat>yyyy-MM-dd</tt:DateFormat><tt:TimeFormat>HH:mm:ss</tt:TimeFormat></tt:TextString></trt:OSDs>)";
    const std::string tok = "<trt:ConfigurationToken>vsrccfg1</trt:ConfigurationToken>";
    EXPECT_EQ(ask_action("GetOSDs", tok),
              wrap("<trt:GetOSDsResponse>" + name_osd + clock_osd + "</trt:GetOSDsResponse>"));
    std::string single = replace_text(clock_osd, "trt:OSDs", "trt:OSD");
    single = replace_text(single, "vsrccfg1", "vsrccfg0");
    EXPECT_EQ(ask_action("GetOSD", "<trt:OSDToken>osd_clock</trt:OSDToken>"),
              wrap("<trt:GetOSDResponse>" + single + "</trt:GetOSDResponse>"));
    onvif_set_osd_layout(ctx, 7, false, 0);  // name position out of range -> LowerRight
    const std::string answer = ask_action("GetOSDs");
    EXPECT_NE(answer.find("<tt:Type>LowerRight</tt:Type>"), std::string::npos);
    EXPECT_EQ(answer.find("osd_clock"), std::string::npos);
    // The clock OSD is not offered while the clock is off.
    EXPECT_NE(ask_action("GetOSD", "<trt:OSDToken>osd_clock</trt:OSDToken>").find("osd_name"),
              std::string::npos);
}

TEST_F(Dispatcher, EventPropertiesCarryBothTopics) {
    const std::string a = ask_action("GetEventProperties");
    EXPECT_NE(a.find("<wsa:Action>http://www.onvif.org/ver10/events/wsdl/EventPortType/"
                     "GetEventPropertiesResponse</wsa:Action>"),
              std::string::npos);
    for (const char* part :
         {"tns1:RuleEngine", "CellMotionDetector", "Motion wstop:topic=\"true\"",
          "Name=\"IsMotion\" Type=\"xs:boolean\"", "tns1:VideoSource",
          "MotionAlarm wstop:topic=\"true\"", "Name=\"State\" Type=\"xs:boolean\"",
          "<wsnt:FixedTopicSet>true</wsnt:FixedTopicSet>"})
        EXPECT_NE(a.find(part), std::string::npos) << part;
}

TEST(CameraName, Derivation) {
    OnvifContext ctx;
    onvif_identity_from(ctx, "m");
    std::lock_guard<std::mutex> g(ctx.lock);
    onvif_apply_name(ctx, "\xd9\x83\xd8\xa7\xd9\x85\xd9\x8a\xd8\xb1\xd8\xa7");  // Arabic
    EXPECT_EQ(ctx.display_name, "Vistrel-" + ctx.short_id);
    EXPECT_EQ(ctx.model, "Vistrel");
    EXPECT_EQ(ctx.scope_name, "Vistrel-" + ctx.short_id);
    onvif_apply_name(ctx, "Lab cam #2");
    EXPECT_EQ(ctx.display_name, "Lab cam #2");
    EXPECT_EQ(ctx.model, "Lab cam #2");
    EXPECT_EQ(ctx.scope_name, "Lab-cam-2");
    onvif_apply_name(ctx, "Vistrel");
    EXPECT_EQ(ctx.display_name, "Vistrel-" + ctx.short_id);
    onvif_apply_name(ctx, "%%%");
    EXPECT_EQ(ctx.scope_name, "Vistrel-" + ctx.short_id);
    EXPECT_EQ(ctx.scope_list.size(), 4u);
    EXPECT_EQ(ctx.scope_list[2], "onvif://www.onvif.org/name/Vistrel-" + ctx.short_id);
}

TEST(CameraName, LiveChangeIsLoggedOnce) {
    OnvifContext ctx;
    onvif_identity_from(ctx, "m");
    LogRing::reset_for_tests();
    onvif_set_name_live(ctx, "Front desk");
    onvif_set_name_live(ctx, "Front desk");  // same name: nothing to say
    const auto lines = LogRing::lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "ONVIF: camera name on the NVR -> \"Front desk\" (live)");
    std::lock_guard<std::mutex> g(ctx.lock);
    EXPECT_EQ(ctx.scope_list[2], "onvif://www.onvif.org/name/Front-desk");
}

TEST(Identity, StableAndWellFormed) {
    OnvifContext a, b;
    onvif_identity_from(a, "machine-1");
    onvif_identity_from(b, "machine-1");
    EXPECT_EQ(a.endpoint_uuid, b.endpoint_uuid);
    EXPECT_EQ(a.serial_number, b.serial_number);
    // urn:uuid:8-4-4-4-12 lower-case hexadecimal digits
    EXPECT_EQ(a.endpoint_uuid.size(), 45u);
    EXPECT_EQ(a.endpoint_uuid.rfind("urn:uuid:", 0), 0u);
    for (size_t i = 9; i < a.endpoint_uuid.size(); ++i) {
        const bool dash = i == 17 || i == 22 || i == 27 || i == 32;
        EXPECT_TRUE(dash ? a.endpoint_uuid[i] == '-' : hex_digit(a.endpoint_uuid[i])) << i;
    }
    EXPECT_EQ(a.serial_number.size(), 16u);
    EXPECT_TRUE(std::all_of(a.serial_number.begin() + 4, a.serial_number.end(), hex_digit));
    EXPECT_EQ(a.serial_number.substr(4, 8), a.endpoint_uuid.substr(9, 8));
    EXPECT_NE(a.endpoint_uuid, a.second_uuid);
    EXPECT_EQ(a.nonce.size(), 32u);
    EXPECT_TRUE(std::all_of(a.nonce.begin(), a.nonce.end(), hex_digit));
    EXPECT_EQ(machine_identifier(), machine_identifier());
}

}  // namespace
