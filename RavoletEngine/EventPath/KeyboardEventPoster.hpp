#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "Core/ModifierFlags.hpp"
#include "Platform/EventSystem.hpp"

namespace ravolet {

// Posts key strokes with the modifier keys they need: it presses (with
// flags-changed events) exactly the modifier keys that the keys it holds
// require, releases them when no held key needs them any more, and never
// presses or releases a modifier key the user physically holds.
// Safe to call from any thread; every post is serialised under its lock so
// that the modifier events and the key events come out in order.
class KeyboardEventPoster {
public:
    struct ModifierKey {
        std::uint16_t keyCode;
        platform::EventFlags genericFlag;
        platform::EventFlags deviceFlag;
    };
    // Left control, left option, left shift, left command, function, right
    // control, right option, right shift, right command (virtual key codes).
    static constexpr std::array<ModifierKey, 9> modifierKeys{{
        {59, 0x40000, 0x1},
        {58, 0x80000, 0x20},
        {56, 0x20000, 0x2},
        {55, 0x100000, 0x8},
        {63, 0x800000, 0x0},
        {62, 0x40000, 0x2000},
        {61, 0x80000, 0x40},
        {60, 0x20000, 0x4},
        {54, 0x100000, 0x10},
    }};

    explicit KeyboardEventPoster(std::shared_ptr<platform::EventSystem> system);

    void post(std::uint16_t code, bool isDown, ModifierFlags modifiers, platform::EventTapLocation location);

    // For inspection: the keys held with the modifiers given at their down,
    // the modifier keys regarded as down, and those the poster pressed itself.
    std::map<std::uint16_t, ModifierFlags> heldKeys() const;
    std::set<std::uint16_t> heldModifiers() const;
    std::set<std::uint16_t> synthesizedModifiers() const;

private:
    // Sets of modifier keys, as bits over the rows of modifierKeys.
    using KeySet = std::uint16_t;

    KeySet desiredKeys() const;
    void synchronize(KeySet physical, platform::EventFlags capsLock, platform::EventTapLocation location);
    void postModifierChange(std::size_t row, bool down, KeySet physical, platform::EventFlags capsLock,
                            platform::EventTapLocation location);
    static std::set<std::uint16_t> codes(KeySet keys);

    const std::shared_ptr<platform::EventSystem> system_;
    mutable std::mutex lock_;
    std::shared_ptr<platform::EventSource> source_;
    // The keys held, by code: a flat list with room reserved, so that a key
    // stroke allocates nothing.
    struct HeldKey {
        std::uint16_t code;
        ModifierFlags modifiers;
    };
    std::vector<HeldKey> heldKeys_;
    HeldKey* findHeldLocked(std::uint16_t code);
    void holdLocked(std::uint16_t code, ModifierFlags modifiers);
    void releaseLocked(std::uint16_t code);
    KeySet heldModifiers_ = 0;
    KeySet synthesizedModifiers_ = 0;
};

} // namespace ravolet
