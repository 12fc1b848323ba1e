#pragma once

#include <optional>
#include <ostream>
#include <string_view>

namespace ravolet {

// Why the system switched the event tap off.
enum class TapDisableReason { timeout, userInput };

constexpr std::string_view toString(TapDisableReason r) { return r == TapDisableReason::timeout ? "timeout" : "userInput"; }

// Exactly "timeout" or "userInput"; any other text gives no value.
constexpr std::optional<TapDisableReason> tapDisableReasonFromString(std::string_view raw) {
    if (raw == "timeout") return TapDisableReason::timeout;
    if (raw == "userInput") return TapDisableReason::userInput;
    return std::nullopt;
}

inline std::ostream& operator<<(std::ostream& os, TapDisableReason r) { return os << toString(r); }

} // namespace ravolet
