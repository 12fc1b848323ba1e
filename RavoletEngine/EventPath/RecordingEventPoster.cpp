#include "RavoletEngine/EventPath/RecordingEventPoster.hpp"

#include <fmt/format.h>

namespace ravolet {

std::string RecordingEventPoster::Emission::description() const {
    if (const auto* s = std::get_if<Scroll>(&value))
        return fmt::format("scroll({} {}px {} mods={})", toString(s->axis), s->pixelDelta, toString(s->phase),
                           s->modifiers.rawValue);
    if (const auto* k = std::get_if<Key>(&value))
        return fmt::format("key({} {} mods={})", k->code, k->isDown ? "down" : "up", k->modifiers.rawValue);
    const auto& m = std::get<MouseButton>(value);
    return fmt::format("mouseButton({} {})", m.number, m.isDown ? "down" : "up");
}

RecordingEventPoster::RecordingEventPoster(std::shared_ptr<EventPosting> forwardingTo)
    : forwarding_(std::move(forwardingTo)) {}

std::vector<RecordingEventPoster::Emission> RecordingEventPoster::emissions() const {
    std::lock_guard guard(lock_);
    return emissions_;
}

void RecordingEventPoster::reset() {
    std::lock_guard guard(lock_);
    emissions_.clear();
}

void RecordingEventPoster::postScrollStep(ScrollAxis axis, std::int64_t pixelDelta, ScrollPhase phase,
                                          ModifierFlags modifiers, std::int64_t glideRemainingPixels) {
    {
        std::lock_guard guard(lock_);
        emissions_.push_back(Emission::scroll(axis, pixelDelta, phase, modifiers));
    }
    if (forwarding_) forwarding_->postScrollStep(axis, pixelDelta, phase, modifiers, glideRemainingPixels);
}

// Keys and mouse buttons are recorded only: a recording stands in for the
// live poster where keys must not reach the system.
void RecordingEventPoster::postKey(std::uint16_t code, bool isDown, ModifierFlags modifiers) {
    std::lock_guard guard(lock_);
    emissions_.push_back(Emission::key(code, isDown, modifiers));
}

void RecordingEventPoster::postMouseButton(std::int64_t number, bool isDown) {
    std::lock_guard guard(lock_);
    emissions_.push_back(Emission::mouseButton(number, isDown));
}

} // namespace ravolet
