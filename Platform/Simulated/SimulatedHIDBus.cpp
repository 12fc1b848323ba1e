#include "Platform/Simulated/SimulatedHIDBus.hpp"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace ravolet::platform {

class SimulatedHIDRegistration;
class SimulatedHIDPort;

// What devices share with the bus: the one mutex that guards all simulated
// state, and the access answer. Devices hold this, not the bus, so that the
// bus (which holds its devices) and its devices never keep each other alive.
struct SimulatedHIDShared {
    mutable std::mutex mutex;
    mutable std::condition_variable outputWritten;
    HIDAccess access = HIDAccess::unknown;
};

// The bus's own state, guarded by the shared mutex.
struct SimulatedHIDBusState {
    const std::shared_ptr<SimulatedHIDShared> shared = std::make_shared<SimulatedHIDShared>();
    std::mutex& mutex = shared->mutex;
    std::vector<std::shared_ptr<SimulatedHIDDevice>> devices;  // attached, registry order
    std::vector<std::weak_ptr<SimulatedHIDRegistration>> registrations;
    IOReturn matchingResult = kIOReturnSuccess;
    bool portsAvailable = true;
    std::uint64_t nextRegistryID = 0x100000A01;
};

// One device reference made from a simulated device.
class SimulatedHIDDeviceHandle final : public HIDDevice, public std::enable_shared_from_this<SimulatedHIDDeviceHandle> {
public:
    explicit SimulatedHIDDeviceHandle(std::shared_ptr<SimulatedHIDDevice> device) : device_(std::move(device)) {}

    std::shared_ptr<HIDService> service() const override { return device_; }

    std::optional<HIDPropertyValue> property(std::string_view key) const override {
        const auto& props = device_->properties();
        const auto it = props.find(key);
        if (it == props.end()) return std::nullopt;
        return it->second;
    }

    IOReturn open() override {
        std::lock_guard lock(bus().mutex);
        if (!device_->attached_) return kIOReturnNoDevice;
        if (device_->openResult_ != kIOReturnSuccess) return device_->openResult_;
        if (bus().access == HIDAccess::denied) return kIOReturnNotPermitted;
        open_ = true;
        return kIOReturnSuccess;
    }

    IOReturn close() override {
        std::lock_guard lock(bus().mutex);
        if (!open_) return kIOReturnNotOpen;
        open_ = false;
        ++generation_;
        return kIOReturnSuccess;
    }

    void scheduleWithRunLoop(std::shared_ptr<Scheduler> runLoop) override {
        std::lock_guard lock(bus().mutex);
        scheduler_ = std::move(runLoop);
        ++generation_;
        ++device_->scheduleCount_;
    }

    void unscheduleFromRunLoop() override {
        std::lock_guard lock(bus().mutex);
        scheduler_.reset();
        ++generation_;
    }

    void registerInputReportCallback(std::size_t maxReportLength, HIDInputReportCallback callback) override {
        std::lock_guard lock(bus().mutex);
        maxReportLength_ = maxReportLength;
        callback_ = std::move(callback);
    }

    IOReturn setReport(HIDReportType, std::uint32_t, std::span<const std::uint8_t> report) override {
        SimulatedHIDResponder responder;
        {
            std::lock_guard lock(bus().mutex);
            if (!device_->attached_) return kIOReturnNoDevice;
            if (!open_) return kIOReturnNotOpen;
            if (device_->writeResult_ != kIOReturnSuccess) return device_->writeResult_;
            device_->outputReports_.emplace_back(report.begin(), report.end());
            responder = device_->responder_;
        }
        bus().outputWritten.notify_all();
        if (responder) {
            for (SimulatedHIDReply& reply : responder(report)) device_->deliver(std::move(reply.report), reply.delay);
        }
        return kIOReturnSuccess;
    }

    // Under the bus mutex: where a report posted now should go, if anywhere.
    std::shared_ptr<Scheduler> deliveryTarget(std::uint64_t& generation) const {
        if (!open_ || !scheduler_) return nullptr;
        generation = generation_;
        return scheduler_;
    }

    bool isOpenLocked() const { return open_; }

    // On the run loop: hands the report over unless the handle was closed,
    // unscheduled or detached since it was posted.
    void receive(std::uint64_t generation, const std::vector<std::uint8_t>& report) {
        HIDInputReportCallback callback;
        std::size_t maxLength = 0;
        {
            std::lock_guard lock(bus().mutex);
            if (!open_ || !scheduler_ || generation != generation_ || !callback_ || !device_->attached_) return;
            callback = callback_;
            maxLength = maxReportLength_;
        }
        const std::span<const std::uint8_t> bytes(report.data(), std::min(report.size(), maxLength));
        callback(kIOReturnSuccess, HIDReportType::input, bytes.empty() ? 0u : bytes[0], bytes);
    }

private:
    SimulatedHIDShared& bus() const { return *device_->shared_; }

