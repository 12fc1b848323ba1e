#include "HIDPlusPlus/HIDPPLink.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace ravolet {

namespace pf = platform;

namespace {

std::optional<std::int64_t> integerProperty(const pf::HIDDevice& device, std::string_view key) {
    const auto value = device.property(key);
    if (!value) return std::nullopt;
    if (const auto* i = std::get_if<std::int64_t>(&*value)) return *i;
    return std::nullopt;
}

std::optional<std::string> textProperty(const pf::HIDDevice& device, std::string_view key) {
    const auto value = device.property(key);
    if (!value) return std::nullopt;
    if (const auto* s = std::get_if<std::string>(&*value)) return *s;
    return std::nullopt;
}

// Only a list whose dictionaries all map texts to integers counts; anything
// else gives no pairs at all.
std::vector<HIDUsagePair> usagePairs(const pf::HIDDevice& device) {
    const auto value = device.property(pf::hidkey::deviceUsagePairs);
    if (!value) return {};
    const auto* list = std::get_if<std::vector<pf::HIDDictionary>>(&*value);
    if (!list) return {};
    std::vector<HIDUsagePair> pairs;
    for (const pf::HIDDictionary& dictionary : *list) {
        HIDUsagePair pair;
        for (const auto& [key, entry] : dictionary) {
            const auto* number = std::get_if<std::int64_t>(&entry);
            if (!number) return {};
            if (key == pf::hidkey::deviceUsagePage) pair.usagePage = *number;
            if (key == pf::hidkey::deviceUsage) pair.usage = *number;
        }
        pairs.push_back(pair);
    }
    return pairs;
}

// A time-out from the caller as a delay: negative or NaN counts as none, and
// anything beyond a day is a day (the scheduler's deadline never overflows).
std::chrono::nanoseconds delayFor(double seconds) {
    if (!(seconds > 0)) return std::chrono::nanoseconds(0);
    constexpr double day = 86400.0;
    return std::chrono::nanoseconds(static_cast<std::int64_t>(std::min(seconds, day) * 1e9));
}

std::uint64_t registryIDOf(const pf::HIDDevice& device) {
    const auto service = device.service();
    return service ? service->registryEntryID().value_or(0) : 0;
}

} // namespace

HIDPPDeviceIdentity HIDPPLink::readIdentity(const pf::HIDDevice& device) {
    HIDPPDeviceIdentity identity;
    identity.usagePairs = usagePairs(device);
    identity.vendorID = integerProperty(device, pf::hidkey::vendorID).value_or(0);
    identity.productID = integerProperty(device, pf::hidkey::productID).value_or(0);
    identity.product = textProperty(device, pf::hidkey::product);
    identity.manufacturer = textProperty(device, pf::hidkey::manufacturer);
    identity.serialNumber = textProperty(device, pf::hidkey::serialNumber);
    identity.locationID = integerProperty(device, pf::hidkey::locationID);
    identity.primaryUsagePage = integerProperty(device, pf::hidkey::primaryUsagePage).value_or(0);
    identity.primaryUsage = integerProperty(device, pf::hidkey::primaryUsage).value_or(0);
    identity.maxInputReportSize = integerProperty(device, pf::hidkey::maxInputReportSize).value_or(0);
    identity.maxOutputReportSize = integerProperty(device, pf::hidkey::maxOutputReportSize).value_or(0);
    return identity;
}

HIDPPLink::HIDPPLink(Passkey, std::shared_ptr<pf::HIDDevice> device, HIDPPEnvironment environment)
    : device_(std::move(device)),
      environment_(std::move(environment)),
      identity_(readIdentity(*device_)),
      registryID_(registryIDOf(*device_)),
      sendQueue_(environment_.makeSendQueue ? environment_.makeSendQueue() : nullptr) {}

std::shared_ptr<HIDPPLink> HIDPPLink::make(std::shared_ptr<pf::HIDDevice> device, HIDPPEnvironment environment) {
    return std::make_shared<HIDPPLink>(Passkey{}, std::move(device), std::move(environment));
}

HIDPPLink::~HIDPPLink() {
    // Only a closed link can be destroyed with requests left (an open one
    // keeps itself alive); their completions are still owed an answer.
    if (!queue_.empty()) failAll(HIDPPError::notConnected());
}

