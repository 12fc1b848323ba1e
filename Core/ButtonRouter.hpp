#pragma once

#include <cstdint>
#include <optional>
#include <ranges>
#include <set>
#include <utility>
#include <vector>

#include "Core/Action.hpp"
#include "Core/ButtonBinding.hpp"
#include "Core/ButtonEvent.hpp"
#include "Core/ButtonIntent.hpp"
#include "Core/ModifierFlags.hpp"

namespace ravolet {

// A closed range of button numbers.
struct ButtonRange {
    std::int64_t lowerBound = 0;
    std::int64_t upperBound = 0;

    constexpr bool contains(std::int64_t button) const { return button >= lowerBound && button <= upperBound; }
    constexpr auto values() const { return std::views::iota(lowerBound, upperBound + 1); }
};

// Turns each press and release of a mouse button into an ordered list of
// intents. It chooses the binding that applies, remembers every held button
// with the action it was pressed with, counts how many held buttons keep each
// key down, and keeps the stack of active DPI shifts.
//
// A plain value without a lock: its owner serialises every call. It performs
// nothing itself and never reads a clock. The held state lives in small flat
// lists reserved up front, so that a press or release allocates nothing but
// the list it returns, or nothing at all when the caller gives a list with
// room (and a copy of an action that owns text or steps).
class ButtonRouter {
public:
    // The buttons that the settings offer bindings for. The router itself
    // accepts every button number, 0 and 1 included.
    static constexpr ButtonRange bindableButtons{3, 15};

    // The profile's bindings in profile order; may be replaced at any time.
    std::vector<ButtonBinding> bindings;
    // The DPI in force when no DPI shift is held; may be replaced at any time.
    std::int64_t baseDPI = 0;

    // Nothing held, no key owners, no DPI shift.
    ButtonRouter(std::vector<ButtonBinding> bindings, std::int64_t baseDPI);

    // The press steps when event.isDown, else the release steps.
    std::vector<ButtonIntent> handle(const ButtonEvent& event);
    // The same steps, appended to `out`.
    void handle(const ButtonEvent& event, std::vector<ButtonIntent>& out);

    // The action that a press would choose now; passThrough when no binding applies.
    Action action(std::int64_t button, ModifierFlags modifiers) const;
    // The action the held button was pressed with, or nothing when it is not held.
    std::optional<Action> heldAction(std::int64_t button) const;
    std::set<std::int64_t> heldButtons() const;
    // The DPI of the most recently pressed DPI-shift button still held, else baseDPI.
    std::int64_t currentDPI() const;

    // The intents that undo everything held; the router is idle afterwards.
    std::vector<ButtonIntent> reset();

private:
    struct HeldState {
        Action action;
        double pressedAtMillis = 0;
        ModifierFlags modifiersAtPress;
    };
    struct HeldButton {
        std::int64_t button = 0;
        HeldState state;
    };
    // A key kept down by hold actions: the same code with other modifiers is another key.
    struct HeldKey {
        std::uint16_t code = 0;
        ModifierFlags modifiers;
        friend bool operator==(const HeldKey&, const HeldKey&) = default;
    };
    struct HeldKeyOwners {
        HeldKey key;
        std::int64_t count = 0;
    };
    struct DpiShift {
        std::int64_t button = 0;
        std::int64_t dpi = 0;
    };

    void press(const ButtonEvent& event, std::vector<ButtonIntent>& out);
    void release(std::int64_t button, std::vector<ButtonIntent>& out);
    // True when this press is the first owner of the key: send the key down.
    bool retainHeldKey(std::uint16_t code, ModifierFlags modifiers);
    // True when this release was the last owner of the key: send the key up.
    bool releaseHeldKey(std::uint16_t code, ModifierFlags modifiers);
    // Undoes what a held button keeps going (a held key, a repeat, a passed-through
    // press); DPI shifts are left to the caller.
    void appendUndo(std::int64_t button, const Action& action, std::vector<ButtonIntent>& out);

    const Action* chooseAction(std::int64_t button, ModifierFlags modifiers) const;
    std::vector<HeldButton>::iterator findHeld(std::int64_t button);
    std::vector<HeldButton>::const_iterator findHeld(std::int64_t button) const;
    std::vector<HeldKeyOwners>::iterator findOwners(const HeldKey& key);

    std::vector<HeldButton> held_;
    std::vector<HeldKeyOwners> heldKeyOwners_;
    // Oldest press first.
    std::vector<DpiShift> dpiShifts_;
};

} // namespace ravolet
