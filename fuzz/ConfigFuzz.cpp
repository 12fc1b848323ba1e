// Feeds arbitrary bytes to the settings document's loading path: the
// schema-version check, then the decoder.
//
// Checked on every input: no crash or sanitizer report, every failure has a
// text, and a document that decodes is whole: it encodes, the encoding
// decodes back equal, and encoding that again gives the same bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "Core/Config.hpp"
#include "Core/ConfigMigrator.hpp"

using namespace ravolet;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto migrated = ConfigMigrator::migrate(bytes);
    if (!migrated) {
        check(!describe(migrated.error()).empty());
        return 0;
    }
    const auto decoded = Config::decoded(*migrated);
    if (!decoded) {
        check(!describe(decoded.error()).empty());
        return 0;
    }
    (void)decoded->activeProfile("com.adobe.Photoshop");

    const auto encoded = decoded->encoded();
    check(encoded.has_value());
    const auto again = Config::decoded(*encoded);
    check(again.has_value() && *again == *decoded);
    const auto reencoded = again->encoded();
    check(reencoded.has_value() && *reencoded == *encoded);
    return 0;
}
