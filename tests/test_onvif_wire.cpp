// What an ONVIF camera checks in a request before it looks at the operation:
// the SOAP 1.2 envelope, the WS-Security header and its digest.
#include "discovery/ProbeMatches.h"
#include "onvif/OnvifClient.h"
#include "onvif/PTZService.h"
#include "sim/OnvifCamera.h"
#include "sim/ProbeResponder.h"
#include "onvif/Soap.h"
#include "onvif/WsSecurity.h"

#include <gtest/gtest.h>

#include <cctype>
#include <utility>
#include <vector>

using namespace korvane::onvif;

namespace {

// The namespace URI that a prefixed element's prefix is bound to.
std::string NamespaceOf(pugi::xml_node node)
{
    const std::string name = node.name();
    const std::size_t colon = name.find(':');
    const std::string attribute = colon == std::string::npos ? "xmlns" : "xmlns:" + name.substr(0, colon);
    for (pugi::xml_node at = node; at; at = at.parent())
        if (pugi::xml_attribute declared = at.attribute(attribute.c_str())) return declared.value();
    return {};
}

}  // namespace

TEST(OnvifWire, Base64CoversEveryTailLengthAndThePasswordDigestMatchesTheWsSecurityExample)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"\xff\xfe", "//4="}};
    for (const auto& [plain, encoded] : cases) {
        const std::vector<std::uint8_t> bytes(plain.begin(), plain.end());
        EXPECT_EQ(Base64Encode(bytes), encoded);
        EXPECT_EQ(Base64Decode(encoded), bytes) << encoded;
    }
    for (const char* bad : {"Zg=", "Z===", "Zg==Zg==", "Zm9*", "Zm=v", "===="})
        EXPECT_FALSE(Base64Decode(bad)) << bad;
    // The example of the ONVIF Application Programmer's Guide.
    const auto nonce = Base64Decode("LKqI6G/AikKCQrN0zqZFlg==");
    ASSERT_TRUE(nonce);
    EXPECT_EQ(PasswordDigest(*nonce, "2010-09-16T07:50:45Z", "userpassword"), "tuOSpGlFlIXsozq4HFNeeGeFLEI=");
}

TEST(OnvifWire, EnvelopesAreSoap12WithAUsernameTokenAndAnswersAreReadByLocalName)
{
    const auto created = UtcFromFields(2026, 12, 6, 15, 4, 5);  // its text is in the digest checked below
    ASSERT_TRUE(created);
    const std::string text =
        Envelope(SecurityHeader("ad<min", "pw", *created), "<tptz:Stop><tptz:ProfileToken>P</tptz:ProfileToken></tptz:Stop>");
    pugi::xml_document document;
    ASSERT_TRUE(document.load_string(text.c_str()));
    const pugi::xml_node envelope = document.document_element();
    EXPECT_EQ(NamespaceOf(envelope), kNsSoap);
    const pugi::xml_node security = Child(Child(envelope, "Header"), "Security");
    EXPECT_EQ(NamespaceOf(security), kNsWsse);
    EXPECT_STREQ(security.attribute("s:mustUnderstand").value(), "1");
    const pugi::xml_node token = Child(security, "UsernameToken");
    EXPECT_STREQ(Child(token, "Username").child_value(), "ad<min");
    EXPECT_STREQ(Child(token, "Password").attribute("Type").value(), kPasswordDigestType);
    EXPECT_EQ(NamespaceOf(Child(token, "Created")), kNsWsu);
    const auto nonce = Base64Decode(Child(token, "Nonce").child_value());
    ASSERT_TRUE(nonce);
    EXPECT_EQ(nonce->size(), 16u);
    EXPECT_NE(SecurityHeader("ad<min", "pw", *created), SecurityHeader("ad<min", "pw", *created)) << "one nonce twice";
    EXPECT_EQ(PasswordDigest(*nonce, "2026-12-06T15:04:05Z", "pw"), Child(token, "Password").child_value());
    EXPECT_EQ(NamespaceOf(Child(Child(envelope, "Body"), "Stop")), kNsPtz);
    // Answers are read by local name, and faults reported.
    const SoapReply fault = ParseSoapReply(400, "<e:Envelope xmlns:e='http://www.w3.org/2003/05/soap-envelope'><e:Body><e:Fault>"
        "<e:Code><e:Value>e:Sender</e:Value><e:Subcode><e:Value>ter:NotAuthorized</e:Value></e:Subcode></e:Code><e:Reason>"
        "<e:Text>No</e:Text></e:Reason></e:Fault></e:Body></e:Envelope>", "");
    EXPECT_FALSE(fault.ok);
    EXPECT_NE(fault.error.find("ter:NotAuthorized"), std::string::npos) << fault.error;
    const SoapReply ok = ParseSoapReply(
        200, "<Envelope><Body><x:SetPresetResponse xmlns:x='u'><x:PresetToken>T1</x:PresetToken></x:SetPresetResponse></Body></Envelope>", "");
    ASSERT_TRUE(ok.ok);
    EXPECT_STREQ(Child(ok.body, "PresetToken").child_value(), "T1");
    EXPECT_FALSE(ParseSoapReply(200, "", "").ok);
    EXPECT_FALSE(ParseSoapReply(200, "<Envelope><Body>", "").ok);
    EXPECT_FALSE(ParseSoapReply(0, "", "Timeout was reached").ok);
}

