// The korvane tool's command line, as words split at zero bytes: either a
// UsageError, or options within their documented bounds with the non-option
// words kept in order. Nothing else may escape.
#include "Check.h"

#include "CommandLine.h"

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

    FUZZ_REQUIRE(options.address <= 255, "address %u", options.address);
    FUZZ_REQUIRE(options.panSpeed >= 0 && options.panSpeed <= 63 && options.tiltSpeed >= 0 && options.tiltSpeed <= 63,
                 "speeds %d %d", options.panSpeed, options.tiltSpeed);
    FUZZ_REQUIRE(options.dataBits >= 5 && options.dataBits <= 8, "%u data bits", options.dataBits);
    FUZZ_REQUIRE(options.baud <= 4000000, "baud %u", options.baud);
    FUZZ_REQUIRE(!options.port || *options.port <= 65535, "port %u", *options.port);
    if (options.duration)
        FUZZ_REQUIRE(options.duration->count() >= 0 && options.duration->count() <= 24 * 3600 * 1000LL,
                     "duration %lld ms", static_cast<long long>(options.duration->count()));
    FUZZ_REQUIRE(!options.linkGiven || !options.target.empty(), "a link without a target");
    FUZZ_REQUIRE(options.protocol == PROTOCOL_PELCO_D || options.protocol == PROTOCOL_PELCO_P ||
                     options.protocol == PROTOCOL_VISCA,
                 "protocol %d", static_cast<int>(options.protocol));

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
    const std::string described = options.Describe();
    FUZZ_REQUIRE(!described.empty(), "no description");
    return 0;
}
