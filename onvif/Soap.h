// SOAP 1.2 envelopes for ONVIF requests, and reading the answers. Cameras
// choose their own namespace prefixes, so answers are read by local names.
#pragma once

#include <pugixml.hpp>

#include <memory>
#include <string>

namespace korvane::onvif {

constexpr const char* kNsSoap = "http://www.w3.org/2003/05/soap-envelope";
constexpr const char* kNsDevice = "http://www.onvif.org/ver10/device/wsdl";
constexpr const char* kNsMedia = "http://www.onvif.org/ver10/media/wsdl";
constexpr const char* kNsMedia2 = "http://www.onvif.org/ver20/media/wsdl";
constexpr const char* kNsPtz = "http://www.onvif.org/ver20/ptz/wsdl";
constexpr const char* kNsImaging = "http://www.onvif.org/ver20/imaging/wsdl";
constexpr const char* kNsSchema = "http://www.onvif.org/ver10/schema";
constexpr const char* kNsWsse =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-secext-1.0.xsd";
constexpr const char* kNsWsu =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-utility-1.0.xsd";
constexpr const char* kPasswordDigestType =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-username-token-profile-1.0#PasswordDigest";
constexpr const char* kBase64EncodingType =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-soap-message-security-1.0#Base64Binary";

std::string XmlEscape(const std::string& text);

// The envelope: header (may be empty) and the body's one element, which
// declares the prefixes it uses (tds, trt, tptz, tt are declared on the
// envelope; tr2, the newer media service, is declared only when the body
// uses it, so that the envelopes of every other request stay as they were).
std::string Envelope(const std::string& header, const std::string& body);

// A parsed answer. ok when HTTP said 200 and the body is a SOAP envelope
// without a fault; otherwise error says what went wrong.
struct SoapReply {
    bool ok = false;
    std::string error;
    std::string subcode;  // a fault's Subcode value as written: "ter:NotAuthorized"
    std::shared_ptr<pugi::xml_document> document;
    pugi::xml_node body;  // the first element inside Body
};
SoapReply ParseSoapReply(long httpStatus, const std::string& text, const std::string& transportError);

// The first child (or descendant) element with the local name, any prefix.
pugi::xml_node Child(pugi::xml_node parent, const char* localName);
pugi::xml_node Descendant(pugi::xml_node parent, const char* localName);
const char* LocalName(pugi::xml_node node);

}  // namespace korvane::onvif
