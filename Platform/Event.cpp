#include "Platform/Event.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace ravolet::platform {

namespace {

// A double read as an integer: truncated toward zero, saturated at the ends of
// the range, 0 for NaN.
std::int64_t integerFrom(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 9223372036854775807.0) return std::numeric_limits<std::int64_t>::max();
    if (value <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(value);
}

} // namespace

std::span<Event::Field> Event::fields() {
    if (!spilledFields_.empty()) return spilledFields_;
    return {inlineFields_.data(), inlineCount_};
}

Event::Field* Event::find(EventField field) {
    const auto list = fields();
    const auto it = std::ranges::lower_bound(list, field, {}, &Field::number);
    return it != list.end() && it->number == field ? &*it : nullptr;
}

const Event::Field* Event::find(EventField field) const { return const_cast<Event*>(this)->find(field); }

Event::Field& Event::slot(EventField field) {
    // Kept sorted by number, so that equality does not depend on the order of writes.
    const auto list = fields();
    const auto it = std::ranges::lower_bound(list, field, {}, &Field::number);
    if (it != list.end() && it->number == field) return *it;
    const auto at = static_cast<std::size_t>(it - list.begin());
    if (spilledFields_.empty() && inlineCount_ < inlineFieldCount) {
        std::move_backward(inlineFields_.begin() + at, inlineFields_.begin() + inlineCount_,
                           inlineFields_.begin() + inlineCount_ + 1);
        ++inlineCount_;
        return inlineFields_[at] = Field{field, false, 0};
    }
    if (spilledFields_.empty()) spilledFields_.assign(inlineFields_.begin(), inlineFields_.end());
    return *spilledFields_.insert(spilledFields_.begin() + static_cast<std::ptrdiff_t>(at), Field{field, false, 0});
}

std::int64_t Event::integerValueField(EventField field) const {
    const Field* f = find(field);
    if (!f) return 0;
    return f->isDouble ? integerFrom(std::bit_cast<double>(f->bits)) : f->bits;
}

void Event::setIntegerValueField(EventField field, std::int64_t value) {
    Field& f = slot(field);
    f.isDouble = false;
    f.bits = value;
}

double Event::doubleValueField(EventField field) const {
    const Field* f = find(field);
    if (!f) return 0;
    return f->isDouble ? std::bit_cast<double>(f->bits) : static_cast<double>(f->bits);
}

void Event::setDoubleValueField(EventField field, double value) {
    Field& f = slot(field);
    f.isDouble = true;
    f.bits = std::bit_cast<std::int64_t>(value);
}

bool operator==(const Event& a, const Event& b) {
    return a.type_ == b.type_ && a.flags_ == b.flags_ && a.location_ == b.location_ && a.timestamp_ == b.timestamp_ &&
           a.hidSenderID_ == b.hidSenderID_ && std::ranges::equal(a.fields(), b.fields());
}

std::ostream& operator<<(std::ostream& os, const Event& event) {
    os << "Event(type " << event.type_ << ", flags 0x" << std::hex << event.flags_ << std::dec << ", at "
       << event.location_ << ", t " << event.timestamp_ << "ns";
    for (const auto& f : event.fields()) {
        os << ", [" << f.number << "] ";
        if (f.isDouble)
            os << std::bit_cast<double>(f.bits);
        else
            os << f.bits;
    }
    return os << ')';
}

Event makeSourcedEvent(const EventSource* source, EventType type, std::uint64_t timestamp, Point location) {
    Event event(type);
    event.setTimestamp(timestamp);
    event.setLocation(location);
    if (source) event.setIntegerValueField(EventFields::eventSourceUserData, source->userData());
    return event;
}

void setScrollWheels(Event& event, ScrollEventUnit units, std::uint32_t wheelCount, std::int32_t wheel1,
                     std::int32_t wheel2, std::int32_t wheel3) {
    const std::int32_t wheels[3] = {wheel1, wheelCount >= 2 ? wheel2 : 0, wheelCount >= 3 ? wheel3 : 0};
    const bool pixels = units == ScrollEventUnit::pixel;
    for (int i = 0; i < 3; ++i) {
        const auto n = static_cast<EventField>(i);
        if (pixels)
            event.setIntegerValueField(EventFields::scrollWheelEventPointDeltaAxis1 + n, wheels[i]);
        else
            event.setIntegerValueField(EventFields::scrollWheelEventDeltaAxis1 + n, wheels[i]);
        event.setDoubleValueField(EventFields::scrollWheelEventFixedPtDeltaAxis1 + n, wheels[i]);
    }
    event.setIntegerValueField(EventFields::scrollWheelEventIsContinuous, pixels ? 1 : 0);
}

} // namespace ravolet::platform
