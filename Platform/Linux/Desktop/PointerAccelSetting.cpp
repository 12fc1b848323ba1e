#include "Platform/Linux/Desktop/PointerAccelSetting.hpp"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

namespace ravolet::platform {

namespace {

constexpr std::int64_t speedScale = std::int64_t{1} << 40;
// Folded speeds (below) fill [0, 2^41]; each profile's band starts past that.
constexpr std::int64_t foldedLimit = (std::int64_t{1} << 41) + 1;
constexpr std::int64_t customBase = std::int64_t{1} << 42;
constexpr std::int64_t desktopDefaultCode = std::int64_t{1} << 43;
constexpr std::int64_t xServerBase = std::int64_t{1} << 44;
constexpr std::int64_t xServerLimit = xServerBase + (std::int64_t{1} << 31);

// A signed count of speed steps folded onto 0, 1, 2, …: 0, -1, 1, -2, 2, …
// so that speed 0 stays 0 and the sign needs no room of its own.
std::int64_t fold(std::int64_t steps) { return steps >= 0 ? 2 * steps : -2 * steps - 1; }
std::int64_t unfold(std::int64_t folded) { return folded % 2 == 0 ? folded / 2 : -(folded + 1) / 2; }

std::int64_t foldedSpeed(std::optional<double> speed) {
    const double value = speed && std::isfinite(*speed) ? std::clamp(*speed, -1.0, 1.0) : 0.0;
    return fold(std::llround(value * static_cast<double>(speedScale)));
}

double speedOf(std::int64_t folded) { return static_cast<double>(unfold(folded)) / static_cast<double>(speedScale); }

} // namespace

std::int64_t PointerAccelSetting::code() const {
    switch (profile) {
    case Profile::flat:
        return offCode - foldedSpeed(speed);
    case Profile::adaptive:
        return foldedSpeed(speed);
    case Profile::custom:
        return customBase + foldedSpeed(speed);
    case Profile::desktopDefault:
        return desktopDefaultCode;
    case Profile::xServer:
        return xServerBase + std::max(xServerProfile, 0);
    }
    return desktopDefaultCode;
}

std::optional<PointerAccelSetting> PointerAccelSetting::fromCode(std::int64_t code) {
    if (code < 0) {
        const std::int64_t folded = offCode - code;
        if (folded < 0 || folded > foldedLimit - 1) return std::nullopt;
        return flat(speedOf(folded));
    }
    if (code < foldedLimit) return adaptive(speedOf(code));
    if (code >= customBase && code < customBase + foldedLimit)
        return PointerAccelSetting{Profile::custom, speedOf(code - customBase), 0};
    if (code == desktopDefaultCode) return PointerAccelSetting{Profile::desktopDefault, std::nullopt, 0};
    if (code >= xServerBase && code < xServerLimit)
        return PointerAccelSetting{Profile::xServer, std::nullopt, static_cast<std::int32_t>(code - xServerBase)};
    return std::nullopt;
}

std::string PointerAccelSetting::description() const {
    const auto withSpeed = [&](const char* name) {
        return fmt::format("{}, speed {:.2f}", name, speed.value_or(0.0) == 0 ? 0.0 : *speed);
    };
    switch (profile) {
    case Profile::flat:
        return withSpeed("flat");
    case Profile::adaptive:
        return withSpeed("adaptive");
    case Profile::custom:
        return withSpeed("custom");
    case Profile::desktopDefault:
        return "the desktop's default";
    case Profile::xServer:
        return xServerProfile < 0 ? "none" : fmt::format("X server profile {}", xServerProfile);
    }
    return {};
}

} // namespace ravolet::platform
