#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Platform/Task.hpp"

namespace ravolet::platform {

// How urgent a thread's or a queue's work is. The raw values are the host's
// quality-of-service classes (user-interactive 33, user-initiated 25,
// default 21, utility 17, background 9).
enum class ThreadPriority { userInteractive, userInitiated, utility, background, defaultPriority };

// Queues take the same classes as threads.
using QueuePriority = ThreadPriority;

int rawValue(ThreadPriority priority);
std::string_view toString(ThreadPriority priority);

// The kernel keeps at most this many bytes of a thread's name.
inline constexpr std::size_t kernelThreadNameLimit = 15;

// The calling thread's name exactly as it was given to setCurrentThreadName
// (or to Thread), at full length; empty for a thread that was never named.
std::string currentThreadName();

// Names the calling thread: the full name is kept by this layer for
// currentThreadName(), and the kernel gets the name cut to its first 15 bytes
// (without splitting a UTF-8 sequence) so that debuggers and ps show it.
void setCurrentThreadName(std::string name);

// The priority the calling thread was started or marked with.
ThreadPriority currentThreadPriority();

// How urgently a thread really runs: the nice value its class asks for, the
// one in effect, and who set that.
struct ThreadNice {
    enum class SetBy { process, broker, nobody };
    int wanted = 0;
    int actual = 0;
    SetBy setBy = SetBy::process;
    friend bool operator==(const ThreadNice&, const ThreadNice&) = default;
};
std::string_view toString(ThreadNice::SetBy setBy);

// The calling thread's, as setCurrentThreadPriority and
// raiseCurrentThreadPriority left it.
ThreadNice currentThreadNice();

// Raises a thread's urgency where the process itself may not: an ordinary
// user's process may not lower a nice value (RLIMIT_NICE is 0), but the
// desktop's RealtimeKit may do it for it. Takes the kernel's thread id and
// the nice value; true once the thread has it. Called on that thread, and may
// take a while (it asks another process).
using NiceBroker = std::function<bool(std::int64_t threadID, int nice)>;
// Process-wide; the program sets it once, before its threads start.
void setNiceBroker(NiceBroker broker);

// Where the calling thread's class asked for more urgency than the process
// could give it, asks the broker for it; the outcome, as currentThreadNice()
// gives it from then on.
ThreadNice raiseCurrentThreadPriority();

// Marks the calling thread with a priority. On Linux the hint becomes a nice
// value where the process may set it (raising urgency needs privileges and
// is skipped quietly otherwise); the urgent classes (user-interactive,
// user-initiated) also get a 1 µs timer slack and the kernel's shortest time
// slice, so that they wake close to their deadlines and are let run soon
// after waking on a busy machine.
void setCurrentThreadPriority(ThreadPriority priority);

// ---- Orderly process exit ----
//
// No thread of ours may still run while static objects are destroyed. Two
// kinds would: a thread that lives as long as the process (the HID I/O
// thread), which registers how to stop it with onFinishThreads(); and a thread
// whose Thread object was destroyed on that very thread (it cannot wait for
// itself), which is handed to the process rather than left detached.
//
// finishThreads() runs the registered stops, newest first, then waits for
// every handed-over thread to end; from then on no thread starts (a Thread
// reports !started(), as when the system refuses one, and its owner fails
// what it is given). The program calls it as main() returns, before static
// destruction begins; when it does not, it runs at exit from a handler
// registered with the first thread start, so it comes before the destruction
// of every static object made before that. Calling it again does nothing.
void onFinishThreads(Task stop);
void finishThreads();

// A thread started with a name, a priority hint and a stack size. The body
// runs with the name and the priority already set. Destroying a joinable
// Thread joins it; from the thread itself (where joining would deadlock) it is
// handed to the process, which joins it once it has ended, at the latest in
// finishThreads().
class Thread {
public:
    struct Options {
        std::string name;
        ThreadPriority priority = ThreadPriority::defaultPriority;
        // 0 = the system default; otherwise rounded up to whole pages and to
        // the system's minimum.
        std::size_t stackSize = 0;
    };

    Thread() noexcept;
    Thread(Options options, Task body);
    Thread(std::string name, ThreadPriority priority, std::size_t stackSize, Task body)
        : Thread(Options{std::move(name), priority, stackSize}, std::move(body)) {}
    ~Thread();

    Thread(Thread&& other) noexcept;
    Thread& operator=(Thread&& other) noexcept;
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // False when the thread could not be started (the system refused it, or
    // finishThreads() has run); the body was then destroyed without running.
    bool started() const { return handle_ != nullptr; }
    bool joinable() const { return handle_ != nullptr; }
    void join();
    // Lets the thread end on its own; the process joins it (see above).
    void detach();

    const std::string& name() const { return name_; }
    // True on the thread itself.
    bool isCurrent() const;

private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
    std::string name_;
};

} // namespace ravolet::platform
