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

// What of an axis's running glide has gone out, and when: the one fact that
// whoever posts the glides gives with each detent.
struct GlideDelivery {
    // The pixels of the axis's last plan posted so far; none when nothing of
    // it is still to go out.
    std::optional<std::int64_t> pixels;
    // Now on the glides' clock (ms), the clock their steps are posted on.
    double atMillis = 0;
};

// Turns one wheel detent into an outcome: pass it through, swallow it, or
// replace it by a glide of timed pixel steps. It owns the glides' time: a
// plan's start and its frames are on the clock of the delivery it is given
// (the input's time stamp without one), and the detents' own time stamps only
// measure quick streaks. Per axis it remembers the last plan, the time and
// direction of the last detent and the current streak. A detent while a
// glide is still going out supersedes it: the new glide goes on from the
// last frame of that glide that has gone out, its first step a frame later,
// carrying what had not gone out unless the detent turns back or changes the
// modifiers (then it ends the gesture and begins anew). So a wheel turned at
// any pace moves the page by a frame of a fresh glide at every frame.
//
// A plain value with one owner: no clock of its own, no threads, no locks.
class ScrollTransformer {
public:
    // Readable and replaceable at any time; replacing them keeps every axis's state.
    ScrollSettings settings;

    // Stores the settings as given (they are sanitized on every transform).
    explicit ScrollTransformer(const ScrollSettings& settings) : settings(settings) {}

    // Without a delivery, or without its pixels, what has gone out of the
    // axis's last plan is what is due by then. Allocates nothing.
    ScrollOutcome transform(const ScrollInput& input, std::optional<GlideDelivery> delivery = std::nullopt);

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
    // The streak a detent in `direction` makes after the axis's last one.
    static std::int64_t streakAfter(const std::optional<AxisState>& stored, const ScrollSettings& s,
                                    const ScrollInput& input, int direction);

    // One entry per axis, indexed by slot(): a fixed map that never allocates.
    std::array<std::optional<AxisState>, 2> axes_{};
    std::uint64_t nextPlanID_ = 1;
};

} // namespace ravolet
