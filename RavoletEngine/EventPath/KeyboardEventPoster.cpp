#include "RavoletEngine/EventPath/KeyboardEventPoster.hpp"

#include <algorithm>
#include <optional>

#include "RavoletEngine/EventPath/EventFlagMapping.hpp"
#include "RavoletEngine/EventPath/RavoletEventTag.hpp"

namespace ravolet {

namespace {

using KeySet = std::uint16_t;

std::optional<std::size_t> rowOf(std::uint16_t code) {
    for (std::size_t i = 0; i < KeyboardEventPoster::modifierKeys.size(); ++i)
        if (KeyboardEventPoster::modifierKeys[i].keyCode == code) return i;
    return std::nullopt;
}

constexpr KeySet bit(std::size_t row) { return static_cast<KeySet>(1u << row); }

// Both flags of every key of the set.
platform::EventFlags flagsOf(KeySet keys) {
    platform::EventFlags flags = 0;
    for (std::size_t i = 0; i < KeyboardEventPoster::modifierKeys.size(); ++i)
        if (keys & bit(i)) flags |= KeyboardEventPoster::modifierKeys[i].genericFlag | KeyboardEventPoster::modifierKeys[i].deviceFlag;
    return flags;
}

// The first five rows: the keys pressed for modifiers (the left-hand keys and fn).
constexpr std::size_t modifierSourceRows = 5;

// Room for more keys than a hand holds at once.
constexpr std::size_t reservedHeldKeys = 16;

} // namespace

KeyboardEventPoster::KeyboardEventPoster(std::shared_ptr<platform::EventSystem> system) : system_(std::move(system)) {
    heldKeys_.reserve(reservedHeldKeys);
}

std::map<std::uint16_t, ModifierFlags> KeyboardEventPoster::heldKeys() const {
    std::lock_guard guard(lock_);
    std::map<std::uint16_t, ModifierFlags> keys;
    for (const auto& [code, modifiers] : heldKeys_) keys.emplace(code, modifiers);
    return keys;
}

KeyboardEventPoster::HeldKey* KeyboardEventPoster::findHeldLocked(std::uint16_t code) {
    const auto it = std::ranges::lower_bound(heldKeys_, code, {}, &HeldKey::code);
    return it != heldKeys_.end() && it->code == code ? &*it : nullptr;
}

void KeyboardEventPoster::holdLocked(std::uint16_t code, ModifierFlags modifiers) {
    const auto it = std::ranges::lower_bound(heldKeys_, code, {}, &HeldKey::code);
    if (it != heldKeys_.end() && it->code == code)
        it->modifiers = modifiers;
    else
        heldKeys_.insert(it, HeldKey{code, modifiers});
}

void KeyboardEventPoster::releaseLocked(std::uint16_t code) {
    if (HeldKey* held = findHeldLocked(code)) heldKeys_.erase(heldKeys_.begin() + (held - heldKeys_.data()));
}

std::set<std::uint16_t> KeyboardEventPoster::heldModifiers() const {
    std::lock_guard guard(lock_);
    return codes(heldModifiers_);
}

std::set<std::uint16_t> KeyboardEventPoster::synthesizedModifiers() const {
    std::lock_guard guard(lock_);
    return codes(synthesizedModifiers_);
}

std::set<std::uint16_t> KeyboardEventPoster::codes(KeySet keys) {
    std::set<std::uint16_t> result;
    for (std::size_t i = 0; i < modifierKeys.size(); ++i)
        if (keys & bit(i)) result.insert(modifierKeys[i].keyCode);
    return result;
}

KeyboardEventPoster::KeySet KeyboardEventPoster::desiredKeys() const {
    KeySet desired = 0;
    for (const auto& [code, modifiers] : heldKeys_) {
        const auto row = rowOf(code);
        if (row) desired |= bit(*row);
        const auto flags = eventFlags(modifiers);
        for (std::size_t i = 0; i < modifierSourceRows; ++i) {
            const auto generic = modifierKeys[i].genericFlag;
            if (!(flags & generic)) continue;
            // A held right shift with shift in its modifiers does not also press left shift.
            if (row && modifierKeys[*row].genericFlag == generic) continue;
            desired |= bit(i);
        }
    }
    return desired;
}

void KeyboardEventPoster::postModifierChange(std::size_t row, bool down, KeySet physical, platform::EventFlags capsLock,
                                             platform::EventTapLocation location) {
    auto event = system_->createKeyboardEvent(source_.get(), modifierKeys[row].keyCode, down);
    if (!event) return;
    event->setType(platform::EventTypes::flagsChanged);
    event->setFlags(flagsOf(heldModifiers_ | physical) | capsLock);
    tagAsRavoletEmitted(*event);
    system_->post(location, *event);
}

void KeyboardEventPoster::synchronize(KeySet physical, platform::EventFlags capsLock,
                                      platform::EventTapLocation location) {
    const KeySet desired = desiredKeys();
    for (std::size_t i = modifierKeys.size(); i-- > 0;) {
        if (!(heldModifiers_ & bit(i)) || (desired & bit(i))) continue;
        heldModifiers_ &= static_cast<KeySet>(~bit(i));
        synthesizedModifiers_ &= static_cast<KeySet>(~bit(i));
        if (physical & bit(i)) continue;
        postModifierChange(i, false, physical, capsLock, location);
    }
    for (std::size_t i = 0; i < modifierKeys.size(); ++i) {
        if (!(desired & bit(i)) || (heldModifiers_ & bit(i))) continue;
        heldModifiers_ |= bit(i);
        if (physical & bit(i)) continue;
        synthesizedModifiers_ |= bit(i);
        postModifierChange(i, true, physical, capsLock, location);
    }
}

void KeyboardEventPoster::post(std::uint16_t code, bool isDown, ModifierFlags modifiers,
                               platform::EventTapLocation location) {
    std::lock_guard guard(lock_);
    if (!source_) source_ = RavoletEventTag::makeSource(*system_);
    if (!source_) return;

    // One look at the user's modifier keys, in the order of the rows.
    static constexpr auto modifierCodes = [] {
        std::array<std::uint16_t, modifierKeys.size()> codes{};
        for (std::size_t i = 0; i < modifierKeys.size(); ++i) codes[i] = modifierKeys[i].keyCode;
        return codes;
    }();
    auto physical = static_cast<KeySet>(system_->keysState(platform::EventSourceStateID::hidSystemState, modifierCodes));
    // What is posted at the HID tap point shows up in the HID state: the keys
    // the poster pressed are not the user's.
    if (location == platform::EventTapLocation::hid) physical &= static_cast<KeySet>(~synthesizedModifiers_);
    const platform::EventFlags capsLock =
        system_->flagsState(platform::EventSourceStateID::hidSystemState) & platform::EventFlagBits::alphaShift;

    if (rowOf(code)) {
        if (isDown)
            holdLocked(code, modifiers);
        else
            releaseLocked(code);
        synchronize(physical, capsLock, location);
        return;
    }
    if (isDown) {
        holdLocked(code, modifiers);
        synchronize(physical, capsLock, location);
    }

    const HeldKey* held = findHeldLocked(code);
    const ModifierFlags effective = held ? held->modifiers : modifiers;
    if (auto event = system_->createKeyboardEvent(source_.get(), code, isDown)) {
        const platform::EventFlags caps =
            effective.contains(ModifierFlags::capsLock) ? platform::EventFlagBits::alphaShift : capsLock;
        event->setFlags(caps | flagsOf(heldModifiers_ | physical));
        tagAsRavoletEmitted(*event);
        system_->post(location, *event);
    }

    if (!isDown) {
        releaseLocked(code);
        synchronize(physical, capsLock, location);
    }
}

} // namespace ravolet
