#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <expected>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "HIDPlusPlus/HIDPPDeviceIdentity.hpp"
#include "HIDPlusPlus/HIDPPEnvironment.hpp"
#include "HIDPlusPlus/HIDPPError.hpp"
#include "HIDPlusPlus/HIDPPTransportStatistics.hpp"
#include "HIDPlusPlus/HIDPPWire.hpp"
#include "Platform/HIDDevice.hpp"

namespace ravolet {

// The transport over one opened HID device (the mouse's HID++ collection).
// Requests wait in a first-in-first-out queue and only the head is ever on
// the wire; a report answers the head when it carries the head's transaction
// key (device index, feature index, function byte with its software
// identifier), whatever its report kind. Finished requests' keys stay retired
// for a while, so late answers are dropped as stale instead of being taken
// for the next request's. A request that times out is not retried, and the
// next one goes out only after a 30 ms pause. Unsolicited reports with
// software identifier 0 go to the notification handler.
//
// Everything runs on the HID I/O thread (the environment's `io`): every
// member call, the input reports, timers, completions and the notification
// handler. Only the report write runs on the link's own send queue, where the
// environment gives one; without, it runs in place.
class HIDPPLink : public std::enable_shared_from_this<HIDPPLink> {
public:
    using Result = std::expected<std::vector<std::uint8_t>, HIDPPError>;
    using Completion = std::move_only_function<void(Result)>;
    using NotificationHandler = std::function<void(std::uint8_t featureIndex, std::uint8_t functionByte, std::vector<std::uint8_t> payload)>;

    // The pause after a time-out before the next request is sent.
    static constexpr std::chrono::milliseconds cooldown{30};
    // How many recently finished requests' keys are remembered.
    static constexpr std::size_t retiredKeyLimit = 15;
    // The smallest input buffer a link registers.
    static constexpr std::size_t minimumInputBufferLength = 64;

    // A closed link for the device; reads its identity and registry id now.
    static std::shared_ptr<HIDPPLink> make(std::shared_ptr<platform::HIDDevice> device, HIDPPEnvironment environment);

    // The device's properties; a missing or mistyped property gives its fallback.
    static HIDPPDeviceIdentity readIdentity(const platform::HIDDevice& device);

    // Opens the device and starts receiving; success at once when already open.
    std::expected<void, HIDPPError> open();
    // Fails every queued request with `notConnected`, then closes the device if open.
    void close();
    // The device was removed: fails every queued request with `deviceRemoved`
    // and lets the device go.
    void invalidate();

    // Queues one request. The completion is called exactly once, on the I/O
    // thread: with the reply payload (bytes 4 to the end of the answer) or an
    // error. A closed link fails it at once with `notOpen`, parameters that
    // do not fit with `invalidArgument`. `timeoutSeconds` runs from the send.
    // `label` names the request in a time-out's error; empty, it is named by
    // its feature index and function ("feature 0x05 fn 0x01").
    void submit(std::uint8_t deviceIndex, std::uint8_t featureIndex, std::uint8_t function, std::vector<std::uint8_t> parameters,
                bool isLong, double timeoutSeconds, std::string label, Completion completion);

    const HIDPPDeviceIdentity& identity() const { return identity_; }
    std::uint64_t registryID() const { return registryID_; }
    const HIDPPTransportStatistics& statistics() const { return statistics_; }
    bool isOpen() const { return isOpen_; }
    const std::shared_ptr<platform::HIDDevice>& device() const { return device_; }

    void setNotificationHandler(NotificationHandler handler) { notificationHandler_ = std::move(handler); }

    // Reads one report from the device as the input-report callback does.
    // Public so that the report path can be driven directly (the fuzz target).
    void handleInputReport(std::span<const std::uint8_t> report);

    ~HIDPPLink();
    HIDPPLink(const HIDPPLink&) = delete;
    HIDPPLink& operator=(const HIDPPLink&) = delete;

    struct Passkey {
    private:
        friend class HIDPPLink;
        Passkey() = default;
    };
    HIDPPLink(Passkey, std::shared_ptr<platform::HIDDevice> device, HIDPPEnvironment environment);

private:
    using TransactionKey = HIDPPWire::TransactionKey;

    struct PendingRequest {
        std::uint64_t id = 0;
        TransactionKey key;
        std::vector<std::uint8_t> report;
        double timeout = 0;
        // When it times out, on the I/O scheduler's clock; set when it is sent.
        std::uint64_t deadline = 0;
        std::string label;
        Completion completion;
    };

    void pump();
    // Sets the request's deadline and sees that a time-out check comes by then.
    void startTimer(PendingRequest& request);
    void scheduleTimeoutCheck(std::uint64_t at);
    // Times the head out when its deadline has passed, else looks again then.
    void checkTimeout();
    // Stops the time-out check and the pause after a time-out.
    void cancelTimer();
    void startCooldown();
    void finishHead(Result result);
    // Takes the head off the queue and retires its key.
    PendingRequest takeHead();
    void retire(const TransactionKey& key);
    bool isRetired(const TransactionKey& key) const;
    // Forgets a retired key (nothing when it is not one).
    void unretire(const TransactionKey& key);
    std::span<const TransactionKey> retiredKeys() const;
    void failAll(const HIDPPError& error);
    void handleTimeout(std::uint64_t requestID);
    void handleSendFailure(std::uint64_t requestID, platform::IOReturn code);
    void stopDevice(bool unregisterCallback);

    const std::shared_ptr<platform::HIDDevice> device_;
    const HIDPPEnvironment environment_;
    const HIDPPDeviceIdentity identity_;
    const std::uint64_t registryID_;
    std::shared_ptr<HIDPPLink> selfRetain_;
    std::size_t inputBufferLength_ = 0;
    bool isOpen_ = false;
    NotificationHandler notificationHandler_;
    std::deque<PendingRequest> queue_;
    bool inFlight_ = false;
    std::uint64_t nextRequestID_ = 1;
    std::uint8_t lastSoftwareID_ = 0;
    platform::TaskHandle timer_;
    std::uint64_t timeoutCheckAt_ = 0; // 0: no check scheduled
    platform::TaskHandle cooldownTimer_;
    // Retired keys, oldest first; a handful, so kept in place and searched.
    std::array<TransactionKey, retiredKeyLimit> retiredKeys_{};
    std::size_t retiredCount_ = 0;
    HIDPPTransportStatistics statistics_;
    // None: the reports are written on the HID I/O thread.
    const std::shared_ptr<platform::Executor> sendQueue_;
};

} // namespace ravolet
