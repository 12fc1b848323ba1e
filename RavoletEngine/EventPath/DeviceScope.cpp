#include "RavoletEngine/EventPath/DeviceScope.hpp"

#include <algorithm>

#include "Platform/MonotonicClock.hpp"
#include "Platform/SerialQueue.hpp"

namespace ravolet {

using Entry = PrivateSPI::Entry;

namespace {

// Button downs and ups and the three dragged types: the events whose field 87
// names their sender.
constexpr std::uint64_t senderFieldTypes = 0xE0000DE;

} // namespace

std::ostream& operator<<(std::ostream& os, const DeviceScope::Counters& c) {
    return os << "Counters(target " << c.target << ", foreign " << c.foreign << ", noHIDEvent "
              << c.unidentifiedNoHIDEvent << ", unknownSender " << c.unidentifiedUnknownSender << ", spiUnavailable "
              << c.unidentifiedSPIUnavailable << ", refreshes " << c.refreshes << ')';
}

std::shared_ptr<DeviceScope> DeviceScope::create(std::vector<HIDPPDeviceMatch> matches, std::shared_ptr<PrivateSPI> spi,
                                                 std::shared_ptr<platform::Executor> refreshQueue,
                                                 std::function<std::uint64_t()> ticks) {
    auto scope = std::make_shared<DeviceScope>(Passkey{}, std::move(matches), std::move(spi), std::move(refreshQueue),
                                               std::move(ticks));
    scope->refresh(false);
    return scope;
}

DeviceScope::DeviceScope(Passkey, std::vector<HIDPPDeviceMatch> matches, std::shared_ptr<PrivateSPI> spi,
                         std::shared_ptr<platform::Executor> refreshQueue, std::function<std::uint64_t()> ticks)
    : spi_(std::move(spi)),
      ticks_(ticks ? std::move(ticks) : std::function<std::uint64_t()>(&platform::MonotonicClock::ticks)),
      matches_(std::move(matches)),
      refreshQueue_(refreshQueue ? std::move(refreshQueue)
                                 : std::make_shared<platform::SerialQueue>(std::string(refreshQueueLabel),
                                                                           platform::QueuePriority::utility)) {}

std::optional<std::int64_t> DeviceScope::syntheticSourceTag() const {
    if (!hasSyntheticSourceTag_.load(std::memory_order_acquire)) return std::nullopt;
    return syntheticSourceTag_.load(std::memory_order_relaxed);
}

void DeviceScope::setSyntheticSourceTag(std::optional<std::int64_t> tag) {
    if (!tag) {
        hasSyntheticSourceTag_.store(false, std::memory_order_release);
        return;
    }
    syntheticSourceTag_.store(*tag, std::memory_order_relaxed);
    hasSyntheticSourceTag_.store(true, std::memory_order_release);
}

DeviceID DeviceScope::syntheticDeviceID() const { return DeviceID(syntheticDeviceID_.load(std::memory_order_relaxed)); }

void DeviceScope::setSyntheticDeviceID(DeviceID id) { syntheticDeviceID_.store(id.rawValue, std::memory_order_relaxed); }

std::vector<HIDPPDeviceMatch> DeviceScope::matches() const {
    std::lock_guard guard(lock_);
    return matches_;
}

void DeviceScope::setMatches(std::vector<HIDPPDeviceMatch> matches) {
    {
        std::lock_guard guard(lock_);
        matches_ = std::move(matches);
    }
    refresh(true);
}

bool DeviceScope::spiUsable() const {
    // Asked for every event: the answer never changes once the functions have
    // been looked up, so it is worked out once.
    std::call_once(spiChecked_, [this] {
        spiUsable_ = spi_->isAvailable(Entry::cgEventCopyIOHIDEvent) && spi_->isAvailable(Entry::ioHIDEventGetSenderID) &&
                     spi_->isAvailable(Entry::ioHIDEventSystemClientCreateSimpleClient) &&
                     spi_->isAvailable(Entry::ioHIDEventSystemClientCopyServices) &&
                     spi_->isAvailable(Entry::ioHIDServiceClientGetRegistryIDRaw);
    });
    return spiUsable_;
}

std::optional<std::uint64_t> DeviceScope::deviceSenderID(const platform::Event& event) const {
    if (spi_->isAvailable(Entry::cgEventCopyIOHIDEvent) && spi_->isAvailable(Entry::ioHIDEventGetSenderID)) {
        if (const auto hidEvent = spi_->copyIOHIDEvent(event)) {
            const auto sender = spi_->hidEventSenderID(*hidEvent);
            spi_->releaseHIDEvent(*hidEvent);
            if (sender && *sender != 0) return sender;
        }
    }
    const auto type = event.type();
    if (type < 64 && ((senderFieldTypes >> type) & 1) != 0) {
        const auto field = event.integerValueField(platform::EventFields::mouseEventSenderID);
        if (field >= 1) return static_cast<std::uint64_t>(field);
    }
    return std::nullopt;
}

ScopeDecision DeviceScope::decide(const platform::Event& event) {
    if (const auto tag = syntheticSourceTag();
        tag && event.integerValueField(platform::EventFields::eventSourceUserData) == *tag) {
        std::lock_guard guard(lock_);
        ++counters_.target;
        return ScopeDecision::target(syntheticDeviceID());
    }
    if (!spiUsable()) {
        std::lock_guard guard(lock_);
        ++counters_.unidentifiedSPIUnavailable;
        return ScopeDecision::unidentified(UnidentifiedReason::spiUnavailable);
    }
    const auto sender = deviceSenderID(event);
    if (!sender) {
        std::lock_guard guard(lock_);
        ++counters_.unidentifiedNoHIDEvent;
        return ScopeDecision::unidentified(UnidentifiedReason::noHIDEvent);
    }
    {
        std::lock_guard guard(lock_);
        if (targetRegistryIDs_.contains(*sender)) {
            ++counters_.target;
            return ScopeDecision::target(DeviceID(*sender));
        }
        if (servicesByRegistryID_.contains(*sender)) {
            ++counters_.foreign;
            return ScopeDecision::foreign(DeviceID(*sender));
        }
        ++counters_.unidentifiedUnknownSender;
    }
    // A device may have appeared since the last refresh.
    refresh(false);
    return ScopeDecision::unidentified(UnidentifiedReason::unknownSender);
}

void DeviceScope::refresh(bool force) {
    {
        std::lock_guard guard(lock_);
        if (refreshInFlight_) {
            if (force) refreshPending_ = true;
            return;
        }
        const auto now = ticks_();
        if (!force && lastRefreshTicks_ != 0 &&
            platform::MonotonicClock::milliseconds(now - lastRefreshTicks_) < refreshIntervalMillis)
            return;
        lastRefreshTicks_ = now;
        refreshInFlight_ = true;
    }
    refreshQueue_->post([weakSelf = weak_from_this()] {
        if (auto self = weakSelf.lock()) self->performRefresh();
    });
}

void DeviceScope::refreshNow() {
    {
        std::lock_guard guard(lock_);
        refreshInFlight_ = true;
        lastRefreshTicks_ = ticks_();
    }
    performRefresh();
}

std::optional<ScopedDevice> DeviceScope::describe(platform::HIDServiceRef service) const {
    const auto registryID = spi_->serviceRegistryIDNumber(service);
    if (!registryID || *registryID == 0) return std::nullopt;

    ScopedDevice device;
    device.registryID = *registryID;
    if (!spi_->isAvailable(Entry::ioHIDServiceClientCopyProperty)) return device;
    device.vendorID = spi_->copyServiceInteger(service, "VendorID");
    device.productID = spi_->copyServiceInteger(service, "ProductID");
    device.product = spi_->copyServiceString(service, "Product");
    device.transport = spi_->copyServiceString(service, "Transport");
    device.primaryUsagePage = spi_->copyServiceInteger(service, "PrimaryUsagePage");
    device.primaryUsage = spi_->copyServiceInteger(service, "PrimaryUsage");
    return device;
}

void DeviceScope::performRefresh() {
    std::optional<std::map<std::uint64_t, ScopedDevice>> listed;
    if (const auto client = spi_->createSimpleClient()) {
        if (const auto services = spi_->copyServices(*client)) {
            listed.emplace();
            for (const auto service : *services)
                if (auto device = describe(service)) listed->insert_or_assign(device->registryID, std::move(*device));
        }
        // Each refresh has a client of its own, released once its services are read.
        spi_->releaseClient(*client);
    }

    // Finding nothing at all keeps the tables: the enumeration may have failed.
    std::function<void()> attachmentChanged;
    if (listed && !listed->empty()) {
        std::lock_guard guard(lock_);
        std::unordered_set<std::uint64_t> targets;
        for (const auto& [id, device] : *listed)
            if (std::any_of(matches_.begin(), matches_.end(), [&](const auto& m) { return device.matches(m); }))
                targets.insert(id);
        servicesByRegistryID_ = std::move(*listed);
        if (targets.empty() != targetRegistryIDs_.empty()) attachmentChanged = onAttachmentChange_;
        targetRegistryIDs_ = std::move(targets);
        ++counters_.refreshes;
    }
    if (attachmentChanged) attachmentChanged();

    bool pending = false;
    {
        std::lock_guard guard(lock_);
        pending = refreshPending_;
        refreshInFlight_ = false;
        refreshPending_ = false;
    }
    if (pending) refresh(true);
}

DeviceScope::Counters DeviceScope::snapshotCounters() const {
    std::lock_guard guard(lock_);
    return counters_;
}

void DeviceScope::resetCounters() {
    std::lock_guard guard(lock_);
    counters_ = Counters{};
}

std::vector<ScopedDevice> DeviceScope::knownDevices() const {
    std::lock_guard guard(lock_);
    std::vector<ScopedDevice> devices;
    devices.reserve(servicesByRegistryID_.size());
    for (const auto& [id, device] : servicesByRegistryID_) devices.push_back(device);
    return devices;
}

std::vector<ScopedDevice> DeviceScope::targetDevices() const {
    std::lock_guard guard(lock_);
    std::vector<ScopedDevice> devices;
    for (const auto& [id, device] : servicesByRegistryID_)
        if (targetRegistryIDs_.contains(id)) devices.push_back(device);
    return devices;
}

bool DeviceScope::isTargetAttached() const {
    std::lock_guard guard(lock_);
    return !targetRegistryIDs_.empty();
}

void DeviceScope::setOnAttachmentChange(std::function<void()> handler) {
    std::lock_guard guard(lock_);
    onAttachmentChange_ = std::move(handler);
}

} // namespace ravolet
