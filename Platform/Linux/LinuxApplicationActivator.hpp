#pragma once

#include <functional>
#include <utility>

#include "Platform/ApplicationActivator.hpp"

namespace ravolet::platform {

// Raising the program's windows is the window system's business, which only
// the user interface reaches: it installs the handler that does it. Without
// one, activating does nothing. Main thread only.
class LinuxApplicationActivator final : public ApplicationActivator {
public:
    void activate() override {
        if (handler_) handler_();
    }
    void setHandler(std::function<void()> handler) { handler_ = std::move(handler); }

private:
    std::function<void()> handler_;
};

} // namespace ravolet::platform
