#pragma once

#include <cstdint>

namespace ravolet::platform {

// Turns the target mouse's wheel reports into the detents the engine scrolls
// by. Under the generic HID driver each wheel report is one tick, which the
// kernel passes on as a whole REL_WHEEL with REL_WHEEL_HI_RES 120, whatever
// mode the wheel is in. With the wheel in high-resolution mode a detent is
// `ticksPerDetent` ticks (the multiplier the mouse reports over HID++), so
// ticks are counted up to a whole detent; in the standard mode a tick is a
// detent. A turn the other way drops a part-detent counted so far, as a
// notched wheel would.
//
// Not thread-safe: one per axis of a node, used on the tap's thread.
class WheelTickDecoder {
public:
    // The frame's REL_*_HI_RES (120 to a tick; the kernel adds it to every
    // REL_WHEEL); the whole detents now completed, signed, 0 while a detent
    // is still under way.
    std::int32_t add(std::int32_t hiRes);

    // 1 for the standard mode; values below 1 count as 1. A change drops what
    // was counted under the old value.
    void setTicksPerDetent(int ticks);
    int ticksPerDetent() const { return ticksPerDetent_; }
    void reset() { counted_ = 0; }

    static constexpr std::int32_t unitsPerTick = 120;

private:
    int ticksPerDetent_ = 1;
    std::int64_t counted_ = 0; // in hi-res units of the kernel, 120 to a tick
};

} // namespace ravolet::platform
