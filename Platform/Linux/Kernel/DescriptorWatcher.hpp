#pragma once

#include <functional>
#include <memory>

#include "Platform/Subscription.hpp"
#include "Platform/Thread.hpp"

namespace ravolet::platform {

// Watches file descriptors (device nodes, sockets) for input on one thread of
// its own and calls each one's handler on that thread when the descriptor is
// readable, hung up or in error. A handler reads what is ready (descriptors
// are best non-blocking, read until EAGAIN) and hands it on, say by
// signalling a run-loop source, so that nothing waits on a device in the
// threads that do the work.
//
// After a hang-up or an error (POLLHUP, POLLERR, POLLNVAL: an unplugged device
// node) the handler is called once more with those flags and the descriptor is
// no longer polled, since poll would report it for ever; the owner drops the
// watch and closes the descriptor.
class DescriptorWatcher {
public:
    // poll(2)'s revents for the descriptor.
    using Handler = std::function<void(short events)>;

    // A watcher whose thread runs with these options; null when the thread or
    // its wake-up descriptor cannot be made.
    static std::unique_ptr<DescriptorWatcher> make(Thread::Options options);
    // Ends every watch and the thread. Must not run on the watcher's thread.
    ~DescriptorWatcher();
    DescriptorWatcher(const DescriptorWatcher&) = delete;
    DescriptorWatcher& operator=(const DescriptorWatcher&) = delete;

    // Watches `fd` for input. Dropping (or cancelling) the subscription ends
    // the watch: once that returns the handler is not running and never runs
    // again, so the descriptor may then be closed. Dropping it inside its own
    // handler is allowed (the current call finishes). The descriptor stays the
    // caller's. The watch outliving the watcher is harmless.
    [[nodiscard]] Subscription watch(int fd, Handler handler);

    // True on the watcher's own thread.
    bool isCurrent() const;

    struct State;
    explicit DescriptorWatcher(std::shared_ptr<State> state);

private:
    std::shared_ptr<State> state_;
    Thread thread_;
};

} // namespace ravolet::platform
