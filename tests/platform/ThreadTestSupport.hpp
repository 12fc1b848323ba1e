#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "Platform/Executor.hpp"
#include "Platform/Thread.hpp"

namespace ravolet::platform::testing {

// ThreadSanitizer cannot follow a child that shares the process's memory
// (clone with CLONE_VM, which is how the launcher starts programs): its
// bookkeeping goes wrong in that child, so such launches are tested in the
// other builds only.
#if defined(__SANITIZE_THREAD__)
inline constexpr bool underThreadSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
inline constexpr bool underThreadSanitizer = true;
#else
inline constexpr bool underThreadSanitizer = false;
#endif
#else
inline constexpr bool underThreadSanitizer = false;
#endif

// A generous limit for anything that waits on another thread: long enough
// for a loaded machine, short enough to fail a hung test.
inline constexpr std::chrono::seconds waitLimit{20};

// A counter that other threads bump and a test waits on.
class Counter {
public:
    void increment() {
        // Notify under the lock: the waiter may destroy this once it returns.
        std::lock_guard lock(mutex_);
        ++count_;
        changed_.notify_all();
    }
    int value() const {
        std::lock_guard lock(mutex_);
        return count_;
    }
    // True once the count reached `target`, false when the limit passed first.
    bool waitFor(int target, std::chrono::nanoseconds limit = waitLimit) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return count_ >= target; });
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    int count_ = 0;
};

// Records values from any thread, in arrival order.
template <typename T>
class Recorder {
public:
    void add(T value) {
        std::lock_guard lock(mutex_);
        values_.push_back(std::move(value));
        changed_.notify_all();
    }
    std::vector<T> values() const {
        std::lock_guard lock(mutex_);
        return values_;
    }
    bool waitForCount(std::size_t count, std::chrono::nanoseconds limit = waitLimit) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return values_.size() >= count; });
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<T> values_;
};

// Counts its own destruction, to see that dropped work is released.
struct Sentinel {
    Counter* released;
    explicit Sentinel(Counter* counter) : released(counter) {}
    ~Sentinel() { released->increment(); }
};

// Posts numbered blocks from several threads at once and checks that every
// block ran on the executor's thread (named `threadName`) and that each
// thread's blocks ran in the order it posted them.
inline void expectFifoAcrossThreads(Executor& executor, const std::string& threadName) {
    struct Run {
        int producer;
        int index;
        bool onThread;
    };
    Recorder<Run> runs;
    constexpr int producers = 4, perProducer = 500;
    std::vector<std::thread> threads;
    for (int p = 0; p < producers; ++p) {
        threads.emplace_back([&, p] {
            for (int i = 0; i < perProducer; ++i)
                executor.post([&, p, i] {
                    runs.add({p, i, executor.isCurrent() && currentThreadName() == threadName});
                });
        });
    }
    for (auto& t : threads) t.join();
    ASSERT_TRUE(runs.waitForCount(producers * perProducer));
    std::vector<int> next(producers, 0);
    for (const Run& run : runs.values()) {
        EXPECT_TRUE(run.onThread);
        EXPECT_EQ(run.index, next[run.producer]++) << "producer " << run.producer;
    }
}

// The kernel names (at most 15 bytes) of this process's threads named
// "ai.ravolet…".
inline std::vector<std::string> ourThreadNames() {
    std::vector<std::string> names;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        if (name.starts_with("ai.ravolet")) names.push_back(name);
    }
    return names;
}

// For a test that runs in a child process (EXPECT_EXIT) and ends it with
// exit(): registered before the child starts any thread, the check runs after
// everything the program registers later, that is, where static objects made
// before the first thread are destroyed. A thread of ours still alive there
// turns the exit code into 1 and is named on stderr.
inline void failExitIfOurThreadsRemain() {
    std::atexit([] {
        const auto names = ourThreadNames();
        if (names.empty()) return;
        for (const auto& name : names) std::fprintf(stderr, "still running at exit: %s\n", name.c_str());
        _exit(1);
    });
}

// Checks made inside a child process: each failure is told on stderr, and
// exitWithResult() ends the child with 0 only when none failed.
class ChildChecks {
public:
    void expect(bool condition, const char* what) {
        if (condition) return;
        std::fprintf(stderr, "failed: %s\n", what);
        ++failures_;
    }
    [[noreturn]] void exitWithResult() { std::exit(failures_ == 0 ? 0 : 1); }

private:
    int failures_ = 0;
};

} // namespace ravolet::platform::testing
