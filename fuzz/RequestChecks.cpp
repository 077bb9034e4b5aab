#include "RequestChecks.h"

#include "Check.h"

#include <openssl/evp.h>
#include <openssl/sha.h>
#include <pugixml.hpp>

#include <cstring>
#include <vector>

namespace korvane::fuzz {

namespace {

// As a camera's parser reads it: text made of white space is text too.
constexpr unsigned kParse = pugi::parse_default | pugi::parse_ws_pcdata;

const char* Local(pugi::xml_node node)
{
    const char* colon = std::strrchr(node.name(), ':');
    return colon ? colon + 1 : node.name();
}

pugi::xml_node OnlyElement(pugi::xml_node parent, const char* localName)
{
    pugi::xml_node found;
    for (pugi::xml_node child : parent.children()) {
        if (child.type() != pugi::node_element) continue;
        FUZZ_REQUIRE(!found, "<%s> holds more than one element", parent.name());
        found = child;
    }
    FUZZ_REQUIRE(found && std::strcmp(Local(found), localName) == 0, "<%s> lacks <%s>", parent.name(), localName);
    return found;
}

std::string EncodeBase64(const unsigned char* bytes, std::size_t length)
{
    std::string text(4 * ((length + 2) / 3) + 1, '\0');
    const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes, static_cast<int>(length));
    text.resize(static_cast<std::size_t>(written));
    return text;
}

std::vector<unsigned char> DecodeBase64(const std::string& text)
{
    FUZZ_REQUIRE(text.size() % 4 == 0 && !text.empty(), "nonce '%s' is no base64", text.c_str());
    std::vector<unsigned char> bytes(text.size() / 4 * 3);
    const int written = EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                        static_cast<int>(text.size()));
    FUZZ_REQUIRE(written >= 0, "nonce '%s' is no base64", text.c_str());
    std::size_t padding = 0;
    for (auto it = text.rbegin(); it != text.rend() && *it == '='; ++it) ++padding;
    bytes.resize(static_cast<std::size_t>(written) - padding);
    return bytes;
}

}  // namespace

bool XmlCarries(const std::string& text)
{
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') return false;
    return true;
}

bool IsUtcText(const std::string& text)
{
    static const char kPattern[] = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != sizeof kPattern - 1) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (kPattern[i] == 'd' ? !(text[i] >= '0' && text[i] <= '9') : text[i] != kPattern[i]) return false;
    }
    return true;
}

namespace {

std::string CheckToken(pugi::xml_node security, const std::string& user, const std::string& password)
{
    FUZZ_REQUIRE(std::strcmp(Local(security), "Security") == 0, "header holds <%s>", security.name());
    const pugi::xml_node token = OnlyElement(security, "UsernameToken");
    std::string name, digest, nonce, created;
    for (pugi::xml_node field : token.children()) {
        if (field.type() != pugi::node_element) continue;
        const std::string local = Local(field);
        if (local == "Username") name = field.child_value();
        else if (local == "Password") digest = field.child_value();
        else if (local == "Nonce") nonce = field.child_value();
        else if (local == "Created") created = field.child_value();
    }
    if (XmlCarries(user)) FUZZ_REQUIRE(name == user, "user '%s' arrives as '%s'", user.c_str(), name.c_str());
    FUZZ_REQUIRE(IsUtcText(created), "Created '%s' is no UTC time", created.c_str());
    const std::vector<unsigned char> nonceBytes = DecodeBase64(nonce);
    FUZZ_REQUIRE(nonceBytes.size() == 16, "nonce of %zu bytes", nonceBytes.size());

    std::vector<unsigned char> input(nonceBytes);
    input.insert(input.end(), created.begin(), created.end());
    input.insert(input.end(), password.begin(), password.end());
    unsigned char sha[SHA_DIGEST_LENGTH];
    SHA1(input.data(), input.size(), sha);
    FUZZ_REQUIRE(digest == EncodeBase64(sha, sizeof sha), "digest '%s' is not the password's", digest.c_str());
    return created;
}

}  // namespace

std::string CheckSecurityHeader(const std::string& header, const std::string& user, const std::string& password)
{
    pugi::xml_document document;
    const std::string wrapped = "<s:Header xmlns:s=\"x\">" + header + "</s:Header>";
    const pugi::xml_parse_result parsed = document.load_buffer(wrapped.data(), wrapped.size(), kParse);
    FUZZ_REQUIRE(parsed, "security header is not well-formed XML: %s", parsed.description());
    return CheckToken(OnlyElement(document.document_element(), "Security"), user, password);
}

std::string CheckRequest(const std::string& action, const std::string& envelope, const std::string& user,
                         const std::string& password)
{
    pugi::xml_document document;
    const pugi::xml_parse_result parsed = document.load_buffer(envelope.data(), envelope.size(), kParse);
    FUZZ_REQUIRE(parsed, "request %s is not well-formed XML: %s\n%s", action.c_str(), parsed.description(),
                 envelope.c_str());
    const pugi::xml_node root = document.document_element();
    FUZZ_REQUIRE(std::strcmp(Local(root), "Envelope") == 0, "request is a <%s>", root.name());

    pugi::xml_node header, body;
    for (pugi::xml_node child : root.children()) {
        if (child.type() != pugi::node_element) continue;
        if (std::strcmp(Local(child), "Header") == 0 && !header && !body) header = child;
        else if (std::strcmp(Local(child), "Body") == 0 && !body) body = child;
        else FUZZ_REQUIRE(false, "envelope holds <%s> out of place", child.name());
    }
    FUZZ_REQUIRE(body, "request without a body");
    const std::string operation = action.substr(action.rfind('/') + 1);
    OnlyElement(body, operation.c_str());

    if (user.empty()) {
        FUZZ_REQUIRE(!header, "a request without a user carries a header");
        return {};
    }
    FUZZ_REQUIRE(header, "a request of user '%s' carries no token", user.c_str());
    return CheckToken(OnlyElement(header, "Security"), user, password);
}

}  // namespace korvane::fuzz