    const std::shared_ptr<SimulatedHIDDevice> device_;
    // Guarded by the bus mutex.
    bool open_ = false;
    std::shared_ptr<Scheduler> scheduler_;
    std::uint64_t generation_ = 0;  // changes whenever a posted report must no longer arrive
    HIDInputReportCallback callback_;
    std::size_t maxReportLength_ = 0;
};

// One matched or terminated notification; also its iterator.
class SimulatedHIDRegistration final : public HIDServiceIterator {
public:
    SimulatedHIDRegistration(std::shared_ptr<SimulatedHIDBusState> bus, std::weak_ptr<SimulatedHIDPort> port, HIDNotificationType type,
                             HIDMatching matching, HIDNotificationPort::Callback callback)
        : bus_(std::move(bus)), port_(std::move(port)), type_(type), matching_(matching), callback_(std::move(callback)) {}

    std::shared_ptr<HIDService> next() override {
        std::lock_guard lock(bus_->mutex);
        if (pending_.empty()) return nullptr;
        auto service = std::move(pending_.front());
        pending_.pop_front();
        return service;
    }

    // On the port's run loop.
    void fire() {
        if (port_.expired()) return;
        {
            std::lock_guard lock(bus_->mutex);
            if (pending_.empty()) return;
        }
        callback_(*this);
    }

    const std::shared_ptr<SimulatedHIDBusState> bus_;
    const std::weak_ptr<SimulatedHIDPort> port_;
    const HIDNotificationType type_;
    const HIDMatching matching_;
    const HIDNotificationPort::Callback callback_;
    std::deque<std::shared_ptr<HIDService>> pending_;  // guarded by the bus mutex
};

class SimulatedHIDPort final : public HIDNotificationPort, public std::enable_shared_from_this<SimulatedHIDPort> {
public:
    explicit SimulatedHIDPort(std::shared_ptr<SimulatedHIDBusState> bus) : bus_(std::move(bus)) {}

    void scheduleOn(std::shared_ptr<Executor> runLoop) override {
        std::vector<std::weak_ptr<SimulatedHIDRegistration>> waiting;
        {
            std::lock_guard lock(bus_->mutex);
            executor_ = runLoop;
            for (const auto& weak : bus_->registrations) {
                auto reg = weak.lock();
                if (reg && reg->port_.lock().get() == this && !reg->pending_.empty()) waiting.push_back(reg);
            }
        }
        for (auto& reg : waiting) post(runLoop, std::move(reg));
    }

    void unschedule() override {
        std::lock_guard lock(bus_->mutex);
        executor_.reset();
    }

    std::shared_ptr<HIDServiceIterator> addMatchingNotification(HIDNotificationType type, const HIDMatching& matching,
                                                                Callback callback) override {
        auto reg = std::make_shared<SimulatedHIDRegistration>(bus_, weak_from_this(), type, matching, std::move(callback));
        std::lock_guard lock(bus_->mutex);
        if (type == HIDNotificationType::matched) {
            for (const auto& device : bus_->devices) {
                if (device->matches(matching)) reg->pending_.push_back(device);
            }
        }
        bus_->registrations.push_back(reg);
        return reg;
    }

    // Under the bus mutex.
    std::shared_ptr<Executor> executorLocked() const { return executor_; }

    static void post(const std::shared_ptr<Executor>& executor, std::weak_ptr<SimulatedHIDRegistration> reg) {
        executor->post([reg = std::move(reg)] {
            if (auto live = reg.lock()) live->fire();
        });
    }

private:
    const std::shared_ptr<SimulatedHIDBusState> bus_;
    std::shared_ptr<Executor> executor_;  // guarded by the bus mutex
};