std::expected<void, HIDPPError> HIDPPLink::open() {
    if (isOpen_) return {};
    if (const pf::IOReturn code = device_->open(); code != pf::kIOReturnSuccess) {
        return std::unexpected(HIDPPError::from(code, "IOHIDDeviceOpen"));
    }
    isOpen_ = true;
    selfRetain_ = shared_from_this();
    inputBufferLength_ = std::max<std::size_t>(minimumInputBufferLength,
                                               static_cast<std::size_t>(std::clamp<std::int64_t>(identity_.maxInputReportSize, 0, 1 << 16)));
    device_->scheduleWithRunLoop(environment_.io);
    device_->registerInputReportCallback(
        inputBufferLength_, [weak = weak_from_this()](pf::IOReturn, pf::HIDReportType, std::uint32_t reportID, std::span<const std::uint8_t> report) {
            const auto link = weak.lock();
            if (!link || report.empty()) return;
            if (report[0] == reportID) {
                link->handleInputReport(report);
                return;
            }
            // Reports without the identifier in front get it put back, so
            // that every report is read the same way.
            std::vector<std::uint8_t> withID;
            withID.reserve(report.size() + 1);
            withID.push_back(static_cast<std::uint8_t>(reportID));
            withID.insert(withID.end(), report.begin(), report.end());
            link->handleInputReport(withID);
        });
    return {};
}

void HIDPPLink::stopDevice(bool unregisterCallback) {
    isOpen_ = false;
    if (unregisterCallback && inputBufferLength_ > 0) device_->registerInputReportCallback(inputBufferLength_, nullptr);
    device_->unscheduleFromRunLoop();
    device_->close();
}

void HIDPPLink::close() {
    cancelTimer();
    failAll(HIDPPError::notConnected());
    if (!isOpen_) return;
    stopDevice(true);
    inputBufferLength_ = 0;
    // From here on the link may go as soon as this call returns.
    const auto keepUntilReturn = std::move(selfRetain_);
}

void HIDPPLink::invalidate() {
    cancelTimer();
    failAll(HIDPPError::deviceRemoved());
    // The callback is unregistered too: the removed device delivers nothing
    // more, and no stale registration is left behind.
    if (isOpen_) stopDevice(true);
    inputBufferLength_ = 0;
    const auto keepUntilReturn = std::move(selfRetain_);
}

void HIDPPLink::submit(std::uint8_t deviceIndex, std::uint8_t featureIndex, std::uint8_t function, std::vector<std::uint8_t> parameters,
                       bool isLong, double timeoutSeconds, std::string label, Completion completion) {
    if (!isOpen_) {
        completion(std::unexpected(HIDPPError::notOpen()));
        return;
    }
    const std::uint8_t softwareID = HIDPPWire::softwareIDAfter(lastSoftwareID_);
    auto report = HIDPPWire::encodeRequest(deviceIndex, featureIndex, function, parameters, isLong, softwareID);
    if (!report) {
        completion(std::unexpected(std::move(report.error())));
        return;
    }
    lastSoftwareID_ = softwareID;
    PendingRequest request;
    request.id = nextRequestID_++;
    request.key = {(*report)[1], (*report)[2], (*report)[3]};
    request.report = std::move(*report);
    request.timeout = timeoutSeconds;
    request.label = std::move(label);
    request.completion = std::move(completion);
    queue_.push_back(std::move(request));
    statistics_.peakQueueDepth = std::max(statistics_.peakQueueDepth, static_cast<std::int64_t>(queue_.size()));
    pump();
}

void HIDPPLink::pump() {
    if (inFlight_ || cooldownTimer_ || queue_.empty()) return;
    if (!isOpen_) {
        failAll(HIDPPError::notOpen());
        return;
    }
    inFlight_ = true;
    PendingRequest& head = queue_.front();
    // The answer to this request must not be taken for a stale one.
    unretire(head.key);
    ++statistics_.requestsSent;
    startTimer(head);
    // A failed write is handled after this call, as if it had been written
    // elsewhere: the completion may submit again.
    const auto write = [weak = weak_from_this(), device = device_, io = environment_.io](const std::vector<std::uint8_t>& report,
                                                                                       std::uint64_t id) {
        const pf::IOReturn code = device->setReport(pf::HIDReportType::output, report[0], report);
        if (code == pf::kIOReturnSuccess) return;
        io->post([weak, id, code] {
            if (const auto link = weak.lock()) link->handleSendFailure(id, code);
        });
    };
    if (!sendQueue_) return write(head.report, head.id);
    sendQueue_->post([weak = weak_from_this(), write, report = head.report, id = head.id] {
        if (!weak.expired()) write(report, id);
    });
}

void HIDPPLink::startTimer(PendingRequest& request) {
    request.deadline = pf::Scheduler::deadlineAfter(environment_.io->nowNanos(), delayFor(request.timeout));
    // One check stays scheduled while requests follow one another, moved only
    // for a request whose time comes before it: a request answered in time
    // then costs no timer of its own.
    if (timeoutCheckAt_ != 0 && timeoutCheckAt_ <= request.deadline) return;
    scheduleTimeoutCheck(request.deadline);
}

void HIDPPLink::scheduleTimeoutCheck(std::uint64_t at) {
    timer_.cancel();
    timeoutCheckAt_ = std::max<std::uint64_t>(at, 1);
    timer_ = environment_.io->postAt(at, [weak = weak_from_this()] {
        if (const auto link = weak.lock()) link->checkTimeout();
    });
}

