#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <expected>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include <linux/input.h>

#include "Platform/Event.hpp"
#include "Platform/Linux/Input/GlideWheelEncoder.hpp"
#include "Platform/Linux/Input/UinputDevice.hpp"
#include "Platform/Linux/Kernel/Sysfs.hpp"

namespace ravolet::platform {

// The values of one frame, gathered before it goes out in one write. Holds
// up to UinputDevice::maxFrameValues values without allocating; more are
// dropped.
class InputFrame {
public:
    void add(std::uint16_t type, std::uint16_t code, std::int32_t value) {
        if (size_ < values_.size()) values_[size_++] = InputValue{type, code, value};
    }
    void clear() { size_ = 0; }
    bool empty() const { return size_ == 0; }
    std::span<const InputValue> values() const { return {values_.data(), size_}; }

private:
    std::array<InputValue, UinputDevice::maxFrameValues> values_{};
    std::size_t size_ = 0;
};

// Ravolet's two virtual devices and what goes out on them: the virtual
// pointer (relative X and Y, the wheels with their hi-res codes, sixteen
// mouse buttons) and "Ravolet virtual keyboard" (the keys of the host
// key-code table). Everything Ravolet emits, passed on from the mouse or
// posted by its pipelines, leaves through them; neither is ever read or
// grabbed by Ravolet, so nothing of ours comes back in.
//
// The pointer takes the mouse's identity: its name ("Logitech G502 X"), USB
// bus, vendor and product. Desktops keep a mouse's own settings (left-handed
// buttons, natural scrolling, scroll speed, acceleration) by exactly these,
// so what the user set for the mouse applies unchanged to the device the
// desktop now reads the mouse's motion from, including settings Ravolet knows
// nothing of. It stays recognisably ours by where the kernel puts it
// (/sys/devices/virtual/input/) and by its physical path ("ravolet/…"), and
// everything of ours that looks for the mouse leaves such devices out.
//
// Events are turned into input values here:
// - buttons (left 0, right 1, middle 2, back 3, forward 4, further ones
//   upward) become BTN_LEFT and on;
// - motion becomes REL_X and REL_Y from its whole-pixel deltas;
// - a wheel event with line deltas becomes REL_WHEEL / REL_HWHEEL with
//   their fine values (REL_*_HI_RES, 120 to a line);
// - a pixel step of a glide goes through the axis's GlideWheelEncoder;
// - key events and modifier changes press keys on the keyboard.
//
// Safe to use from any thread: each device's frames go out whole, and the
// glide encoders and the keyboard's state are guarded by a lock.
class VirtualDevices {
public:
    // Who the pointer says it is.
    struct PointerIdentity {
        std::string name = "Logitech G502 X";
        std::uint16_t bus = BUS_USB;
        std::uint16_t vendor = 0x046D;
        std::uint16_t product = 0xC099;
    };

    struct Options {
        KernelRoots roots;
        // The default scroll distance: one detent's glide at it sums to 120 units.
        std::int64_t pixelsPerDetent = 50;
        PointerIdentity pointer;
    };

    static constexpr const char* keyboardName = "Ravolet virtual keyboard";
    // The pointer's physical path.
    static constexpr const char* pointerPhys = "ravolet/virtual-pointer";
    // Mouse buttons the pointer has: BTN_LEFT (button 0) to BTN_LEFT + 15.
    static constexpr std::int64_t buttonCount = 16;

    // Makes both devices; the error says why not.
    static std::expected<std::unique_ptr<VirtualDevices>, std::string> make(const Options& options);
    // What each device is made with: its identity and the keys and axes it
    // can send, which decide the kernel's handlers that see its events.
    static UinputDevice::Description pointerDescription(const PointerIdentity& identity);
    static UinputDevice::Description keyboardDescription();

    // The pointer values `event` stands for, added to `frame`: true when it
    // is a pointer event (a button, motion, a wheel event). nowNanos times a
    // glide's steps.
    bool addPointerValues(const Event& event, InputFrame& frame, std::uint64_t nowNanos);
    bool sendPointer(const InputFrame& frame) { return pointer_->send(frame.values()); }

    // An event Ravolet posts: pointer events go out on the pointer, key
    // events and modifier changes on the keyboard. A key event's modifiers
    // that are neither held here nor in `alreadyDown` (the generic flags of
    // the modifiers the desktop has down) are pressed around it.
    void post(const Event& event, EventFlags alreadyDown, std::uint64_t nowNanos);

    // Which of up to 32 keys (evdev codes) the keyboard holds, in one look:
    // bit n for evdevCodes[n]; and which modifier keys it holds: bit n for
    // row n of modifierKeys().
    std::uint32_t holdsKeys(std::span<const std::uint16_t> evdevCodes) const;
    std::uint32_t heldModifierKeys() const;

    const UinputDevice& pointer() const { return *pointer_; }
    const UinputDevice& keyboard() const { return *keyboard_; }

    // A mouse button going down or up, as an event says (left 0, right 1,
    // the others by their button-number field); none for other events and
    // for buttons the pointer does not have.
    struct ButtonChange {
        std::int64_t button = 0;
        bool down = false;
    };
    static std::optional<ButtonChange> buttonChange(const Event& event);

    // The modifier keys: their evdev code, generic flag and device flag.
    struct ModifierKey {
        std::uint16_t evdevCode;
        EventFlags genericFlag;
        EventFlags deviceFlag;
    };
    static std::span<const ModifierKey> modifierKeys();

private:
    VirtualDevices(std::unique_ptr<UinputDevice> pointer, std::unique_ptr<UinputDevice> keyboard,
                   std::int64_t pixelsPerDetent);
    void postKey(const Event& event, EventFlags alreadyDown);
    void postModifierChange(const Event& event);
    // Presses or releases a key, tracking it; under the lock.
    void sendKeyLocked(std::uint16_t code, bool down);

    std::unique_ptr<UinputDevice> pointer_;
    std::unique_ptr<UinputDevice> keyboard_;

    mutable std::mutex lock_;
    GlideWheelEncoder vertical_;
    GlideWheelEncoder horizontal_;
    std::bitset<KEY_CNT> heldKeys_;
};

} // namespace ravolet::platform
