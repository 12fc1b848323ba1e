#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "Platform/HIDSystem.hpp"

namespace ravolet::platform {

struct SimulatedHIDBusState;
struct SimulatedHIDShared;
class SimulatedHIDDeviceHandle;

// One input report a simulated device sends, `delay` after the output report
// that caused it (or after the inject() call).
struct SimulatedHIDReply {
    std::vector<std::uint8_t> report;
    std::chrono::nanoseconds delay{0};
};

// Answers one output report with any number of timed input reports (none
// drops it). Called on the writer's thread, without any lock of the bus held.
using SimulatedHIDResponder = std::function<std::vector<SimulatedHIDReply>(std::span<const std::uint8_t> outputReport)>;

// The hardware behind one registry entry of the simulated bus. Input reports
// (responder replies and injected ones) reach every device handle made from it
// that is open, scheduled and has a callback, on that handle's run loop, and
// are checked again when they arrive: nothing reaches a handle that was closed
// or unscheduled meanwhile, or a device that was detached.
class SimulatedHIDDevice final : public HIDService {
public:
    std::optional<std::uint64_t> registryEntryID() const override { return registryID_; }
    std::uint64_t registryID() const { return registryID_; }
    const HIDProperties& properties() const { return properties_; }

    // What open() and setReport() of its handles return (success by default).
    void setOpenResult(IOReturn result);
    void setWriteResult(IOReturn result);
    void setResponder(SimulatedHIDResponder responder);

    // Sends an unsolicited input report.
    void inject(std::vector<std::uint8_t> report, std::chrono::nanoseconds delay = std::chrono::nanoseconds(0));

    // Every output report written successfully, in order.
    std::vector<std::vector<std::uint8_t>> outputReports() const;
    void clearOutputReports();
    // Waits (on a condition, up to `limit`) until at least `count` output
    // reports have been written; false when the limit passed first.
    bool waitForOutputReports(std::size_t count, std::chrono::milliseconds limit) const;

    bool isAttached() const;
    // Whether its vendor and product properties are the matching's.
    bool matches(const HIDMatching& matching) const;
    // Handles of this device that are open now.
    int openHandleCount() const;
    // How often a handle of this device was scheduled on a run loop.
    int scheduleCount() const;

    SimulatedHIDDevice(std::shared_ptr<SimulatedHIDShared> shared, std::uint64_t registryID, HIDProperties properties);

private:
    friend class SimulatedHIDBus;
    friend class SimulatedHIDDeviceHandle;

    // Posts the report to every handle that may receive it.
    void deliver(std::vector<std::uint8_t> report, std::chrono::nanoseconds delay);

    const std::shared_ptr<SimulatedHIDShared> shared_;
    const std::uint64_t registryID_;
    const HIDProperties properties_;
    // The rest is guarded by the shared mutex.
    bool attached_ = true;
    IOReturn openResult_ = kIOReturnSuccess;
    IOReturn writeResult_ = kIOReturnSuccess;
    SimulatedHIDResponder responder_;
    std::vector<std::vector<std::uint8_t>> outputReports_;
    std::vector<std::weak_ptr<SimulatedHIDDeviceHandle>> handles_;
    int scheduleCount_ = 0;
};

// A HID system that tests script: devices attach and detach a batch at a time
// (each batch is one matched or terminated notification), lookups and
// notification ports can be made to fail, and the Input Monitoring answer is
// settable (denied access makes every open fail with kIOReturnNotPermitted,
// as the host does).
class SimulatedHIDBus final : public HIDSystem {
public:
    static std::shared_ptr<SimulatedHIDBus> make();

    std::vector<std::shared_ptr<SimulatedHIDDevice>> attach(std::vector<HIDProperties> batch);
    // A batch of one.
    std::shared_ptr<SimulatedHIDDevice> attachOne(HIDProperties properties);
    void detach(const std::vector<std::shared_ptr<SimulatedHIDDevice>>& batch);

    void setListenAccess(HIDAccess access);
    // A non-success result makes matchingServices() fail with it.
    void setMatchingResult(IOReturn result);
    void setNotificationPortsAvailable(bool available);
    // Notification registrations whose iterator is still held.
    int activeNotificationCount() const;

    // HIDSystem
    std::expected<std::vector<std::shared_ptr<HIDService>>, IOReturn> matchingServices(const HIDMatching& matching) override;
    std::shared_ptr<HIDDevice> createDevice(const std::shared_ptr<HIDService>& service) override;
    std::shared_ptr<HIDNotificationPort> createNotificationPort() override;
    HIDAccess checkListenAccess() override;

    SimulatedHIDBus();

private:
    const std::shared_ptr<SimulatedHIDBusState> state_;
};

// Builds the properties of one HID interface, for tests and simulated devices.
struct SimulatedHIDInterface {
    std::int64_t vendorID = 0;
    std::int64_t productID = 0;
    std::optional<std::string> product;
    std::optional<std::string> manufacturer;
    std::optional<std::string> serialNumber;
    std::optional<std::int64_t> locationID;
    std::int64_t primaryUsagePage = 0;
    std::int64_t primaryUsage = 0;
    std::vector<std::pair<std::int64_t, std::int64_t>> usagePairs;  // (page, usage)
    std::int64_t maxInputReportSize = 0;
    std::int64_t maxOutputReportSize = 0;
    std::string transport = "USB";

    HIDProperties properties() const;
};

} // namespace ravolet::platform