namespace {

// Queues `batch` on every live registration of `type` that matches some of
// it; returns the deliveries to post once the mutex is released.
std::vector<std::pair<std::shared_ptr<Executor>, std::weak_ptr<SimulatedHIDRegistration>>> queueNotifications(
    SimulatedHIDBusState& bus, HIDNotificationType type, const std::vector<std::shared_ptr<SimulatedHIDDevice>>& batch) {
    std::vector<std::pair<std::shared_ptr<Executor>, std::weak_ptr<SimulatedHIDRegistration>>> posts;
    std::erase_if(bus.registrations, [](const auto& weak) { return weak.expired(); });
    for (const auto& weak : bus.registrations) {
        auto reg = weak.lock();
        if (!reg || reg->type_ != type) continue;
        auto port = reg->port_.lock();
        if (!port) continue;
        bool any = false;
        for (const auto& device : batch) {
            if (!device->matches(reg->matching_)) continue;
            reg->pending_.push_back(device);
            any = true;
        }
        if (any) {
            if (auto executor = port->executorLocked()) posts.emplace_back(std::move(executor), reg);
        }
    }
    return posts;
}

void postAll(std::vector<std::pair<std::shared_ptr<Executor>, std::weak_ptr<SimulatedHIDRegistration>>> posts) {
    for (auto& [executor, reg] : posts) SimulatedHIDPort::post(executor, std::move(reg));
}

std::optional<std::int64_t> integerProperty(const HIDProperties& props, std::string_view key) {
    const auto it = props.find(key);
    if (it == props.end()) return std::nullopt;
    if (const auto* v = std::get_if<std::int64_t>(&it->second)) return *v;
    return std::nullopt;
}

} // namespace

SimulatedHIDDevice::SimulatedHIDDevice(std::shared_ptr<SimulatedHIDShared> shared, std::uint64_t registryID, HIDProperties properties)
    : shared_(std::move(shared)), registryID_(registryID), properties_(std::move(properties)) {}

void SimulatedHIDDevice::setOpenResult(IOReturn result) {
    std::lock_guard lock(shared_->mutex);
    openResult_ = result;
}

void SimulatedHIDDevice::setWriteResult(IOReturn result) {
    std::lock_guard lock(shared_->mutex);
    writeResult_ = result;
}

void SimulatedHIDDevice::setResponder(SimulatedHIDResponder responder) {
    std::lock_guard lock(shared_->mutex);
    responder_ = std::move(responder);
}

void SimulatedHIDDevice::inject(std::vector<std::uint8_t> report, std::chrono::nanoseconds delay) { deliver(std::move(report), delay); }

std::vector<std::vector<std::uint8_t>> SimulatedHIDDevice::outputReports() const {
    std::lock_guard lock(shared_->mutex);
    return outputReports_;
}

void SimulatedHIDDevice::clearOutputReports() {
    std::lock_guard lock(shared_->mutex);
    outputReports_.clear();
}

bool SimulatedHIDDevice::waitForOutputReports(std::size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock lock(shared_->mutex);
    return shared_->outputWritten.wait_for(lock, limit, [&] { return outputReports_.size() >= count; });
}

bool SimulatedHIDDevice::isAttached() const {
    std::lock_guard lock(shared_->mutex);
    return attached_;
}

int SimulatedHIDDevice::openHandleCount() const {
    std::lock_guard lock(shared_->mutex);
    int count = 0;
    for (const auto& weak : handles_) {
        if (auto handle = weak.lock(); handle && handle->isOpenLocked()) ++count;
    }
    return count;
}

int SimulatedHIDDevice::scheduleCount() const {
    std::lock_guard lock(shared_->mutex);
    return scheduleCount_;
}

void SimulatedHIDDevice::deliver(std::vector<std::uint8_t> report, std::chrono::nanoseconds delay) {
    struct Target {
        std::shared_ptr<Scheduler> scheduler;
        std::weak_ptr<SimulatedHIDDeviceHandle> handle;
        std::uint64_t generation;
    };
    std::vector<Target> targets;
    {
        std::lock_guard lock(shared_->mutex);
        if (!attached_) return;
        std::erase_if(handles_, [](const auto& weak) { return weak.expired(); });
        for (const auto& weak : handles_) {
            auto handle = weak.lock();
            if (!handle) continue;
            std::uint64_t generation = 0;
            if (auto scheduler = handle->deliveryTarget(generation)) targets.push_back({std::move(scheduler), weak, generation});
        }
    }
    for (Target& t : targets) {
        t.scheduler->postAfter(delay, [handle = t.handle, generation = t.generation, report] {
            if (auto live = handle.lock()) live->receive(generation, report);
        });
    }
}

bool SimulatedHIDDevice::matches(const HIDMatching& matching) const {
    return integerProperty(properties_, hidkey::vendorID) == matching.vendorID &&
           integerProperty(properties_, hidkey::productID) == matching.productID;
}

SimulatedHIDBus::SimulatedHIDBus() : state_(std::make_shared<SimulatedHIDBusState>()) {}

std::shared_ptr<SimulatedHIDBus> SimulatedHIDBus::make() { return std::make_shared<SimulatedHIDBus>(); }

