#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Platform/EventSystem.hpp"
#include "Platform/Linux/Input/VirtualDevices.hpp"
#include "Platform/Linux/Kernel/Sysfs.hpp"

namespace ravolet::platform {

// The event tap on Linux: the target mouse's pointer nodes, grabbed
// (EVIOCGRAB) so that only Ravolet reads them, and read on the thread of the
// run loop the tap is added to. Each frame (the events up to SYN_REPORT)
// becomes the engine's events in the host's vocabulary: button downs and ups
// (left 0, right 1, middle 2, back 3, forward 4, further ones upward),
// motion (dragged while a button is down) and wheel detents, each stamped
// with the node's registry identifier (Event::hidSenderID, and field 87 on
// button and drag events) so that the device scope knows where it came
// from, and with its kernel time stamp. Events of the tap's mask go through
// its callback; what the callback lets through, changes or replaces goes
// out on the virtual pointer, the frame's values in one write; what it
// swallows does not. Every other node, mouse or keyboard, is left alone.
//
// - A node is grabbed only while none of its buttons is down (EVIOCGKEY), so
//   that a press the desktop saw also reaches it released; until then it is
//   read but not acted on, and what it queued before the grab, which the
//   desktop saw too, is dropped.
// - After SYN_DROPPED the rest of that frame is dropped and the buttons are
//   read anew, any difference going through as button events.
// - Main-wheel ticks are counted into detents by the wheel's mode (its
//   high-resolution mode makes several ticks a detent). While the mode is not
//   known they are held back, for at most 250 ms after the first, and then
//   counted by the mode the wheel is taken to be in until it is known. The
//   tilt is one tick a detent in every mode.
// - Unplugging (ENODEV) ends a node cleanly; kernel uevents bring it back
//   when the mouse returns (an open refused just after it appears is tried
//   again for a while, since udev sets its permissions just after).
// - Buttons passed down and still held when a node ends go up on the virtual
//   pointer. Closing a node releases its grab; the kernel does the same for
//   a process that dies.
//
// Made, added to its run loop and taken off it on the run loop's thread (the
// event tap controller's thread); enabling and releasing from any thread.
class EvdevTap final : public EventTap {
public:
    struct Context {
        KernelRoots roots;
        std::int64_t vendorID = 0;
        std::int64_t productID = 0;
        std::shared_ptr<VirtualDevices> devices;
        // The modifier flags stamped on button and wheel events.
        std::function<EventFlags()> modifierFlags;
        // How many wheel ticks make a detent now (1: the standard mode; 0:
        // the wheel's mode is not known yet).
        std::function<int()> ticksPerDetent;
        // How many make a detent when the mode is still not known after the
        // wait for it: what it is taken to be meanwhile (1 when not given).
        std::function<int()> assumedTicksPerDetent;
    };

    enum class Failure {
        notPermitted, // a node of the mouse cannot be opened (EACCES)
        busy,         // another program holds a grab of it (EBUSY)
        noOutput,     // there is no virtual pointer to pass events on to
    };

    // Opens and grabs the mouse's pointer nodes there are now (none is fine:
    // the tap waits for the mouse).
    static std::expected<std::shared_ptr<EvdevTap>, Failure> make(Context context, std::uint64_t eventsOfInterest,
                                                                  EventTapOptions options, EventTapCallback callback,
                                                                  void* userInfo);
    // Releases every grab (on the run loop's thread, soon, when called elsewhere).
    ~EvdevTap() override;

    // Reads the nodes on this executor's thread from now on; it must be a
    // RunLoop, else the nodes are let go and nothing is read.
    void addToRunLoop(const std::shared_ptr<Executor>& executor);
    // Lets every node go: the tap sees nothing more and the mouse is the
    // desktop's again.
    void removeFromRunLoop();
    // Says that ticksPerDetent may have changed (from any thread): wheel ticks
    // held back while the wheel's mode was unknown go on once it is known.
    void wheelModeChanged();
    // A switched-off tap passes every event on untouched, without its callback.
    void setEnabled(bool enabled);
    bool isEnabled() const;

    struct Passkey {
    private:
        friend class EvdevTap;
        Passkey() = default;
    };
    struct Core;
    EvdevTap(Passkey, std::shared_ptr<Core> core);

private:
    std::shared_ptr<Core> core_;
};

} // namespace ravolet::platform
