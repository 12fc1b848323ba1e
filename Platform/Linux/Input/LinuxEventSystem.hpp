#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Platform/EventSystem.hpp"
#include "Platform/Linux/Input/DesktopKeyboard.hpp"
#include "Platform/Linux/Input/EvdevTap.hpp"
#include "Platform/Linux/Input/VirtualDevices.hpp"
#include "Platform/Linux/Kernel/Sysfs.hpp"
#include "Platform/SessionWatcher.hpp"

namespace ravolet::platform {

// The event system on Linux: taps are the target mouse's evdev nodes,
// grabbed and read on the tap's run loop (EvdevTap); whatever goes on, and
// everything posted, leaves through Ravolet's two uinput devices
// (VirtualDevices), which are made once, when the system is made, and again
// at the next tap if that failed (no access to /dev/uinput yet). Without
// them no tap can be made, so that nothing is grabbed that could not be
// passed on.
//
// A posted event never comes back into a tap: the virtual devices are never
// read. Key and modifier state: what the virtual keyboard holds, and where
// an X server answers, the desktop's keyboard (the user's own keys are the
// desktop's less those the virtual keyboard holds). Events carry no cursor
// position: the desktop moves the cursor from the virtual pointer's motion.
//
// Safe to use from any thread.
class LinuxEventSystem final : public EventSystem {
public:
    // The default scroll distance of a profile, in pixels per detent.
    static constexpr std::int64_t defaultPixelsPerDetent = 50;

    struct Options {
        KernelRoots roots;
        // The target mouse.
        std::int64_t vendorID = 0x046D;
        std::int64_t productID = 0xC099;
        // The default scroll distance, which one detent's glide is scaled to.
        std::int64_t pixelsPerDetent = defaultPixelsPerDetent;
        // The desktop's keyboard state; none: only the virtual keyboard's.
        std::shared_ptr<DesktopKeyboard> desktopKeyboard;
    };

    explicit LinuxEventSystem(Options options);
    // The process's event system: the G502 X, this machine's kernel, and the
    // X server's keyboard where one answers. Made on first use and kept for
    // the life of the process, so that whoever posts at the very end still
    // has the devices; the kernel destroys them with the process, releasing
    // whatever they hold.
    static std::shared_ptr<LinuxEventSystem> shared();
    ~LinuxEventSystem() override;
    LinuxEventSystem(const LinuxEventSystem&) = delete;
    LinuxEventSystem& operator=(const LinuxEventSystem&) = delete;

    // How many of the wheel's ticks make one detent: the multiplier while the
    // mouse reports its wheel in high-resolution mode, 1 in the standard mode,
    // none while the mode is not known (the taps then hold wheel ticks back
    // for a moment). Not known until said.
    void setWheelTicksPerDetent(std::optional<int> ticks);
    std::optional<int> wheelTicksPerDetent() const;
    // How many ticks make a detent once the taps have held ticks back for
    // that moment and the mode is still not known: what the mode is taken to
    // be meanwhile. 1 until said.
    void setAssumedWheelTicksPerDetent(int ticks);
    int assumedWheelTicksPerDetent() const;

    // From now on, while the login session is not the one in front, the
    // virtual devices are let go (the kernel releases whatever they still
    // hold, once no tap holds them either); when it is again they are made
    // at once, so that the desktop has them before the first event. Each
    // change is taken on `executor`.
    void followSession(const std::shared_ptr<SessionWatcher>& session, std::shared_ptr<Executor> executor);

    // Why the virtual devices could not be made; none while they exist.
    std::optional<std::string> outputError() const;
    // The virtual pointer's and keyboard's event nodes; empty without them.
    std::string virtualPointerNode() const;
    std::string virtualKeyboardNode() const;

    // --- EventSystem ---
    std::shared_ptr<EventSource> createSource(EventSourceStateID stateID) override;
    bool keyState(EventSourceStateID stateID, std::uint16_t keyCode) const override;
    std::uint32_t keysState(EventSourceStateID stateID, std::span<const std::uint16_t> keyCodes) const override;
    EventFlags flagsState(EventSourceStateID stateID) const override;
    std::optional<Event> createEvent(const EventSource* source) override;
    std::optional<Event> createScrollWheelEvent(const EventSource* source, ScrollEventUnit units,
                                                std::uint32_t wheelCount, std::int32_t wheel1, std::int32_t wheel2,
                                                std::int32_t wheel3) override;
    std::optional<Event> createMouseEvent(const EventSource* source, EventType type, Point location,
                                          MouseButton button) override;
    std::optional<Event> createKeyboardEvent(const EventSource* source, std::uint16_t keyCode, bool keyDown) override;
    void post(EventTapLocation location, const Event& event) override;
    std::shared_ptr<EventTap> createTap(EventTapLocation location, EventTapPlacement placement, EventTapOptions options,
                                        std::uint64_t eventsOfInterest, EventTapCallback callback,
                                        void* userInfo) override;
    void addTapToRunLoop(EventTap& tap, std::shared_ptr<Executor> runLoop) override;
    void removeTapFromRunLoop(EventTap& tap) override;
    void enableTap(EventTap& tap, bool enable) override;
    bool isTapEnabled(const EventTap& tap) const override;

private:
    // The virtual devices, made now if they are not there yet.
    std::shared_ptr<VirtualDevices> devices(bool makeIfMissing) const;
    void setSessionActive(bool active);
    // The flags of the modifier keys down, with caps lock: the user's, and
    // with `own` the virtual keyboard's too.
    EventFlags modifierFlags(bool own) const;

    const Options options_;
    // Shared with the taps, which may outlive the system.
    // 0 while not known.
    const std::shared_ptr<std::atomic<int>> ticksPerDetent_ = std::make_shared<std::atomic<int>>(0);
    const std::shared_ptr<std::atomic<int>> assumedTicksPerDetent_ = std::make_shared<std::atomic<int>>(1);
    mutable std::mutex lock_;
    // The taps made, told when the wheel's mode changes.
    std::vector<std::weak_ptr<EvdevTap>> taps_;
    mutable std::shared_ptr<VirtualDevices> devices_;
    mutable std::optional<std::string> outputError_;
    // Dropped first when the system goes.
    Subscription session_;
};

} // namespace ravolet::platform
