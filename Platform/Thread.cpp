#include "Platform/Thread.hpp"

#include <pthread.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "Platform/SchedulingAttributes.hpp"

namespace ravolet::platform {

namespace {

// The full names and priorities this layer gave to threads; the kernel keeps
// only 15 bytes of a name.
thread_local std::string tlsName;
thread_local ThreadPriority tlsPriority = ThreadPriority::defaultPriority;
thread_local ThreadNice tlsNice;

std::mutex brokerLock;
NiceBroker& niceBroker() {
    static NiceBroker* const broker = new NiceBroker();
    return *broker;
}

id_t currentThreadID() { return static_cast<id_t>(syscall(SYS_gettid)); }

std::optional<int> niceOf(id_t tid) {
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, tid);
    if (errno != 0) return std::nullopt;
    return nice;
}


// The nice value for each class. Raising urgency (a negative value) needs a
// privilege that a desktop process usually lacks; the attempt then fails
// quietly and the thread keeps the default.
int niceValue(ThreadPriority priority) {
    switch (priority) {
    case ThreadPriority::userInteractive: return -4;
    case ThreadPriority::userInitiated: return -2;
    case ThreadPriority::defaultPriority: return 0;
    case ThreadPriority::utility: return 4;
    case ThreadPriority::background: return 10;
    }
    return 0;
}

// The time slice the urgent classes ask for. A thread with a short slice is
// let run sooner when it wakes on a busy machine (the kernel's EEVDF
// scheduler, Linux 6.12 on; older kernels ignore it), so a glide step or a
// tapped event waits less behind other programs. 100 µs is the shortest the
// kernel grants; these threads run for microseconds at a time.
constexpr std::uint64_t urgentSliceNanos = 100'000;

std::string kernelName(const std::string& name) {
    if (name.size() <= kernelThreadNameLimit) return name;
    std::size_t cut = kernelThreadNameLimit;
    // Back up over UTF-8 continuation bytes so that no character is split.
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    return name.substr(0, cut);
}

// What the process keeps for an orderly exit. Never destroyed: it is used
// until the very end of exit.
struct ProcessThreads {
    std::mutex lock;
    bool finished = false;
    std::vector<Task> stops;
    std::vector<pthread_t> handedOver;
};

ProcessThreads& processThreads() {
    static ProcessThreads* const threads = new ProcessThreads();
    return *threads;
}

void registerExitHandler() {
    static std::once_flag once;
    std::call_once(once, [] { std::atexit(&finishThreads); });
}

// Joins the handed-over threads that have ended already, without waiting.
void reapEndedLocked(ProcessThreads& threads) {
    std::erase_if(threads.handedOver, [](pthread_t thread) {
        return !pthread_equal(thread, pthread_self()) && pthread_tryjoin_np(thread, nullptr) == 0;
    });
}

struct StartContext {
    std::string name;
    ThreadPriority priority;
    Task body;
};

void* threadMain(void* raw) {
    std::unique_ptr<StartContext> context(static_cast<StartContext*>(raw));
    setCurrentThreadName(std::move(context->name));
    setCurrentThreadPriority(context->priority);
    Task body = std::move(context->body);
    context.reset();
    body();
    return nullptr;
}

} // namespace

int rawValue(ThreadPriority priority) {
    switch (priority) {
    case ThreadPriority::userInteractive: return 33;
    case ThreadPriority::userInitiated: return 25;
    case ThreadPriority::utility: return 17;
    case ThreadPriority::background: return 9;
    case ThreadPriority::defaultPriority: return 21;
    }
    return 21;
}

std::string_view toString(ThreadPriority priority) {
    switch (priority) {
    case ThreadPriority::userInteractive: return "userInteractive";
    case ThreadPriority::userInitiated: return "userInitiated";
    case ThreadPriority::utility: return "utility";
    case ThreadPriority::background: return "background";
    case ThreadPriority::defaultPriority: return "default";
    }
    return "default";
}

void onFinishThreads(Task stop) {
    registerExitHandler();
    ProcessThreads& threads = processThreads();
    {
        std::lock_guard lock(threads.lock);
        if (!threads.finished) {
            threads.stops.push_back(std::move(stop));
            return;
        }
    }
    stop(); // too late to wait: stop at once
}

void finishThreads() {
    ProcessThreads& threads = processThreads();
    std::vector<Task> stops;
    {
        std::lock_guard lock(threads.lock);
        if (threads.finished) return;
        threads.finished = true;
        stops.swap(threads.stops);
    }
    for (auto it = stops.rbegin(); it != stops.rend(); ++it) (*it)();
    // The stops may hand over more threads (an owner released on its own
    // thread); wait for those as well.
    for (;;) {
        std::vector<pthread_t> handedOver;
        {
            std::lock_guard lock(threads.lock);
            handedOver.swap(threads.handedOver);
        }
        if (handedOver.empty()) return;
        for (pthread_t thread : handedOver) {
            if (pthread_equal(thread, pthread_self()))
                pthread_detach(thread); // exit() called on a handed-over thread
            else
                pthread_join(thread, nullptr);
        }
    }
}

std::string currentThreadName() { return tlsName; }

void setCurrentThreadName(std::string name) {
    pthread_setname_np(pthread_self(), kernelName(name).c_str());
    tlsName = std::move(name);
}

ThreadPriority currentThreadPriority() { return tlsPriority; }

