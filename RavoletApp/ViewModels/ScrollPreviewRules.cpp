#include "RavoletApp/ViewModels/ScrollPreviewRules.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "Core/ScrollTransformer.hpp"
#include "Core/Clamp.hpp"

namespace ravolet {

std::optional<ScrollPlan> previewPlan(const ScrollSettings& settings) {
    ScrollTransformer transformer(settings);
    const ScrollInput click{.lineDelta = 1,
                            .axis = ScrollAxis::vertical,
                            .modifiers = ModifierFlags::none,
                            .timestampMillis = 0,
                            .deviceID = DeviceID::unknown};
    ScrollOutcome outcome = transformer.transform(click, std::nullopt);
    if (auto* animate = std::get_if<ScrollOutcome::Animate>(&outcome.value)) return std::move(animate->plan);
    return std::nullopt;
}

std::string previewCaption(const std::optional<ScrollPlan>& plan) {
    if (!plan)
        return "Smooth scrolling is off for this profile, so a wheel click is passed to your desktop exactly as your "
               "mouse sent it.";
    // The magnitude as unsigned, so that even the most negative total has one.
    const std::uint64_t total = plan->totalPixelDelta < 0 ? 0 - static_cast<std::uint64_t>(plan->totalPixelDelta)
                                                          : static_cast<std::uint64_t>(plan->totalPixelDelta);
    return fmt::format("One wheel click travels {} points over {} ms, in {} steps. The line above is that movement "
                       "— flat means still, steep means fast.",
                       total, truncatedInteger(plan->durationMillis), plan->steps.size());
}

LiveScrollStatus liveScrollStatus(const PermissionState& permissions, bool pausedByUser, const EngineStatus& status) {
    using Level = LiveScrollStatus::Level;
    if (!permissions.accessibility || !permissions.inputMonitoring)
        return {Level::bad,
                "Ravolet is not allowed to touch your input yet, so the panel above scrolls the way your desktop "
                "does. "
                "Finish the permission setup and it will change under your hand."};
    if (pausedByUser) return {Level::off, "Ravolet is paused, so this scrolls the way your desktop does."};
    if (!status.targetDeviceAttached)
        return {Level::waiting,
                "Your Logitech mouse is not plugged in. Ravolet only reshapes scrolling from a mouse it recognises, "
                "so this panel is untouched."};
    return {Level::good, fmt::format("Live — Ravolet has reshaped {} wheel clicks into {} smooth steps.",
                                     status.scroll.inputsTransformed, status.scroll.stepsPosted)};
}

GlideChartGeometry glideChartGeometry(const ScrollPlan* plan, double width, double height) {
    if (plan == nullptr) return glideChartGeometry(0, 0, {}, width, height);
    const std::vector<ScrollStep> steps = plan->steps.all();
    return glideChartGeometry(plan->durationMillis, plan->totalPixelDelta, steps, width, height);
}

GlideChartGeometry glideChartGeometry(double durationMillis, std::int64_t totalPixelDelta,
                                      std::span<const ScrollStep> steps, double width, double height) {
    constexpr double inset = GlideChartGeometry::inset;
    // A plot too small to hold anything still gets one point of extent, so
    // the curve keeps its shape, squashed, instead of turning around.
    const double plotWidth = std::max(width - 2 * inset, 1.0);
    const double plotHeight = std::max(height - 2 * inset, 1.0);
    const double bottom = height - inset;

    GlideChartGeometry geometry{.baselineStart = {inset, bottom}, .baselineEnd = {width - inset, bottom}, .curve = {}};
    if (!(durationMillis > 0) || totalPixelDelta == 0 || steps.empty()) return geometry;

    // Sign and direction play no part: the chart shows the share of the travel
    // delivered against the share of the time gone.
    const double total = std::abs(static_cast<double>(totalPixelDelta));
    double delivered = 0;
    geometry.curve.reserve(steps.size() + 1);
    geometry.curve.push_back({inset, bottom});
    for (const ScrollStep& step : steps) {
        delivered += std::abs(static_cast<double>(step.pixelDelta));
        geometry.curve.push_back({inset + plotWidth * std::min(step.offsetMillis / durationMillis, 1.0),
                                  bottom - plotHeight * std::min(delivered / total, 1.0)});
    }
    return geometry;
}

} // namespace ravolet
