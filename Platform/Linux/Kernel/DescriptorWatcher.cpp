#include "Platform/Linux/Kernel/DescriptorWatcher.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace ravolet::platform {

struct DescriptorWatcher::State {
    struct Entry {
        std::uint64_t id;
        int fd;
        std::shared_ptr<Handler> handler;
        bool hungUp = false;
    };

    explicit State(int wakeFD) : wake(wakeFD) {}
    ~State() { ::close(wake); }

    void poke() const {
        const std::uint64_t one = 1;
        // A full counter already wakes the poll; nothing else can fail here.
        [[maybe_unused]] const ssize_t written = ::write(wake, &one, sizeof one);
    }

    void remove(std::uint64_t id) {
        std::unique_lock lock(mutex);
        std::erase_if(entries, [id](const Entry& entry) { return entry.id == id; });
        // Its own handler may drop the watch; it cannot wait for itself.
        if (std::this_thread::get_id() != thread) {
            idle.wait(lock, [&] { return running != id; });
        }
        lock.unlock();
        // The descriptor may be closed and its number reused as soon as we
        // return: the poll set must be made again without it.
        poke();
    }

    void run() {
        std::vector<pollfd> fds;
        std::vector<std::uint64_t> ids;
        for (;;) {
            fds.assign(1, pollfd{wake, POLLIN, 0});
            ids.assign(1, 0);
            {
                std::lock_guard lock(mutex);
                if (stopping) return;
                for (const Entry& entry : entries) {
                    if (entry.hungUp) continue;
                    fds.push_back(pollfd{entry.fd, POLLIN, 0});
                    ids.push_back(entry.id);
                }
            }
            if (::poll(fds.data(), fds.size(), -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[0].revents & POLLIN) {
                std::uint64_t count = 0;
                [[maybe_unused]] const ssize_t got = ::read(wake, &count, sizeof count);
            }
            for (std::size_t i = 1; i < fds.size(); ++i) {
                if (fds[i].revents == 0) continue;
                std::shared_ptr<Handler> handler;
                {
                    std::lock_guard lock(mutex);
                    if (stopping) return;
                    auto entry = std::ranges::find(entries, ids[i], &Entry::id);
                    if (entry == entries.end()) continue; // dropped since the poll set was made
                    if (fds[i].revents & (POLLHUP | POLLERR | POLLNVAL)) entry->hungUp = true;
                    handler = entry->handler;
                    running = ids[i];
                }
                (*handler)(fds[i].revents);
                {
                    std::lock_guard lock(mutex);
                    running = 0;
                }
                idle.notify_all();
            }
        }
    }

    const int wake;
    std::mutex mutex;
    std::condition_variable idle;
    std::vector<Entry> entries;
    std::uint64_t nextID = 1;
    std::uint64_t running = 0; // the watch whose handler runs now
    bool stopping = false;
    std::thread::id thread;
};

std::unique_ptr<DescriptorWatcher> DescriptorWatcher::make(Thread::Options options) {
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) return nullptr;
    auto watcher = std::make_unique<DescriptorWatcher>(std::make_shared<State>(wake));
    std::shared_ptr<State> state = watcher->state_;
    // The thread keeps the state: a watch dropped after the watcher, or the
    // watcher's thread handed to the process, never meets a freed state.
    std::mutex started;
    std::unique_lock lock(started);
    std::condition_variable ready;
    bool known = false;
    watcher->thread_ = Thread(std::move(options), [state, &started, &ready, &known] {
        {
            std::lock_guard guard(started);
            {
                std::lock_guard stateLock(state->mutex);
                state->thread = std::this_thread::get_id();
            }
            known = true;
            // Under the lock: the waiter's condition variable is gone once it returns.
            ready.notify_all();
        }
        state->run();
    });
    if (!watcher->thread_.started()) return nullptr;
    ready.wait(lock, [&] { return known; });
    return watcher;
}

DescriptorWatcher::DescriptorWatcher(std::shared_ptr<State> state) : state_(std::move(state)) {}

DescriptorWatcher::~DescriptorWatcher() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
        state_->entries.clear();
    }
    state_->poke();
    if (thread_.joinable()) thread_.join();
}

Subscription DescriptorWatcher::watch(int fd, Handler handler) {
    std::uint64_t id = 0;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->stopping) return {};
        id = state_->nextID++;
        state_->entries.push_back(State::Entry{id, fd, std::make_shared<Handler>(std::move(handler))});
    }
    state_->poke();
    return Subscription([weak = std::weak_ptr<State>(state_), id] {
        if (auto state = weak.lock()) state->remove(id);
    });
}

bool DescriptorWatcher::isCurrent() const {
    std::lock_guard lock(state_->mutex);
    return std::this_thread::get_id() == state_->thread;
}

} // namespace ravolet::platform
