#include "onvif/Soap.h"

#include <cstring>

namespace korvane::onvif {

std::string XmlEscape(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string Envelope(const std::string& header, const std::string& body)
{
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><s:Envelope xmlns:s=\"";
    out += kNsSoap;
    out += "\" xmlns:tds=\"";
    out += kNsDevice;
    out += "\" xmlns:trt=\"";
    out += kNsMedia;
    out += "\" xmlns:tptz=\"";
    out += kNsPtz;
    out += "\" xmlns:tt=\"";
    out += kNsSchema;
    if (body.find("<tr2:") != std::string::npos) {
        out += "\" xmlns:tr2=\"";
        out += kNsMedia2;
    }
    if (body.find("<timg:") != std::string::npos) {
        out += "\" xmlns:timg=\"";
        out += kNsImaging;
    }
    out += "\">";
    if (!header.empty()) out += "<s:Header>" + header + "</s:Header>";
    out += "<s:Body>" + body + "</s:Body></s:Envelope>";
    return out;
}

const char* LocalName(pugi::xml_node node)
{
    const char* name = node.name();
    const char* colon = std::strrchr(name, ':');
    return colon ? colon + 1 : name;
}

pugi::xml_node Child(pugi::xml_node parent, const char* localName)
{
    for (pugi::xml_node child : parent.children())
        if (child.type() == pugi::node_element && std::strcmp(LocalName(child), localName) == 0) return child;
    return {};
}

pugi::xml_node Descendant(pugi::xml_node parent, const char* localName)
{
    return parent.find_node([localName](pugi::xml_node node) {
        return node.type() == pugi::node_element && std::strcmp(LocalName(node), localName) == 0;
    });
}

SoapReply ParseSoapReply(long httpStatus, const std::string& text, const std::string& transportError)
{
    SoapReply reply;
    if (!transportError.empty()) {
        reply.error = transportError;
        return reply;
    }
    reply.document = std::make_shared<pugi::xml_document>();
    const pugi::xml_parse_result parsed = reply.document->load_buffer(text.data(), text.size());
    const pugi::xml_node envelope = reply.document->document_element();
    const pugi::xml_node body = Child(Child(reply.document->root(), "Envelope"), "Body");
    if (!parsed || !envelope || !body) {
        reply.error = "HTTP " + std::to_string(httpStatus) + (text.empty() ? ": empty answer" : ": not a SOAP answer");
        return reply;
    }
    if (const pugi::xml_node fault = Child(body, "Fault")) {
        const pugi::xml_node reason = Descendant(fault, "Text");
        const pugi::xml_node subcode = Descendant(Child(fault, "Code"), "Subcode");
        reply.subcode = Child(subcode, "Value").child_value();
        reply.error = std::string("SOAP fault: ") + (reason ? reason.child_value() : "") +
                      (subcode ? std::string(" (") + Child(subcode, "Value").child_value() + ")" : "");
        return reply;
    }
    if (httpStatus != 200) {
        reply.error = "HTTP " + std::to_string(httpStatus);
        return reply;
    }
    for (pugi::xml_node child : body.children()) {
        if (child.type() == pugi::node_element) {
            reply.body = child;
            break;
        }
    }
    reply.ok = true;
    return reply;
}

}  // namespace korvane::onvif
