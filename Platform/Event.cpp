#include "Platform/Event.hpp"

#include <algorithm>
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

Event::Field* Event::find(EventField field) {
    const auto it = std::lower_bound(fields_.begin(), fields_.end(), field,
                                     [](const Field& f, EventField n) { return f.number < n; });
    return it != fields_.end() && it->number == field ? &*it : nullptr;
}

const Event::Field* Event::find(EventField field) const { return const_cast<Event*>(this)->find(field); }

Event::Field& Event::slot(EventField field) {
    // Kept sorted by number, so that equality does not depend on the order of writes.
    const auto it = std::lower_bound(fields_.begin(), fields_.end(), field,
                                     [](const Field& f, EventField n) { return f.number < n; });
    if (it != fields_.end() && it->number == field) return *it;
    return *fields_.insert(it, Field{field, false, 0, 0});
}

std::int64_t Event::integerValueField(EventField field) const {
    const Field* f = find(field);
    if (!f) return 0;
    return f->isDouble ? integerFrom(f->real) : f->integer;
}

void Event::setIntegerValueField(EventField field, std::int64_t value) {
    Field& f = slot(field);
    f.isDouble = false;
    f.integer = value;
    f.real = 0;
}

double Event::doubleValueField(EventField field) const {
    const Field* f = find(field);
    if (!f) return 0;
    return f->isDouble ? f->real : static_cast<double>(f->integer);
}

void Event::setDoubleValueField(EventField field, double value) {
    Field& f = slot(field);
    f.isDouble = true;
    f.real = value;
    f.integer = 0;
}

bool operator==(const Event& a, const Event& b) {
    return a.type_ == b.type_ && a.flags_ == b.flags_ && a.location_ == b.location_ && a.timestamp_ == b.timestamp_ &&
           a.hidSenderID_ == b.hidSenderID_ && a.fields_ == b.fields_;
}

std::ostream& operator<<(std::ostream& os, const Event& event) {
    os << "Event(type " << event.type_ << ", flags 0x" << std::hex << event.flags_ << std::dec << ", at "
       << event.location_ << ", t " << event.timestamp_ << "ns";
    for (const auto& f : event.fields_) {
        os << ", [" << f.number << "] ";
        if (f.isDouble)
            os << f.real;
        else
            os << f.integer;
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
