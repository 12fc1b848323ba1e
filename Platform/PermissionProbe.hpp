#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Platform/Executor.hpp"
#include "Platform/Subscription.hpp"

namespace ravolet::platform {

// The HID layer's answer to "may this process listen to HID input?", in the
// host's raw values. Any other value is possible and means "not known".
struct HIDAccessType {
    std::uint32_t rawValue = 2;

    static const HIDAccessType granted;
    static const HIDAccessType denied;
    static const HIDAccessType unknown;

    friend constexpr bool operator==(const HIDAccessType&, const HIDAccessType&) = default;
};

inline constexpr HIDAccessType HIDAccessType::granted{0};
inline constexpr HIDAccessType HIDAccessType::denied{1};
inline constexpr HIDAccessType HIDAccessType::unknown{2};

// The grants the program depends on, as the host answers them now. Every
// check only asks: none of them ever prompts the user or requests access.
// Callable from any thread.
class PermissionProbe {
public:
    virtual ~PermissionProbe() = default;

    // Whether the process is trusted to control the computer (needed for an
    // active event tap and for posting input).
    virtual bool isAccessibilityTrusted() const = 0;
    // Whether the device that posting needs is missing altogether (rather
    // than closed to the process).
    virtual bool isPostingDeviceMissing() const { return false; }
    // Whether the process may listen to input events.
    virtual bool canListenToEvents() const = 0;
    // Whether listening cannot be judged yet because the target mouse is not
    // there: the grant then counts as given, waiting for the mouse.
    virtual bool isWaitingForMouse() const { return false; }
    // The HID layer's own answer for listening to HID input.
    virtual HIDAccessType hidListenAccess() const = 0;

    // The device nodes that keep a grant from being given, so the user can be
    // told what to open: those needed to post input, and those of the target
    // mouse needed to listen to it and talk to it. Empty where the host has no
    // such nodes or all of them are open.
    virtual std::vector<std::string> closedPostingNodes() const { return {}; }
    virtual std::vector<std::string> closedListeningNodes() const { return {}; }

    // Calls `handler` on `executor` whenever the answers above may have
    // changed (a device node came, went or had its access changed), until the
    // subscription is dropped, so that nobody has to ask again and again. A
    // host that cannot tell never calls.
    virtual Subscription observeChanges(std::shared_ptr<Executor> executor, std::function<void()> handler) const {
        (void)executor, (void)handler;
        return {};
    }
};

} // namespace ravolet::platform
