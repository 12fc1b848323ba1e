#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "Platform/Executor.hpp"
#include "Platform/Subscription.hpp"

namespace ravolet {

// A mouse that the settings window's "Try It" panel drives: the simulated
// machine's G502 X, when the program runs on one (`--simulated-mouse`). What
// the user does with the pointer over the panel becomes that mouse's own
// wheel turns and button presses, so the engine reshapes them as it would the
// real mouse's; and the scrolling that then reaches the simulated system comes
// back to the panel, so the glide can be watched. The real program has none:
// there the real mouse's own events already go through the engine.
class MouseFeed {
public:
    // Scrolling as it reached the system, in the host's sense: positive
    // vertical scrolls up (towards the top of a document), positive
    // horizontal to the left; in pixels for a smooth (continuous) scroll, in
    // lines for a plain wheel click that passed untouched.
    struct Scroll {
        std::int64_t vertical = 0;
        std::int64_t horizontal = 0;
        bool isContinuous = false;
    };

    virtual ~MouseFeed() = default;

    // Whole wheel clicks, in the host's sense as above.
    virtual void turnWheel(std::int32_t vertical, std::int32_t horizontal) = 0;
    // A button numbered as the settings document numbers them (left 0,
    // right 1, middle 2, back 3, forward 4, ...), going down or up.
    virtual void pressButton(std::int64_t button, bool down) = 0;
    // Calls `handler` on `executor`, in order, with every scroll that reaches
    // the system, until the subscription goes.
    virtual platform::Subscription watchScrolling(std::shared_ptr<platform::Executor> executor,
                                                  std::function<void(const Scroll&)> handler) = 0;
};

} // namespace ravolet
