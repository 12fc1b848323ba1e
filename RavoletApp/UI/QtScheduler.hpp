#pragma once

#include <QObject>
#include <QPointer>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "Platform/Executor.hpp"

class QTimer;

namespace ravolet {

// The program's user-interface executor: tasks run on the thread of the Qt
// event loop that made the scheduler, between the loop's other events, on the
// monotonic clock of the rest of the program. Posting is callable from any
// thread; among due tasks the earlier deadline runs first, equal deadlines in
// the order they were given. Each turn runs only what was due and queued when
// it began, so a task that posts again lets the loop handle its own events in
// between. Made with std::make_shared; tasks still queued when it goes never
// run.
class QtScheduler final : public platform::Scheduler, public std::enable_shared_from_this<QtScheduler> {
public:
    // On the thread whose event loop runs the tasks.
    QtScheduler();
    ~QtScheduler() override;
    QtScheduler(const QtScheduler&) = delete;
    QtScheduler& operator=(const QtScheduler&) = delete;

    void post(platform::Task task) override;
    bool isCurrent() const override;
    std::uint64_t nowNanos() const override;
    platform::TaskHandle postAt(std::uint64_t deadlineNanos, platform::Task task) override;

    // Once the loop has ended for good: drops the tasks still queued, which
    // would never run. They often hold the scheduler itself (a task that
    // delivers on it), which would otherwise keep both alive past the end.
    void discardPending();

private:
    struct Entry {
        platform::Task task;
        platform::TaskHandle handle;
    };
    using Key = std::pair<std::uint64_t, std::uint64_t>; // deadline, order given

    void wake();
    void runDue();
    void rearm();

    QObject* const context_;
    QTimer* const timer_;
    std::mutex mutex_;
    std::map<Key, Entry> queue_;      // guarded by mutex_
    std::uint64_t nextOrder_ = 0;     // guarded by mutex_
    bool wakePending_ = false;        // guarded by mutex_
    bool timerConnected_ = false;     // on the loop's thread
};

} // namespace ravolet
