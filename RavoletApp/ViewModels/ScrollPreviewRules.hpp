#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "Core/ScrollPlan.hpp"
#include "Core/ScrollSettings.hpp"
#include "RavoletEngine/Coordination/EngineStatus.hpp"
#include "RavoletEngine/Coordination/PermissionState.hpp"

namespace ravolet {

// The rules of the Scroll page's preview, free of widgets: what one wheel
// click does with the edited settings, the sentence that says it, the chart
// that draws it, and whether the real wheel is being reshaped right now.

// The glide of one made-up click (one detent down the vertical axis, no
// modifier held, at time 0) on a fresh transformer over the settings; none
// when the transformer passes the click through or swallows it without a
// glide. Pure computation: the engine's own transformer is never touched.
std::optional<ScrollPlan> previewPlan(const ScrollSettings& settings);

// The sentence under the chart.
std::string previewCaption(const std::optional<ScrollPlan>& plan);

// The line under the test panel. The first case that holds wins: missing
// grants, then the user's pause, then no mouse, then the engine's counts.
struct LiveScrollStatus {
    enum class Level { good, waiting, bad, off };
    Level level = Level::off;
    std::string text;

    friend bool operator==(const LiveScrollStatus&, const LiveScrollStatus&) = default;
};

LiveScrollStatus liveScrollStatus(const PermissionState& permissions, bool pausedByUser, const EngineStatus& status);

// Where the chart draws, in the coordinates of an area of the given size: a
// baseline along the bottom of the plot (always), and the curve of travel
// over time, from the bottom left, rising to the top as the click's pixels
// are delivered. The curve is empty when there is nothing to draw (no plan,
// no time, no travel, or no steps).
struct ChartPoint {
    double x = 0;
    double y = 0;
    friend bool operator==(const ChartPoint&, const ChartPoint&) = default;
};

struct GlideChartGeometry {
    static constexpr double inset = 8;

    ChartPoint baselineStart;
    ChartPoint baselineEnd;
    std::vector<ChartPoint> curve;

    friend bool operator==(const GlideChartGeometry&, const GlideChartGeometry&) = default;
};

GlideChartGeometry glideChartGeometry(const ScrollPlan* plan, double width, double height);
// The same for steps of any making, over that duration and total.
GlideChartGeometry glideChartGeometry(double durationMillis, std::int64_t totalPixelDelta,
                                      std::span<const ScrollStep> steps, double width, double height);

} // namespace ravolet