namespace {

bool isUrgent(ThreadPriority priority) {
    return priority == ThreadPriority::userInteractive || priority == ThreadPriority::userInitiated;
}

// The kernel's shortest time slice for the urgent classes, set with the nice
// value now in effect, which the call would otherwise reset.
void applySlice(id_t tid, bool urgent) {
    const auto nice = niceOf(tid);
    if (!nice) return;
    SchedulingAttributes attributes;
    attributes.nice = *nice;
    attributes.runtime = urgent ? urgentSliceNanos : 0;
    (void)syscall(SYS_sched_setattr, tid, &attributes, 0U);
}

} // namespace

std::string_view toString(ThreadNice::SetBy setBy) {
    switch (setBy) {
    case ThreadNice::SetBy::process: return "process";
    case ThreadNice::SetBy::broker: return "broker";
    case ThreadNice::SetBy::nobody: return "nobody";
    }
    return "nobody";
}

ThreadNice currentThreadNice() { return tlsNice; }

void setNiceBroker(NiceBroker broker) {
    std::lock_guard lock(brokerLock);
    niceBroker() = std::move(broker);
}

void setCurrentThreadPriority(ThreadPriority priority) {
    tlsPriority = priority;
    // On Linux a thread's nice value is per thread (set through its thread id).
    const id_t tid = currentThreadID();
    const int wanted = niceValue(priority);
    if (const auto current = niceOf(tid); current && *current != wanted) (void)setpriority(PRIO_PROCESS, tid, wanted);
    // Timed waits of the urgent classes (glide steps, macro delays, request
    // time-outs) wake close to their deadline instead of within the default
    // 50 µs slack; the other classes let the kernel batch their wake-ups.
    const bool urgent = isUrgent(priority);
    (void)prctl(PR_SET_TIMERSLACK, urgent ? 1000UL : 0UL, 0UL, 0UL, 0UL);
    applySlice(tid, urgent);
    const int actual = niceOf(tid).value_or(0);
    tlsNice = ThreadNice{wanted, actual, actual == wanted ? ThreadNice::SetBy::process : ThreadNice::SetBy::nobody};
}

ThreadNice raiseCurrentThreadPriority() {
    if (tlsNice.actual == tlsNice.wanted) return tlsNice;
    NiceBroker broker;
    {
        std::lock_guard lock(brokerLock);
        broker = niceBroker();
    }
    const id_t tid = currentThreadID();
    if (!broker || !broker(static_cast<std::int64_t>(tid), tlsNice.wanted)) return tlsNice;
    tlsNice.actual = niceOf(tid).value_or(tlsNice.actual);
    if (tlsNice.actual == tlsNice.wanted) tlsNice.setBy = ThreadNice::SetBy::broker;
    applySlice(tid, isUrgent(tlsPriority));
    return tlsNice;
}

struct Thread::Handle {
    pthread_t thread;
};

Thread::Thread(Options options, Task body) : name_(options.name) {
    registerExitHandler();
    // Declared first, so that a body that never starts is destroyed only
    // after the lock below is released.
    auto context = std::make_unique<StartContext>(StartContext{std::move(options.name), options.priority, std::move(body)});
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return;
    if (options.stackSize != 0) {
        const long page = sysconf(_SC_PAGESIZE);
        const std::size_t pageSize = page > 0 ? static_cast<std::size_t>(page) : 4096;
        const auto minimum = static_cast<std::size_t>(PTHREAD_STACK_MIN);
        std::size_t size = options.stackSize < minimum ? minimum : options.stackSize;
        size = (size + pageSize - 1) / pageSize * pageSize;
        (void)pthread_attr_setstacksize(&attr, size);
    }
    {
        // Held while the thread is created, so that none starts once the
        // process's threads are finishing.
        ProcessThreads& threads = processThreads();
        std::lock_guard lock(threads.lock);
        pthread_t thread;
        if (!threads.finished && pthread_create(&thread, &attr, &threadMain, context.get()) == 0) {
            context.release(); // owned by the thread now
            handle_ = std::make_unique<Handle>(Handle{thread});
        }
    }
    pthread_attr_destroy(&attr);
}

Thread::Thread() noexcept = default;

Thread::~Thread() {
    if (!handle_) return;
    if (isCurrent())
        detach();
    else
        join();
}

Thread::Thread(Thread&& other) noexcept : handle_(std::move(other.handle_)), name_(std::move(other.name_)) {}

Thread& Thread::operator=(Thread&& other) noexcept {
    if (this != &other) {
        if (handle_) {
            if (isCurrent())
                detach();
            else
                join();
        }
        handle_ = std::move(other.handle_);
        name_ = std::move(other.name_);
    }
    return *this;
}

void Thread::join() {
    if (!handle_) return;
    assert(!isCurrent() && "a thread cannot join itself");
    pthread_join(handle_->thread, nullptr);
    handle_.reset();
}

void Thread::detach() {
    if (!handle_) return;
    ProcessThreads& threads = processThreads();
    {
        std::lock_guard lock(threads.lock);
        reapEndedLocked(threads);
        if (!threads.finished) {
            threads.handedOver.push_back(handle_->thread);
            handle_.reset();
            return;
        }
    }
    // Past finishThreads() nobody would join it.
    pthread_detach(handle_->thread);
    handle_.reset();
}

bool Thread::isCurrent() const { return handle_ && pthread_equal(handle_->thread, pthread_self()) != 0; }

} // namespace ravolet::platform