void HIDPPLink::checkTimeout() {
    timer_ = {};
    timeoutCheckAt_ = 0;
    if (!inFlight_ || queue_.empty()) return;
    const PendingRequest& head = queue_.front();
    if (head.deadline > environment_.io->nowNanos()) return scheduleTimeoutCheck(head.deadline);
    handleTimeout(head.id);
}

void HIDPPLink::cancelTimer() {
    timer_.cancel();
    timer_ = {};
    timeoutCheckAt_ = 0;
    cooldownTimer_.cancel();
    cooldownTimer_ = {};
}

void HIDPPLink::startCooldown() {
    cooldownTimer_.cancel();
    cooldownTimer_ = environment_.io->postAfter(cooldown, [weak = weak_from_this()] {
        const auto link = weak.lock();
        if (!link) return;
        link->cooldownTimer_ = {};
        link->pump();
    });
}

HIDPPLink::PendingRequest HIDPPLink::takeHead() {
    PendingRequest head = std::move(queue_.front());
    queue_.pop_front();
    inFlight_ = false;
    retire(head.key);
    return head;
}

void HIDPPLink::finishHead(Result result) {
    if (queue_.empty()) return;
    PendingRequest head = takeHead();
    head.completion(std::move(result));
    pump();
}

void HIDPPLink::handleTimeout(std::uint64_t requestID) {
    if (queue_.empty() || queue_.front().id != requestID) return;
    PendingRequest head = takeHead();
    // The pause starts before the completion runs, so that a request the
    // completion submits waits for it too.
    startCooldown();
    // Named only now: a request that is answered never needs its name.
    std::string label = !head.label.empty() ? std::move(head.label)
                                            : fmt::format("feature 0x{:02X} fn 0x{:02X}", head.key.featureIndex, head.key.functionByte >> 4);
    head.completion(std::unexpected(HIDPPError::timeout(std::move(label))));
}

void HIDPPLink::handleSendFailure(std::uint64_t requestID, pf::IOReturn code) {
    if (!inFlight_ || queue_.empty() || queue_.front().id != requestID) return;
    PendingRequest head = takeHead();
    head.completion(std::unexpected(HIDPPError::from(code, "IOHIDDeviceSetReport")));
    pump();
}

std::span<const HIDPPLink::TransactionKey> HIDPPLink::retiredKeys() const { return {retiredKeys_.data(), retiredCount_}; }

void HIDPPLink::retire(const TransactionKey& key) {
    if (isRetired(key)) return;
    if (retiredCount_ == retiredKeyLimit) { // the oldest goes
        std::move(retiredKeys_.begin() + 1, retiredKeys_.end(), retiredKeys_.begin());
        --retiredCount_;
    }
    retiredKeys_[retiredCount_++] = key;
}

bool HIDPPLink::isRetired(const TransactionKey& key) const {
    const auto kept = retiredKeys();
    return std::ranges::find(kept, key) != kept.end();
}

void HIDPPLink::unretire(const TransactionKey& key) {
    const auto kept = retiredKeys();
    const auto it = std::ranges::find(kept, key);
    if (it == kept.end()) return;
    const auto at = retiredKeys_.begin() + (it - kept.begin());
    std::move(at + 1, retiredKeys_.begin() + static_cast<std::ptrdiff_t>(retiredCount_), at);
    --retiredCount_;
}

void HIDPPLink::failAll(const HIDPPError& error) {
    std::deque<PendingRequest> taken;
    taken.swap(queue_);
    inFlight_ = false;
    retiredCount_ = 0;
    for (PendingRequest& request : taken) request.completion(std::unexpected(error));
}

void HIDPPLink::handleInputReport(std::span<const std::uint8_t> report) {
    const auto input = HIDPPWire::classify(report);
    if (!input) return;
    if (isRetired(input->key)) {
        ++statistics_.staleRepliesDropped;
        return;
    }
    if (inFlight_ && !queue_.empty() && queue_.front().key == input->key) {
        ++statistics_.repliesMatched;
        switch (input->kind) {
        case HIDPPWire::InputReport::Kind::error20:
            finishHead(std::unexpected(HIDPPError::protocol20(HIDPP20ErrorCode(input->errorCode))));
            break;
        case HIDPPWire::InputReport::Kind::error10:
            finishHead(std::unexpected(HIDPPError::protocol10(input->errorCode)));
            break;
        case HIDPPWire::InputReport::Kind::reply:
            finishHead(std::vector<std::uint8_t>(input->payload.begin(), input->payload.end()));
            break;
        }
        return;
    }
    if (input->isNotificationForm()) {
        ++statistics_.notificationsDelivered;
        // A copy: the handler may replace itself while it runs.
        if (const NotificationHandler handler = notificationHandler_) {
            handler(input->key.featureIndex, input->key.functionByte, std::vector<std::uint8_t>(input->payload.begin(), input->payload.end()));
        }
        return;
    }
    ++statistics_.unmatchedReportsDropped;
}

} // namespace ravolet
