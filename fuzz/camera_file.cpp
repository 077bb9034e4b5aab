// The korvane tool's camera file (cameras.json), as any text: either a
// UsageError that never quotes a password, or cameras with distinct names
// whose links are all ones the library can use.
#include "Check.h"
#include "LinkChecks.h"

#include "CameraFile.h"

#include <nlohmann/json.hpp>

#include <set>
#include <string>
#include <vector>

using namespace korvane::tool;

namespace {

// Every key and text value of the document, and the password values.
void Collect(const nlohmann::json& value, std::vector<std::string>& texts, std::vector<std::string>& passwords)
{
    if (value.is_string()) texts.push_back(value.get<std::string>());
    if (!value.is_structured()) return;
    for (const auto& item : value.items()) {
        if (value.is_object()) {
            texts.push_back(item.key());
            if (item.key() == "password" && item.value().is_string()) passwords.push_back(item.value().get<std::string>());
        }
        Collect(item.value(), texts, passwords);
    }
}

std::size_t Count(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// The message for the same file with that password written otherwise: the
// message's own wording may hold the password's letters by chance.
std::string MessageWithout(const std::string& text, const std::string& password)
{
    // Every copy: of a key given twice, the reader keeps the last.
    const std::string written = '"' + password + '"';
    const char filler = password.find('#') == std::string::npos ? '#' : '%';
    std::string other = text;
    std::size_t at = other.find(written);
    if (at == std::string::npos) return {};  // written with escapes: no other wording to compare
    for (; at != std::string::npos; at = other.find(written, at + written.size()))
        other.replace(at + 1, password.size(), std::string(password.size(), filler));
    try {
        ParseCameraFile(other, "cameras.json");
    } catch (const UsageError& error) {
        return error.what();
    }
    return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<NamedCamera> cameras;
    try {
        cameras = ParseCameraFile(text, "cameras.json");
    } catch (const UsageError& error) {
        const std::string message = error.what();
        FUZZ_REQUIRE(message.rfind("cameras.json: ", 0) == 0, "the message does not name the file: %s",
                     message.c_str());
        // A password that is no part of anything else in the file shows in
        // the message no more often than the message's own wording holds it.
        std::vector<std::string> texts, passwords;
        try {
            Collect(nlohmann::json::parse(text), texts, passwords);
        } catch (const nlohmann::json::exception&) {
            return 0;
        }
        for (const std::string& password : passwords) {
            if (password.size() < 4) continue;
            std::size_t holders = 0;
            for (const std::string& other : texts) holders += other.find(password) != std::string::npos;
            if (holders == 1)
                FUZZ_REQUIRE(Count(message, password) <= Count(MessageWithout(text, password), password),
                             "the message quotes a password: %s", message.c_str());
        }
        return 0;
    }
    std::set<std::string> names;
    for (const NamedCamera& camera : cameras) {
        FUZZ_REQUIRE(!camera.name.empty(), "a camera without a name");
        FUZZ_REQUIRE(names.insert(camera.name).second, "two cameras named '%s'", camera.name.c_str());
        korvane::fuzz::CheckAcceptedLink(camera.options);
    }
    return 0;
}
