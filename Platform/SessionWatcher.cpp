#include "Platform/SessionWatcher.hpp"

namespace ravolet::platform {

Subscription SessionWatcher::subscribe(std::shared_ptr<Executor> executor, Handler handler) {
    return subscribers_.subscribe(std::move(executor), std::move(handler));
}

void SessionWatcher::tell(bool active) { subscribers_.tell(active); }

} // namespace ravolet::platform