TEST(OnvifWire, MoveTimeoutsAreDurationsAndPresetNamesNumbers)
{
    const std::pair<long, const char*> cases[] = {
        {1, "PT0.001S"}, {400, "PT0.4S"}, {1250, "PT1.25S"}, {60000, "PT60S"}, {3600001, "PT3600.001S"}};
    for (const auto& [ms, text] : cases) EXPECT_EQ(DurationText(std::chrono::milliseconds(ms)), text);
    for (const int number : {5, 256}) EXPECT_EQ(PresetNumberFromName(std::to_string(number)), number);
    for (const char* name : {"0", "257", "012", "-5", "+5", "Home", "5a", "", "1000"})
        EXPECT_FALSE(PresetNumberFromName(name)) << name;
}

TEST(OnvifWire, DeviceAndServiceAddresses)
{
    const std::string device = "http://10.0.0.5:8000/onvif/device_service";
    const std::pair<const char*, const char*> cases[] = {  // what the device says, where it is asked
        {"http://192.168.1.64/onvif/Media", "http://10.0.0.5:8000/onvif/Media"},
        {"https://evil.example:443/ptz?x=1&y=2#frag", "http://10.0.0.5:8000/ptz?x=1&y=2"},
        {"  http://a/one http://b/two ", "http://10.0.0.5:8000/one"},
        {"/onvif/ptz", "http://10.0.0.5:8000/onvif/ptz"},
        {"http://192.168.1.64?q", "http://10.0.0.5:8000/?q"},
        {"http://192.168.1.64", ""},
        {"", ""},
        {"onvif/ptz", ""},
    };
    for (const auto& [xaddr, url] : cases) EXPECT_EQ(ServiceUrlOnDevice(device, xaddr), url) << xaddr;
    EXPECT_EQ(ServiceUrlOnDevice("http://[::1]:80/onvif/device_service", "http://x/p"), "http://[::1]:80/p");
    EXPECT_EQ(ServiceUrlOnDevice("https://10.0.0.5:443/onvif/device_service", "http://x/p"), "https://10.0.0.5:443/p");
    // The device's own address, with and without a scheme.
    struct Case { const char* ip; unsigned port; const char* url; /* "" refused */ };
    const Case devices[] = {
        {"192.168.1.64", 80, "http://192.168.1.64:80"},
        {"192.168.1.64", 443, "https://192.168.1.64:443"},
        {"https://192.168.1.64", 80, "https://192.168.1.64:443"},  // the address carries its port
        {"https://192.168.1.64:8443/", 0, "https://192.168.1.64:8443"},
        {"http://[fe80::1]:8080", 0, "http://[fe80::1]:8080"},
        {"https://[fe80::1]", 0, "https://[fe80::1]:443"},
        {"https://192.168.1.64:0", 80, ""},
        {"https://192.168.1.64:99999", 80, ""},
        {"https://192.168.1.64:8a", 80, ""},
        {"https://camera.local", 80, ""},
        {"ftp://192.168.1.64", 80, ""},
        {"https://[fe80::1", 80, ""},
    };
    for (const Case& c : devices)
        EXPECT_EQ(korvane::DeviceServiceUrl(c.ip, c.port), *c.url ? std::string(c.url) + "/onvif/device_service" : "") << c.ip;
}

