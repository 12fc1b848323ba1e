#pragma once

#include <functional>
#include <memory>

#include "Platform/Executor.hpp"
#include "Platform/Subscribers.hpp"
#include "Platform/Subscription.hpp"

namespace ravolet::platform {

// Whether this program's login session is the one at the computer's screen
// and keyboard. With several users logged in at once only the session in
// front may have the input devices: a program whose user has been switched
// away from lets go of them until its session is in front again.
class SessionWatcher {
public:
    using Handler = std::function<void(bool active)>;

    SessionWatcher() = default;
    virtual ~SessionWatcher() = default;
    SessionWatcher(const SessionWatcher&) = delete;
    SessionWatcher& operator=(const SessionWatcher&) = delete;

    // Whether the session is in front now; true where nothing tells.
    virtual bool isActive() const = 0;

    // Calls `handler` on `executor` with every change, in order, until the
    // subscription is dropped (a change being delivered at that moment on
    // another thread may still arrive). Any thread.
    Subscription subscribe(std::shared_ptr<Executor> executor, Handler handler);

protected:
    // Tells every subscriber, on its executor, that the session is now
    // `active` (or not). The form calls it once for each change.
    void tell(bool active);

private:
    Subscribers<bool> subscribers_;
};

} // namespace ravolet::platform
