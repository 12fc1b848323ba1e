#include "Platform/Linux/Input/VirtualDevices.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string_view>

#include "Platform/HostKeyCodes.hpp"
#include "Platform/Linux/Input/EvdevValue.hpp"

namespace ravolet::platform {

static_assert(std::string_view(VirtualDevices::pointerPhys).starts_with(UinputDevice::physPrefix));

namespace {

namespace E = EventTypes;
namespace F = EventFields;
namespace B = EventFlagBits;

constexpr std::array<VirtualDevices::ModifierKey, 9> modifiers{{
    {KEY_LEFTCTRL, B::control, B::deviceLeftControl},
    {KEY_LEFTALT, B::alternate, B::deviceLeftAlternate},
    {KEY_LEFTSHIFT, B::shift, B::deviceLeftShift},
    {KEY_LEFTMETA, B::command, B::deviceLeftCommand},
    {KEY_FN, B::secondaryFn, 0},
    {KEY_RIGHTCTRL, B::control, B::deviceRightControl},
    {KEY_RIGHTALT, B::alternate, B::deviceRightAlternate},
    {KEY_RIGHTSHIFT, B::shift, B::deviceRightShift},
    {KEY_RIGHTMETA, B::command, B::deviceRightCommand},
}};
// The first four rows are pressed for a key whose flags need their modifier.
constexpr std::size_t pressedForFlags = 4;

const VirtualDevices::ModifierKey* modifierKey(std::uint16_t evdevCode) {
    for (const auto& key : modifiers)
        if (key.evdevCode == evdevCode) return &key;
    return nullptr;
}

bool isMotion(EventType type) {
    return type == E::mouseMoved || type == E::leftMouseDragged || type == E::rightMouseDragged ||
           type == E::otherMouseDragged;
}

// A line delta and its fine value, 120 to a line: the fixed-point field when
// it is set, else the whole lines.
void addLines(InputFrame& frame, std::uint16_t lowCode, std::uint16_t highCode, std::int64_t lines, double fine) {
    const double hiRes = fine != 0 && std::isfinite(fine) ? std::round(fine * 120) : static_cast<double>(lines) * 120;
    if (lines != 0) frame.add(EV_REL, lowCode, toInt32(lines));
    if (hiRes != 0) frame.add(EV_REL, highCode, toInt32(static_cast<std::int64_t>(std::clamp(hiRes, -2.0e9, 2.0e9))));
}

} // namespace

UinputDevice::Description VirtualDevices::pointerDescription(const PointerIdentity& identity) {
    UinputDevice::Description d;
    d.name = identity.name;
    d.phys = VirtualDevices::pointerPhys;
    d.bus = identity.bus;
    d.vendor = identity.vendor;
    d.product = identity.product;
    for (std::int64_t n = 0; n < VirtualDevices::buttonCount; ++n) d.keys.push_back(static_cast<std::uint16_t>(BTN_LEFT + n));
    d.relative = {REL_X, REL_Y, REL_WHEEL, REL_HWHEEL, REL_WHEEL_HI_RES, REL_HWHEEL_HI_RES};
    return d;
}

UinputDevice::Description VirtualDevices::keyboardDescription() {
    UinputDevice::Description d;
    d.name = VirtualDevices::keyboardName;
    d.phys = std::string(UinputDevice::physPrefix) + "virtual-keyboard";
    d.product = UinputDevice::keyboardProductID;
    std::bitset<KEY_CNT> keys;
    for (const HostKeyCodePair& pair : hostKeyCodePairs()) keys.set(pair.evdevCode);
    for (const auto& key : modifiers) keys.set(key.evdevCode);
    for (std::size_t code = 0; code < keys.size(); ++code)
        if (keys.test(code)) d.keys.push_back(static_cast<std::uint16_t>(code));
    return d;
}

std::span<const VirtualDevices::ModifierKey> VirtualDevices::modifierKeys() { return modifiers; }

std::optional<VirtualDevices::ButtonChange> VirtualDevices::buttonChange(const Event& event) {
    switch (event.type()) {
    case E::leftMouseDown:
    case E::leftMouseUp:
        return ButtonChange{0, event.type() == E::leftMouseDown};
    case E::rightMouseDown:
    case E::rightMouseUp:
        return ButtonChange{1, event.type() == E::rightMouseDown};
    case E::otherMouseDown:
    case E::otherMouseUp: {
        const auto number = event.integerValueField(F::mouseEventButtonNumber);
        if (number < 0 || number >= buttonCount) return std::nullopt;
        return ButtonChange{number, event.type() == E::otherMouseDown};
    }
    default:
        return std::nullopt;
    }
}

std::expected<std::unique_ptr<VirtualDevices>, std::string> VirtualDevices::make(const Options& options) {
    auto pointer = UinputDevice::make(options.roots, pointerDescription(options.pointer));
    if (!pointer) return std::unexpected(pointer.error());
    auto keyboard = UinputDevice::make(options.roots, keyboardDescription());
    if (!keyboard) return std::unexpected(keyboard.error());
    return std::unique_ptr<VirtualDevices>(
        new VirtualDevices(std::move(*pointer), std::move(*keyboard), options.pixelsPerDetent));
}

VirtualDevices::VirtualDevices(std::unique_ptr<UinputDevice> pointer, std::unique_ptr<UinputDevice> keyboard,
                               std::int64_t pixelsPerDetent)
    : pointer_(std::move(pointer)), keyboard_(std::move(keyboard)), vertical_(pixelsPerDetent),
      horizontal_(pixelsPerDetent) {}

bool VirtualDevices::addPointerValues(const Event& event, InputFrame& frame, std::uint64_t nowNanos) {
    const EventType type = event.type();
    if (const auto change = buttonChange(event)) {
        frame.add(EV_KEY, static_cast<std::uint16_t>(BTN_LEFT + change->button), change->down ? 1 : 0);
        return true;
    }
    if (isMotion(type)) {
        const auto dx = event.integerValueField(F::mouseEventDeltaX);
        const auto dy = event.integerValueField(F::mouseEventDeltaY);
        if (dx != 0) frame.add(EV_REL, REL_X, toInt32(dx));
        if (dy != 0) frame.add(EV_REL, REL_Y, toInt32(dy));
        return true;
    }
    if (type != E::scrollWheel) return false;
    if (event.integerValueField(F::scrollWheelEventIsContinuous) == 0) {
        addLines(frame, REL_WHEEL, REL_WHEEL_HI_RES, event.integerValueField(F::scrollWheelEventDeltaAxis1),
                 event.doubleValueField(F::scrollWheelEventFixedPtDeltaAxis1));
        addLines(frame, REL_HWHEEL, REL_HWHEEL_HI_RES, event.integerValueField(F::scrollWheelEventDeltaAxis2),
                 event.doubleValueField(F::scrollWheelEventFixedPtDeltaAxis2));
        return true;
    }
    // A pixel step: on the axis it moves, with the rest of its glide.
    const auto vertical = event.integerValueField(F::scrollWheelEventPointDeltaAxis1);
    const auto horizontal = event.integerValueField(F::scrollWheelEventPointDeltaAxis2);
    const auto remaining = event.integerValueField(F::ravoletGlideRemainingPixels);
    std::lock_guard guard(lock_);
    if (vertical != 0) {
        const auto out = vertical_.encode(vertical, horizontal == 0 ? remaining : 0, nowNanos);
        if (out.lines != 0) frame.add(EV_REL, REL_WHEEL, out.lines);
        if (out.hiRes != 0) frame.add(EV_REL, REL_WHEEL_HI_RES, out.hiRes);
    }
    if (horizontal != 0) {
        const auto out = horizontal_.encode(horizontal, vertical == 0 ? remaining : 0, nowNanos);
        if (out.lines != 0) frame.add(EV_REL, REL_HWHEEL, out.lines);
        if (out.hiRes != 0) frame.add(EV_REL, REL_HWHEEL_HI_RES, out.hiRes);
    }
    return true;
}

void VirtualDevices::post(const Event& event, EventFlags alreadyDown, std::uint64_t nowNanos) {
    switch (event.type()) {
    case E::keyDown:
    case E::keyUp:
        postKey(event, alreadyDown);
        return;
    case E::flagsChanged:
        postModifierChange(event);
        return;
    default: {
        InputFrame frame;
        if (addPointerValues(event, frame, nowNanos)) sendPointer(frame);
        return;
    }
    }
}

void VirtualDevices::sendKeyLocked(std::uint16_t code, bool down) {
    if (code >= heldKeys_.size()) return;
    heldKeys_.set(code, down);
    const InputValue value{EV_KEY, code, down ? 1 : 0};
    keyboard_->send(std::span<const InputValue>(&value, 1));
}

void VirtualDevices::postKey(const Event& event, EventFlags alreadyDown) {
    const auto host = event.integerValueField(F::keyboardEventKeycode);
    if (host < 0 || host > 0xFFFF) return;
    const auto code = evdevKeyCode(static_cast<std::uint16_t>(host));
    if (!code) return;
    const bool down = event.type() == E::keyDown;
    std::lock_guard guard(lock_);
    // The modifiers the key needs that nobody holds go down just around it.
    EventFlags held = alreadyDown;
    for (const auto& key : modifiers)
        if (heldKeys_.test(key.evdevCode)) held |= key.genericFlag;
    std::array<std::uint16_t, pressedForFlags> pressed{};
    std::size_t count = 0;
    for (std::size_t i = 0; i < pressedForFlags; ++i) {
        const auto& key = modifiers[i];
        if ((event.flags() & key.genericFlag) == 0 || (held & key.genericFlag) != 0 || *code == key.evdevCode) continue;
        sendKeyLocked(key.evdevCode, true);
        pressed[count++] = key.evdevCode;
    }
    sendKeyLocked(*code, down);
    while (count > 0) sendKeyLocked(pressed[--count], false);
}

void VirtualDevices::postModifierChange(const Event& event) {
    const auto host = event.integerValueField(F::keyboardEventKeycode);
    if (host < 0 || host > 0xFFFF) return;
    const auto code = evdevKeyCode(static_cast<std::uint16_t>(host));
    if (!code) return;
    const ModifierKey* key = modifierKey(*code);
    if (!key) return;
    // The flags after the change say whether the key is now down: its own
    // device bit, or for the function key (which has none) its generic flag.
    const EventFlags bit = key->deviceFlag != 0 ? key->deviceFlag : key->genericFlag;
    std::lock_guard guard(lock_);
    sendKeyLocked(*code, (event.flags() & bit) != 0);
}

std::uint32_t VirtualDevices::holdsKeys(std::span<const std::uint16_t> evdevCodes) const {
    std::lock_guard guard(lock_);
    std::uint32_t held = 0;
    for (std::size_t n = 0; n < evdevCodes.size() && n < 32; ++n)
        if (evdevCodes[n] < heldKeys_.size() && heldKeys_.test(evdevCodes[n])) held |= std::uint32_t{1} << n;
    return held;
}

std::uint32_t VirtualDevices::heldModifierKeys() const {
    static constexpr auto codes = [] {
        std::array<std::uint16_t, modifiers.size()> codes{};
        for (std::size_t i = 0; i < modifiers.size(); ++i) codes[i] = modifiers[i].evdevCode;
        return codes;
    }();
    return holdsKeys(codes);
}

} // namespace ravolet::platform