TEST(OnvifWire, HttpsTakesATrustedOrThePinnedCertificateOnly)
{
    CHttpSession plain;
    const std::string envelope = Envelope("", "<tds:GetSystemDateAndTime/>");
    const std::string action = std::string(kNsDevice) + "/GetSystemDateAndTime";
#ifdef _WIN32
    EXPECT_EQ(plain.PostSoap("https://127.0.0.1:1/", action, envelope, "", "").error,
              "HTTPS is not available in this build");
    GTEST_SKIP() << "this build speaks HTTP only";
#endif
    korvane::sim::OnvifCameraOptions options;
    options.tls = true;
    korvane::sim::COnvifCamera camera(options);
    options.tlsExpired = true;
    korvane::sim::COnvifCamera expired(options);
    // As openssl prints it: upper case, with colons.
    std::string printed;
    for (std::size_t i = 0; i < camera.TlsFingerprint().size(); i += 2)
        printed += (i ? ":" : "") + camera.TlsFingerprint().substr(i, 2);
    for (char& c : printed) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    struct Case { const char* what; korvane::sim::COnvifCamera& at; std::string pin; const char* error; /* nullptr: opens */ };
    const Case cases[] = {
        {"pinned", camera, printed, nullptr},
        {"expired but pinned", expired, expired.TlsFingerprint(), nullptr},
        {"another pin", camera, expired.TlsFingerprint(), "is not the pinned one"},
        {"unknown", camera, "", "self-signed certificate); pin its SHA-256"},
        {"expired", expired, "", "certificate is not trusted here"},
        {"no fingerprint", camera, "12:34", "is no SHA-256 fingerprint"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CHttpSession session;
        EXPECT_EQ(session.SetTlsFingerprint(c.pin), std::string(c.what) != "no fingerprint");
        const HttpReply reply = session.PostSoap(c.at.Origin() + "/onvif/device_service", action, envelope, "", "");
        EXPECT_EQ(reply.status, c.error ? 0 : 200) << reply.error;
        if (c.error) EXPECT_NE(reply.error.find(c.error), std::string::npos) << reply.error;
        if (std::string(c.what) == "another pin")  // names what the camera showed
            EXPECT_NE(reply.error.find(camera.TlsFingerprint()), std::string::npos);
        korvane::CPTZService service;  // the whole way: services, profile, presets
        service.SetTlsFingerprint(c.pin);
        service.Init(("https://127.0.0.1:" + std::to_string(c.at.Port())).c_str(), 80, "admin", "secret");
        EXPECT_EQ(service.Open().value, c.error ? 0 : 1);
    }
    // A plain HTTP camera is no HTTPS camera: no answer is taken as one.
    korvane::sim::COnvifCamera http;
    EXPECT_EQ(plain.PostSoap("https://127.0.0.1:" + std::to_string(http.Port()) + "/", action, envelope, "", "").status, 0);
}

TEST(OnvifWire, ProbeMatchesAreReadByTheirProbe)
{
    using namespace korvane::discovery;
    const std::string id = NewMessageId();
    EXPECT_EQ(id.size(), 45u);
    EXPECT_NE(id, NewMessageId());
    const std::string own = korvane::sim::CProbeResponder::Answer(
        ProbeMessage(id), "urn:uuid:1", "http://10.0.0.5:8080/onvif/device_service http://[fe80::1]/x",
        "onvif://www.onvif.org/name/Room%20Cam%0A onvif://www.onvif.org/hardware/PTZ-9 onvif://www.onvif.org/type/ptz");
    const auto envelope = [&](const std::string& relatesTo, const std::string& matches) {
        return "<e:Envelope xmlns:e=\"x\" xmlns:w=\"y\" xmlns:d=\"z\"><e:Header><w:RelatesTo> " + relatesTo +
               " </w:RelatesTo></e:Header><e:Body><d:ProbeMatches>" + matches + "</d:ProbeMatches></e:Body></e:Envelope>";
    };
    const std::string https = "<d:ProbeMatch><d:Types>dn:NetworkVideoTransmitter</d:Types><d:XAddrs>"
                              "ftp://10.0.0.6/ https://[fd00::6]/onvif</d:XAddrs><d:Scopes>onvif://www.onvif.org/"
                              "Name/x</d:Scopes></d:ProbeMatch><d:ProbeMatch><d:XAddrs>ftp://only</d:XAddrs></d:ProbeMatch>"
                              "<d:ProbeMatch><d:XAddrs>http://10.0.0.7:0/ http://user@10.0.0.8/</d:XAddrs></d:ProbeMatch>";
    // Each match kept: the address taken, then what it says of itself (the name decoded, its line break dropped).
    struct Case { const char* what; std::string datagram; std::vector<std::string> found; };
    const Case cases[] = {
        {"the simulated camera's answer", own, {"http 10.0.0.5:8080 name=Room Cam hardware=PTZ-9 ptz=1 endpoint=urn:uuid:1 xaddrs=2"}},
        {"another probe's answer", korvane::sim::CProbeResponder::Answer(ProbeMessage("urn:uuid:2"), "e", "http://a/", ""), {}},
        {"a probe is no answer", ProbeMessage(id), {}},
        {"https, IPv6, unusable addresses", envelope(id, https), {"https fd00::6:443 name=x hardware= ptz=0 endpoint= xaddrs=2"}},
        {"not XML", "<e:Envelope", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> found;
        for (const FoundDevice& d : ParseProbeMatches(c.datagram, id))
            found.push_back(d.scheme + " " + d.host + ":" + std::to_string(d.port) + " name=" + d.name + " hardware=" + d.hardware +
                            " ptz=" + std::to_string(d.ptz) + " endpoint=" + d.endpoint + " xaddrs=" + std::to_string(d.xaddrs.size()));
        EXPECT_EQ(found, c.found);
    }
}

// What generic ONVIF clients ask when they connect, against the simulated
// camera over HTTP: each answer parses and carries the field clients read.
TEST(OnvifWire, TheSimulatedCameraAnswersWhatGenericClientsAsk)
{
    korvane::sim::COnvifCamera camera;
    COnvifConnection connection;
    const auto any = [](const char* name) { return std::string("/*[local-name()='") + name + "']"; };
    const auto service = [&](const char* ns) { return "." + any("Service") + "[" + any("Namespace").substr(1) + "='" + ns + "']"; };
    const std::string source = "<timg:VideoSourceToken>VideoSource_1</timg:VideoSourceToken>",
                      profile = "<trt:ProfileToken>Profile_1</trt:ProfileToken>",
                      capability = "<tds:IncludeCapability>true</tds:IncludeCapability>";
    struct Case {
        const char* prefix;  // tds device, trt media, timg imaging
        std::string operation, content;
        std::string xpath;     // from the answer's first element
        std::string expected;  // what the first match's text starts with
    };
    const Case cases[] = {
        {"tds", "GetServices", capability, service(kNsPtz) + any("Capabilities") + "/*/@MoveStatus", "true"},
        {"tds", "GetServices", capability, service(kNsImaging) + any("XAddr"), camera.Origin() + "/onvif/imaging_service"},
        {"tds", "GetCapabilities", "<tds:Category>All</tds:Category>", "." + any("Capabilities") + any("Imaging") + any("XAddr"),
         camera.Origin() + "/onvif/imaging_service"},
        {"trt", "GetVideoSources", "", "." + any("VideoSources") + "/@token", "VideoSource_1"},
        {"trt", "GetProfiles", "", "." + any("Profiles") + "[@token='Profile_1']" + any("VideoSourceConfiguration") + any("SourceToken"),
         "VideoSource_1"},
        {"trt", "GetStreamUri",
         "<trt:StreamSetup><tt:Stream>RTP-Unicast</tt:Stream><tt:Transport><tt:Protocol>RTSP</tt:Protocol></tt:Transport>"
         "</trt:StreamSetup>" + profile, "." + any("MediaUri") + any("Uri"), "rtsp://127.0.0.1:554/"},
        {"trt", "GetSnapshotUri", profile, "." + any("MediaUri") + any("Uri"), "http://127.0.0.1/"},
        {"timg", "GetImagingSettings", source, "." + any("ImagingSettings") + any("Focus") + any("AutoFocusMode"), "MANUAL"},
        {"timg", "GetMoveOptions", source, "." + any("MoveOptions") + any("Continuous") + any("Speed") + any("Max"), "1"},
        {"timg", "GetStatus", source, "." + any("Status") + any("FocusStatus20") + any("MoveStatus"), "IDLE"},
    };
    const std::map<std::string, std::pair<const char*, const char*>> services = {
        {"tds", {"device_service", kNsDevice}}, {"trt", {"media_service", kNsMedia}}, {"timg", {"imaging_service", kNsImaging}}};
    for (const Case& c : cases) {
        const std::string element = std::string(c.prefix) + ":" + c.operation;
        const std::string body = "<" + element + ">" + c.content + "</" + element + ">";
        SCOPED_TRACE(body);
        const auto& [path, ns] = services.at(c.prefix);
        const SoapReply reply = connection.Call(camera.Origin() + "/onvif/" + path, std::string(ns) + "/x", body, "admin", "secret");
        ASSERT_TRUE(reply.ok) << reply.error;
        const pugi::xpath_node found = reply.body.select_node(c.xpath.c_str());
        const std::string text = found.attribute() ? found.attribute().value() : found.node().child_value();
        EXPECT_EQ(text.substr(0, c.expected.size()), c.expected) << c.xpath;
    }
}
