// The korvane tool's command line, as words split at zero bytes: either a
// UsageError, or options with the non-option words kept in order, whose link,
// once the tool's check accepts it, is one the library can use. Nothing else may escape.
#include "Check.h"

#include "CommandLine.h"
#include "LinkChecks.h"

#include <string>
#include <vector>

using namespace korvane::tool;

namespace {

bool IsOptionWord(const std::string& word) { return word.rfind("--", 0) == 0 && word != "--"; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> args(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) args.emplace_back();
        else args.back() += static_cast<char>(data[i]);
    }
    if (size == 0) args.clear();

    CameraOptions options;
    try {
        options = ParseCommandLine(args);
    } catch (const UsageError& error) {
        FUZZ_REQUIRE(*error.what() != '\0', "a usage error without a message");
        return 0;
    }
    // Any other exception escapes and ends the run as a crash.

    FUZZ_REQUIRE(!options.linkGiven || !options.target.empty(), "a link without a target");
    if (options.duration)
        FUZZ_REQUIRE(options.duration->count() >= 0 && options.duration->count() <= 24 * 3600 * 1000LL,
                     "duration %lld ms", static_cast<long long>(options.duration->count()));
    // As the tool goes on with a link from the command line: checked, then used.
    if (options.camera.empty() && !options.help && options.linkGiven) {
        bool valid = true;
        try {
            ValidateLink(options);
        } catch (const UsageError& error) {
            FUZZ_REQUIRE(*error.what() != '\0', "a usage error without a message");
            valid = false;
        }
        if (valid) korvane::fuzz::CheckAcceptedLink(options);
        // No move goes out at speed 0 on an axis it moves.
        if (valid && !options.words.empty()) {
            const std::string& verb = options.words[0];
            const bool move = verb == "up" || verb == "down" || verb == "left" || verb == "right" ||
                              verb == "up-left" || verb == "up-right" || verb == "down-left" || verb == "down-right";
            const bool pans = verb.find("left") != std::string::npos || verb.find("right") != std::string::npos;
            const bool tilts = verb.rfind("up", 0) == 0 || verb.rfind("down", 0) == 0;
            FUZZ_REQUIRE(!move || ((!pans || options.panSpeed > 0) && (!tilts || options.tiltSpeed > 0)),
                         "'%s' accepted at pan speed %d, tilt speed %d", verb.c_str(), options.panSpeed,
                         options.tiltSpeed);
        }
    }

    // Words that are no options come through in order; option values never do.
    std::vector<std::string> plain;
    for (const std::string& word : args)
        if (!IsOptionWord(word) && word != "-h") plain.push_back(word);
    FUZZ_REQUIRE(options.words.size() <= plain.size(), "%zu words from %zu plain ones", options.words.size(),
                 plain.size());
    std::size_t at = 0;
    for (const std::string& word : options.words) {
        while (at < plain.size() && plain[at] != word) ++at;
        FUZZ_REQUIRE(at < plain.size(), "word '%s' is not in the command line, or out of order", word.c_str());
        ++at;
    }
    return 0;
}
