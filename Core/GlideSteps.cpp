#include "Core/GlideSteps.hpp"

#include "Support/ValueSupport.hpp"

namespace ravolet {

GlideSteps::GlideSteps(const GlideCurve& curve, bool continuesGesture, std::optional<ModifierFlags> endsPreviousGesture)
    : curve_(curve), continuesGesture_(continuesGesture), endsPreviousGesture_(endsPreviousGesture) {}

std::optional<ScrollStep> GlideSteps::next(Position& at) const {
    using Stage = Position::Stage;
    if (!curve_) return std::nullopt;
    switch (at.stage) {
    case Stage::ending:
        at.stage = Stage::timed;
        if (endsPreviousGesture_)
            return ScrollStep{.offsetMillis = 0,
                              .pixelDelta = 0,
                              .isContinuous = true,
                              .phase = ScrollPhase::ended,
                              .modifiers = endsPreviousGesture_};
        [[fallthrough]];
    case Stage::timed: {
        const std::int64_t before = at.walk.count;
        if (const auto change = curve_->next(at.walk)) {
            const bool begins = !at.madeTimedStep && !continuesGesture_;
            at.madeTimedStep = true;
            return ScrollStep{.offsetMillis = curve_->offsetOf(change->frame),
                              .pixelDelta = change->cumulative - before,
                              .isContinuous = true,
                              .phase = begins ? ScrollPhase::began : ScrollPhase::changed};
        }
        at.stage = Stage::closing;
        [[fallthrough]];
    }
    case Stage::closing:
        at.stage = Stage::done;
        return ScrollStep{
            .offsetMillis = curve_->duration(), .pixelDelta = 0, .isContinuous = true, .phase = ScrollPhase::ended};
    case Stage::done: break;
    }
    return std::nullopt;
}

double GlideSteps::lastFrameOut(double offsetMillis, std::int64_t deliveredPixels) const {
    if (!curve_) return 0;
    // The frames whose pixels have gone out form a prefix (the count only
    // grows toward the total), so only the last one due needs a look.
    const std::size_t due = curve_->frameBy(offsetMillis);
    const std::size_t k = due > 0 && !curve_->reached(due, deliveredPixels) ? due - 1 : due;
    return k == 0 ? 0 : curve_->offsetOf(k);
}

std::int64_t GlideSteps::count(Position& at, std::int64_t limit) const {
    std::int64_t counted = 0;
    while (counted < limit && next(at)) ++counted;
    return counted;
}

std::size_t GlideSteps::size() const {
    Position at;
    std::size_t steps = 0;
    while (next(at)) ++steps;
    return steps;
}

std::vector<ScrollStep> GlideSteps::all() const {
    std::vector<ScrollStep> steps;
    for (const ScrollStep& step : *this) steps.push_back(step);
    return steps;
}

std::size_t GlideSteps::hash() const {
    return hashFields(curve_ ? curve_->hash() : 0, continuesGesture_, endsPreviousGesture_);
}

} // namespace ravolet
