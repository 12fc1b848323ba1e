#pragma once

// Shared by the HIDPPDevice tests: a device on a simulated bus with the
// simulated mouse, in one of two set-ups. In virtual time one manual scheduler
// is the HID I/O thread, every send queue and the device's own queue, so each
// step is deterministic and time-outs pass without waiting. With threads the
// real HID I/O thread and serial queues run it, as in the program; waits are
// then on conditions with generous limits.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "HIDPlusPlus/HIDPPDevice.hpp"
#include "Platform/Simulated/ManualScheduler.hpp"
#include "Platform/Simulated/SimulatedHIDBus.hpp"
#include "Platform/Simulated/SimulatedMouse.hpp"

namespace ravolet {

// Readable test failures for results (found through the error type's namespace).
template <class T>
void PrintTo(const std::expected<T, HIDPPError>& result, std::ostream* os) {
    if (!result) {
        *os << "error: " << result.error().description();
    } else if constexpr (std::is_void_v<T>) {
        *os << "success";
    } else if constexpr (requires { *os << *result; }) {
        *os << *result;
    } else {
        *os << ::testing::PrintToString(*result);
    }
}

} // namespace ravolet

namespace ravolet::testing {

enum class RigMode { virtualTime, threads };

// The real HID I/O thread and serial queues (defined with the threaded runs).
HIDPPEnvironment threadedEnvironment(std::shared_ptr<platform::HIDSystem> hid);
std::shared_ptr<platform::Scheduler> makeSerialQueue(const char* label);

inline std::string rigModeName(const ::testing::TestParamInfo<RigMode>& info) {
    return info.param == RigMode::virtualTime ? "VirtualTime" : "Threads";
}

// The result of an operation still under way.
template <class T>
class Pending {
public:
    HIDPPCompletion<T> completion() const {
        return [slot = slot_](HIDPPResult<T> result) {
            std::lock_guard lock(slot->mutex);
            slot->result = std::move(result);
        };
    }
    bool done() const {
        std::lock_guard lock(slot_->mutex);
        return slot_->result.has_value();
    }
    HIDPPResult<T> get() const {
        std::lock_guard lock(slot_->mutex);
        return slot_->result.value_or(std::unexpected(HIDPPError::malformedResponse("test: no completion")));
    }

private:
    struct Slot {
        std::mutex mutex;
        std::optional<HIDPPResult<T>> result;
    };
    std::shared_ptr<Slot> slot_ = std::make_shared<Slot>();
};

class DeviceRig {
public:
    explicit DeviceRig(RigMode mode) : mode(mode) {
        if (mode == RigMode::virtualTime) loop = std::make_shared<platform::ManualScheduler>();
        mouse->plugIn(bus);
        device = makeDevice();
    }

    ~DeviceRig() {
        device.reset();
        if (loop) loop->runUntilIdle();
    }

    HIDPPEnvironment environment() const {
        if (loop) return HIDPPEnvironment{bus, loop, [loop = loop] { return std::shared_ptr<platform::Executor>(loop); }};
        return threadedEnvironment(bus);
    }

    std::shared_ptr<HIDPPDevice> makeDevice() const {
        std::shared_ptr<platform::Scheduler> queue = loop;
        if (!queue) queue = makeSerialQueue("ai.ravolet.hidpp.device");
        return HIDPPDevice::create(HIDPPDeviceMatch::g502X, environment(), std::move(queue));
    }

    // An executor for a caller or subscriber of its own.
    std::shared_ptr<platform::Scheduler> makeExecutor(const char* label) {
        if (!loop) return makeSerialQueue(label);
        auto other = std::make_shared<platform::ManualScheduler>();
        extraLoops.push_back(other);
        return other;
    }

    // Runs what is due; in virtual time the clock then moves on in 1 ms steps
    // until `done` holds. False when a generous limit passed first.
    bool eventually(const std::function<bool()>& done) {
        if (loop) {
            const std::uint64_t limit = loop->nowNanos() + std::chrono::nanoseconds(std::chrono::minutes(5)).count();
            for (;;) {
                pump();
                if (done()) return true;
                if (loop->nowNanos() > limit) return false;
                loop->advance(std::chrono::milliseconds(1));
            }
        }
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!done()) {
            if (std::chrono::steady_clock::now() > limit) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    // Lets time pass: in virtual time the clock moves on in 1 ms steps,
    // running what falls due; with threads the test sleeps.
    void elapse(std::chrono::milliseconds duration) {
        if (!loop) return std::this_thread::sleep_for(duration);
        for (auto passed = std::chrono::milliseconds(0); passed < duration; passed += std::chrono::milliseconds(1)) {
            pump();
            loop->advance(std::chrono::milliseconds(1));
        }
        pump();
    }

    // Lets everything already set in motion run to the end, without moving
    // the virtual clock (with threads: lines up behind the device's queue and
    // the HID thread, twice over).
    void settle() {
        if (loop) return pump();
        for (int i = 0; i < 2; ++i) {
            bool done = false;
            std::mutex m;
            environment().io->post([&] {
                device->queue()->post([&] {
                    std::lock_guard lock(m);
                    done = true;
                });
            });
            eventually([&] {
                std::lock_guard lock(m);
                return done;
            });
        }
    }

    // Waits for an operation under way and gives its result.
    template <class T>
    HIDPPResult<T> wait(const Pending<T>& pending) {
        if (!eventually([&] { return pending.done(); })) ADD_FAILURE() << "operation did not complete";
        return pending.get();
    }

    template <class T>
    HIDPPResult<T> await(const std::function<void(HIDPPCompletion<T>)>& start) {
        Pending<T> pending;
        start(pending.completion());
        return wait(pending);
    }

    const RigMode mode;
    std::shared_ptr<platform::ManualScheduler> loop; // virtual time only
    std::vector<std::shared_ptr<platform::ManualScheduler>> extraLoops;
    std::shared_ptr<platform::SimulatedHIDBus> bus = platform::SimulatedHIDBus::make();
    std::shared_ptr<platform::SimulatedMouse> mouse = platform::SimulatedMouse::make();
    std::shared_ptr<HIDPPDevice> device;

private:
    void pump() {
        for (bool ran = true; ran;) {
            ran = loop->runUntilIdle() > 0;
            for (auto& other : extraLoops) ran = other->runUntilIdle() > 0 || ran;
        }
    }
};

// Subscribes to a device and keeps every event, in order.
class EventRecorder {
public:
    EventRecorder(DeviceRig& rig, std::shared_ptr<platform::Executor> executor = nullptr) : rig_(rig) {
        subscription_ = rig.device->subscribe(std::move(executor), [this](const HIDPPEvent& event) {
            std::lock_guard lock(mutex_);
            events_.push_back(event);
        });
    }

    std::vector<HIDPPEvent> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }

    // Waits for at least `count` events and returns them all.
    std::vector<HIDPPEvent> waitFor(std::size_t count) {
        if (!rig_.eventually([&] { return events().size() >= count; }))
            ADD_FAILURE() << "expected " << count << " events, got " << events().size();
        return events();
    }

    void clear() {
        std::lock_guard lock(mutex_);
        events_.clear();
    }

    HIDPPEventSubscription& subscription() { return subscription_; }

private:
    DeviceRig& rig_;
    mutable std::mutex mutex_;
    std::vector<HIDPPEvent> events_;
    HIDPPEventSubscription subscription_;
};

} // namespace ravolet::testing
