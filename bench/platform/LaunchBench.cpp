// What a launch of a program costs the thread that asks for it, and how long
// it holds up another thread of the process, with the process at 50 MB and at
// 600 MB of memory in use (the argument, in MB). Each iteration launches
// /bin/true twice, alternating, so that both see the same load: once through
// the launcher, once with a bare posix_spawn of the same program (the floor:
// the C library's own launch, which copies nothing of the process).
//
// Meanwhile another thread writes to the process's memory a page at a time,
// as the glide and tap threads touch theirs, and notes the longest it went
// between two writes during each call ("stall"; a launch that copies the
// process makes it wait for the copy and then for a copy of each page it
// writes to). "idle" is the same over 1 ms between launches: what the
// machine's own load gives.
//
// Counters, in µs over every call of the run (p50, p90, p99, max): launch_*
// and spawn_* (the call's time), stall_launch_*, stall_spawn_* and
// stall_idle_*; and ratio_p50 and ratio_p99 (launch over spawn).

#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "Platform/Linux/LinuxProcessLauncher.hpp"
#include "bench/LatencyCounters.hpp"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t page = 4096;

// Memory the process holds, every page touched.
class Ballast {
public:
    explicit Ballast(std::size_t bytes) : size_(bytes) {
        bytes_ = static_cast<char*>(::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        for (std::size_t at = 0; at < size_; at += page) bytes_[at] = 1;
    }
    ~Ballast() { ::munmap(bytes_, size_); }
    Ballast(const Ballast&) = delete;
    Ballast& operator=(const Ballast&) = delete;
    char* bytes() const { return bytes_; }
    std::size_t size() const { return size_; }

private:
    std::size_t size_;
    char* bytes_;
};

// The other thread: writes a page at a time, and keeps the longest gap
// between two writes that touches the window opened last (from open() to
// close()).
class Writer {
public:
    explicit Writer(const Ballast& ballast) : thread_([this, &ballast] { run(ballast); }) {}
    ~Writer() {
        stop_ = true;
        thread_.join();
    }
    void open() {
        longest_.store(0, std::memory_order_relaxed);
        window_.fetch_add(1, std::memory_order_acq_rel);
    }
    // The longest gap, in µs.
    double close() {
        window_.fetch_add(1, std::memory_order_acq_rel);
        return static_cast<double>(longest_.load(std::memory_order_acquire)) / 1e3;
    }

private:
    void run(const Ballast& ballast) {
        std::size_t at = 0;
        auto last = Clock::now();
        std::uint64_t before = window_.load(std::memory_order_acquire);
        while (!stop_.load(std::memory_order_relaxed)) {
            ballast.bytes()[at] += 1;
            at = (at + page) % ballast.size();
            const auto now = Clock::now();
            const std::uint64_t window = window_.load(std::memory_order_acquire);
            // Odd while a window is open.
            if ((before | window) & 1) {
                const auto gap = static_cast<std::uint64_t>(std::chrono::nanoseconds(now - last).count());
                if (gap > longest_.load(std::memory_order_relaxed)) longest_.store(gap, std::memory_order_release);
            }
            last = now;
            before = window;
        }
    }

    std::atomic<std::uint64_t> window_{0};
    std::atomic<std::uint64_t> longest_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

void BM_LaunchBesidePosixSpawn(benchmark::State& state) {
    const Ballast ballast(static_cast<std::size_t>(state.range(0)) * 1024 * 1024);
    ravolet::platform::LinuxProcessLauncher launcher;
    const char* program = "/bin/true";
    char* const argv[] = {const_cast<char*>(program), nullptr};
    std::vector<double> launches, spawns, launchStalls, spawnStalls, idleStalls;
    Writer writer(ballast);
    for (auto _ : state) {
        writer.open();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        idleStalls.push_back(writer.close());
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

        writer.open();
        auto start = Clock::now();
        pid_t child = 0;
        const int spawned = ::posix_spawn(&child, program, nullptr, nullptr, argv, environ);
        const auto spawnTime = Clock::now() - start;
        spawnStalls.push_back(writer.close());
        if (spawned == 0) ::waitpid(child, nullptr, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));

        writer.open();
        start = Clock::now();
        const bool launched = launcher.launchDetached(program, {});
        const auto launchTime = Clock::now() - start;
        launchStalls.push_back(writer.close());
        if (spawned != 0 || !launched) {
            state.SkipWithError("a launch failed");
            break;
        }
        spawns.push_back(std::chrono::duration<double, std::micro>(spawnTime).count());
        launches.push_back(std::chrono::duration<double, std::micro>(launchTime).count());
        state.SetIterationTime(std::chrono::duration<double>(launchTime).count());
    }
    if (launches.empty()) return;
    ravolet::bench::reportLatencies(state, launches, "launch_");
    ravolet::bench::reportLatencies(state, spawns, "spawn_");
    state.counters["ratio_p50"] = state.counters["launch_p50_us"] / state.counters["spawn_p50_us"];
    state.counters["ratio_p99"] = state.counters["launch_p99_us"] / state.counters["spawn_p99_us"];
    ravolet::bench::reportLatencies(state, launchStalls, "stall_launch_");
    ravolet::bench::reportLatencies(state, spawnStalls, "stall_spawn_");
    ravolet::bench::reportLatencies(state, idleStalls, "stall_idle_");
}
BENCHMARK(BM_LaunchBesidePosixSpawn)->ArgName("MB")->Arg(50)->Arg(600)->UseManualTime()->Iterations(300)->Unit(benchmark::kMicrosecond);

} // namespace
