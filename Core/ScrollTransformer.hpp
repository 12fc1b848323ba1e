#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "Core/ScrollAxis.hpp"
#include "Core/ScrollInput.hpp"
#include "Core/ScrollOutcome.hpp"
#include "Core/ScrollPlan.hpp"
#include "Core/ScrollSettings.hpp"

namespace ravolet {

// Turns one wheel detent into an outcome: pass it through, swallow it, or
// replace it by a glide of timed pixel steps. Per axis it remembers the last
// plan, the time and direction of the last detent and the current quick streak,
// so that a detent during a running glide folds the rest of that glide into the
// new one and continues, or ends and restarts, the scroll gesture. A detent
// less than a frame after the last one goes on with the running glide's time,
// on its frames, so that a wheel spun fast moves the page at its own pace.
//
// A plain value with one owner: no clock (time comes with each input), no
// threads, no locks.
class ScrollTransformer {
public:
    // Readable and replaceable at any time; replacing them keeps every axis's state.
    ScrollSettings settings;

    // Stores the settings as given (they are sanitized on every transform).
    explicit ScrollTransformer(const ScrollSettings& settings) : settings(settings) {}

    // `deliveredPixelsOfPreviousPlan` is how many pixels of the axis's stored
    // plan the caller has really posted; without it they are worked out from
    // the input's timestamp. Allocates nothing.
    ScrollOutcome transform(const ScrollInput& input,
                            std::optional<std::int64_t> deliveredPixelsOfPreviousPlan = std::nullopt);

    // The plan last made on `axis`, even when its end has passed, or null.
    // Valid until the next transform or reset.
    const ScrollPlan* inFlightPlan(ScrollAxis axis) const;

    // Forgets every axis's state; plan ids go on counting.
    void reset();

    // The pixels of `plan` due by `timeMillis`, whatever the glide's length.
    static std::int64_t deliveredPixels(const ScrollPlan& plan, double timeMillis);

private:
    struct AxisState {
        std::optional<ScrollPlan> plan;
        std::optional<double> lastDetentMillis;
        // +1 or -1, the sign of the last detent before inversion; 0 for none.
        int lastDirection = 0;
        // Earlier detents in the current quick streak.
        std::int64_t streak = 0;
    };

    static std::size_t slot(ScrollAxis axis) { return axis == ScrollAxis::vertical ? 0 : 1; }

    // One entry per axis, indexed by slot(): a fixed map that never allocates.
    std::array<std::optional<AxisState>, 2> axes_{};
    std::uint64_t nextPlanID_ = 1;
};

} // namespace ravolet