std::vector<std::shared_ptr<SimulatedHIDDevice>> SimulatedHIDBus::attach(std::vector<HIDProperties> batch) {
    std::vector<std::shared_ptr<SimulatedHIDDevice>> devices;
    decltype(queueNotifications(*state_, HIDNotificationType::matched, devices)) posts;
    {
        std::lock_guard lock(state_->mutex);
        for (HIDProperties& props : batch) {
            devices.push_back(std::make_shared<SimulatedHIDDevice>(state_->shared, state_->nextRegistryID++, std::move(props)));
            state_->devices.push_back(devices.back());
        }
        posts = queueNotifications(*state_, HIDNotificationType::matched, devices);
    }
    postAll(std::move(posts));
    return devices;
}

std::shared_ptr<SimulatedHIDDevice> SimulatedHIDBus::attachOne(HIDProperties properties) {
    std::vector<HIDProperties> batch;
    batch.push_back(std::move(properties));
    return attach(std::move(batch)).front();
}

void SimulatedHIDBus::detach(const std::vector<std::shared_ptr<SimulatedHIDDevice>>& batch) {
    decltype(queueNotifications(*state_, HIDNotificationType::terminated, batch)) posts;
    {
        std::lock_guard lock(state_->mutex);
        std::vector<std::shared_ptr<SimulatedHIDDevice>> removed;
        for (const auto& device : batch) {
            if (!device || !device->attached_) continue;
            device->attached_ = false;
            std::erase(state_->devices, device);
            removed.push_back(device);
        }
        posts = queueNotifications(*state_, HIDNotificationType::terminated, removed);
    }
    postAll(std::move(posts));
}

void SimulatedHIDBus::setListenAccess(HIDAccess access) {
    std::lock_guard lock(state_->mutex);
    state_->shared->access = access;
}

void SimulatedHIDBus::setMatchingResult(IOReturn result) {
    std::lock_guard lock(state_->mutex);
    state_->matchingResult = result;
}

void SimulatedHIDBus::setNotificationPortsAvailable(bool available) {
    std::lock_guard lock(state_->mutex);
    state_->portsAvailable = available;
}

int SimulatedHIDBus::activeNotificationCount() const {
    std::lock_guard lock(state_->mutex);
    return static_cast<int>(std::ranges::count_if(state_->registrations, [](const auto& weak) { return !weak.expired(); }));
}

std::expected<std::vector<std::shared_ptr<HIDService>>, IOReturn> SimulatedHIDBus::matchingServices(const HIDMatching& matching) {
    std::lock_guard lock(state_->mutex);
    if (state_->matchingResult != kIOReturnSuccess) return std::unexpected(state_->matchingResult);
    std::vector<std::shared_ptr<HIDService>> services;
    for (const auto& device : state_->devices) {
        if (device->matches(matching)) services.push_back(device);
    }
    return services;
}

std::shared_ptr<HIDDevice> SimulatedHIDBus::createDevice(const std::shared_ptr<HIDService>& service) {
    auto device = std::dynamic_pointer_cast<SimulatedHIDDevice>(service);
    if (!device || device->shared_ != state_->shared) return nullptr;
    auto handle = std::make_shared<SimulatedHIDDeviceHandle>(device);
    std::lock_guard lock(state_->mutex);
    if (!device->attached_) return nullptr;
    device->handles_.push_back(handle);
    return handle;
}

std::shared_ptr<HIDNotificationPort> SimulatedHIDBus::createNotificationPort() {
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->portsAvailable) return nullptr;
    }
    return std::make_shared<SimulatedHIDPort>(state_);
}

HIDAccess SimulatedHIDBus::checkListenAccess() {
    std::lock_guard lock(state_->mutex);
    return state_->shared->access;
}

HIDProperties SimulatedHIDInterface::properties() const {
    HIDProperties props;
    props.emplace(hidkey::vendorID, vendorID);
    props.emplace(hidkey::productID, productID);
    if (product) props.emplace(hidkey::product, *product);
    if (manufacturer) props.emplace(hidkey::manufacturer, *manufacturer);
    if (serialNumber) props.emplace(hidkey::serialNumber, *serialNumber);
    if (locationID) props.emplace(hidkey::locationID, *locationID);
    props.emplace(hidkey::transport, transport);
    props.emplace(hidkey::primaryUsagePage, primaryUsagePage);
    props.emplace(hidkey::primaryUsage, primaryUsage);
    props.emplace(hidkey::maxInputReportSize, maxInputReportSize);
    props.emplace(hidkey::maxOutputReportSize, maxOutputReportSize);
    std::vector<HIDDictionary> pairs;
    for (const auto& [page, usage] : usagePairs) {
        pairs.push_back(HIDDictionary{{std::string(hidkey::deviceUsagePage), page}, {std::string(hidkey::deviceUsage), usage}});
    }
    props.emplace(hidkey::deviceUsagePairs, std::move(pairs));
    return props;
}

} // namespace ravolet::platform
