#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "HIDPlusPlus/HIDPPConnectionState.hpp"
#include "HIDPlusPlus/HIDPPDPIRange.hpp"
#include "HIDPlusPlus/HIDPPDeviceIdentity.hpp"
#include "HIDPlusPlus/HIDPPDeviceInformation.hpp"
#include "HIDPlusPlus/HIDPPDeviceMatch.hpp"
#include "HIDPlusPlus/HIDPPEnvironment.hpp"
#include "HIDPlusPlus/HIDPPError.hpp"
#include "HIDPlusPlus/HIDPPFeature.hpp"
#include "HIDPlusPlus/HIDPPFeatureRecord.hpp"
#include "HIDPlusPlus/HIDPPOnboardProfiles.hpp"
#include "HIDPlusPlus/HIDPPReportRate.hpp"
#include "HIDPlusPlus/HIDPPTransportStatistics.hpp"
#include "HIDPlusPlus/HIDPPWheelMode.hpp"
#include "Platform/Executor.hpp"

namespace ravolet {

class HIDPPLink;
class HIDPPHotplugMonitor;
class HIDPPDevice;

template <class T>
using HIDPPResult = std::expected<T, HIDPPError>;

// Receives an operation's outcome, exactly once, on the executor its caller named.
template <class T>
using HIDPPCompletion = std::move_only_function<void(HIDPPResult<T>)>;

using HIDPPBytes = std::vector<std::uint8_t>;
using HIDPPExecutor = std::shared_ptr<platform::Executor>;

// Keeps one subscriber of a device's events; dropping it ends the subscription.
// Events are delivered in the order the device emitted them, on the executor
// the subscriber named, and none after the handle is gone (except one that
// is being delivered at that very moment on another thread).
class HIDPPEventSubscription {
public:
    HIDPPEventSubscription() = default;
    ~HIDPPEventSubscription() { cancel(); }
    HIDPPEventSubscription(HIDPPEventSubscription&& other) noexcept = default;
    HIDPPEventSubscription& operator=(HIDPPEventSubscription&& other) noexcept;
    HIDPPEventSubscription(const HIDPPEventSubscription&) = delete;
    HIDPPEventSubscription& operator=(const HIDPPEventSubscription&) = delete;

    void cancel();
    bool isActive() const;

    struct Subscriber; // shared with the device

private:
    friend class HIDPPDevice;
    HIDPPEventSubscription(std::weak_ptr<HIDPPDevice> device, std::shared_ptr<Subscriber> subscriber)
        : device_(std::move(device)), subscriber_(std::move(subscriber)) {}
    std::weak_ptr<HIDPPDevice> device_;
    std::shared_ptr<Subscriber> subscriber_;
};

// One HID++ 2.0 device, found by vendor and product: its connection, its
// events and the typed operations on it.
//
// An actor: every operation runs on the device's own serial queue, one step at
// a time, and reports through a completion called exactly once on the
// executor the caller names (nullptr: on the device's queue). A multi-step
// operation lets other operations run between its steps. Work on the HID
// objects (link, hot-plug monitor) is handed to the HID I/O thread; what comes
// back from there (replies, arrivals, departures, notifications) re-enters the
// device on its queue. A running operation keeps the device alive until it
// completes; callbacks from the HID thread hold it weakly.
//
// Plain properties (state, identity, settings) are readable from any thread.
class HIDPPDevice : public std::enable_shared_from_this<HIDPPDevice> {
    struct Private {};

public:
    // A device on the process's HID system and HID I/O thread, with its own
    // serial queue "ai.ravolet.hidpp.device".
    static std::shared_ptr<HIDPPDevice> create(HIDPPDeviceMatch match);
    // A device on the given HID environment whose steps run on `queue` (a
    // serial executor; tests pass a virtual-time scheduler).
    static std::shared_ptr<HIDPPDevice> create(HIDPPDeviceMatch match, HIDPPEnvironment environment,
                                               std::shared_ptr<platform::Scheduler> queue);
    HIDPPDevice(Private, HIDPPDeviceMatch match, HIDPPEnvironment environment, std::shared_ptr<platform::Scheduler> queue);
    ~HIDPPDevice();
    HIDPPDevice(const HIDPPDevice&) = delete;
    HIDPPDevice& operator=(const HIDPPDevice&) = delete;

    const HIDPPDeviceMatch& match() const { return match_; }

    // Whether this process may listen to HID input (asks, never prompts).
    static HIDPPInputMonitoringAccess inputMonitoringAccess();

    // ---- Settings ----
    std::uint8_t deviceIndex() const;
    void setDeviceIndex(std::uint8_t index);
    double defaultTimeout() const;
    void setDefaultTimeout(double seconds);
    bool automaticallyReconnects() const;
    void setAutomaticallyReconnects(bool on);

    // ---- Connection ----
    HIDPPEventSubscription subscribe(HIDPPExecutor executor, std::function<void(const HIDPPEvent&)> handler);
    HIDPPConnectionState state() const;
    bool isConnected() const;
    bool isConnecting() const;
    // Whether a connection failed while the mouse is there and is being tried
    // again: after 250 ms, then 1, 2, 4, 8, 16 and every 30 s, until it
    // answers, goes away or disconnect() is called (automatic reconnection
    // on only; each change is the event `retrying`).
    bool isRetrying() const;
    std::optional<HIDPPDeviceIdentity> identity() const;

    void connect(HIDPPExecutor executor, HIDPPCompletion<void> completion);
    void disconnect(HIDPPExecutor executor, std::move_only_function<void()> completion);
    void transportStatistics(HIDPPExecutor executor,
                             std::move_only_function<void(std::optional<HIDPPTransportStatistics>)> completion);

    // ---- Requests and the feature table ----
    void rawRequest(std::uint8_t featureIndex, std::uint8_t function, HIDPPBytes parameters, bool isLong,
                    std::optional<double> timeout, HIDPPExecutor executor, HIDPPCompletion<HIDPPBytes> completion);
    void ping(HIDPPExecutor executor, HIDPPCompletion<HIDPPProtocolVersion> completion);
    void protocolVersion(HIDPPExecutor executor, HIDPPCompletion<HIDPPProtocolVersion> completion);
    void discoverFeatures(HIDPPExecutor executor, HIDPPCompletion<std::vector<HIDPPFeatureRecord>> completion);
    // The cached feature records, by index.
    std::vector<HIDPPFeatureRecord> features() const;
    void featureIndex(HIDPPFeature feature, HIDPPExecutor executor, HIDPPCompletion<std::uint8_t> completion);
    void supports(HIDPPFeature feature, HIDPPExecutor executor, std::move_only_function<void(bool)> completion);

    // ---- Typed operations ----
    void deviceInformation(HIDPPExecutor executor, HIDPPCompletion<HIDPPDeviceInformation> completion);
    void deviceName(HIDPPExecutor executor, HIDPPCompletion<std::string> completion);
    void sensorCount(HIDPPExecutor executor, HIDPPCompletion<std::int64_t> completion);
    void dpiRange(std::uint8_t sensor, HIDPPExecutor executor, HIDPPCompletion<HIDPPDPIRange> completion);
    void dpi(std::uint8_t sensor, HIDPPExecutor executor, HIDPPCompletion<HIDPPDPIState> completion);
    void setDPI(std::int64_t dpi, std::uint8_t sensor, HIDPPExecutor executor, HIDPPCompletion<std::int64_t> completion);
    void reportRate(HIDPPExecutor executor, HIDPPCompletion<HIDPPReportRateInfo> completion);
    void setReportRate(HIDPPReportRate rate, HIDPPExecutor executor, HIDPPCompletion<void> completion);
    void wheelCapability(HIDPPExecutor executor, HIDPPCompletion<HIDPPWheelCapability> completion);
    void wheelMode(HIDPPExecutor executor, HIDPPCompletion<HIDPPWheelMode> completion);
    void setWheelMode(HIDPPWheelMode mode, HIDPPExecutor executor, HIDPPCompletion<void> completion);
    void setWheelHighResolution(bool on, HIDPPExecutor executor, HIDPPCompletion<HIDPPWheelMode> completion);
    void ratchetState(HIDPPExecutor executor, HIDPPCompletion<HIDPPRatchetState> completion);
    void onboardProfilesDescriptor(HIDPPExecutor executor, HIDPPCompletion<HIDPPOnboardProfilesDescriptor> completion);
    void onboardMode(HIDPPExecutor executor, HIDPPCompletion<HIDPPOnboardMode> completion);
    void setOnboardMode(HIDPPOnboardMode mode, HIDPPExecutor executor, HIDPPCompletion<void> completion);
    void currentProfile(HIDPPExecutor executor, HIDPPCompletion<HIDPPCurrentProfile> completion);
    void readOnboardMemory(std::uint16_t sector, std::uint16_t offset, HIDPPExecutor executor,
                           HIDPPCompletion<HIDPPBytes> completion);

    // The device's serial queue (for tests that need to line up behind it).
    const std::shared_ptr<platform::Scheduler>& queue() const { return queue_; }

private:
    friend class HIDPPEventSubscription;

    // A continuation that runs on the device's queue.
    template <class T>
    using Next = std::move_only_function<void(HIDPPResult<T>)>;
    using Step = std::move_only_function<void()>;

    // One connection attempt, shared by everyone who waits for it.
    struct ConnectAttempt {
        std::uint64_t generation = 0; // the connection generation it began in
        bool cancelled = false; // guarded by mutex_
        std::vector<Next<void>> waiters; // guarded by mutex_
    };

    // Runs `body` on the device's queue and hands its outcome to `completion` on `executor`.
    template <class T>
    void run(HIDPPExecutor executor, HIDPPCompletion<T> completion, std::move_only_function<void(Next<T>)> body);
    template <class T>
    static void deliver(const HIDPPExecutor& executor, HIDPPCompletion<T> completion, HIDPPResult<T> result);
    void onQueue(Step step);
    // Hands the block to the HID I/O thread; without one it is released unrun.
    void onIO(platform::Task block);
    // Runs the work here, in the HID I/O loop's turn, when the loop is idle,
    // else hands it over as a task, as onIO() does: for short work (a request
    // written to the device), which then leaves without waking the HID thread
    // first. Never here on the process's first thread (the window's).
    template <class Work>
    void onIOHereIfIdle(Work&& work);
    template <class R>
    class Hop;
    template <class T>
    class Answer;
    // Runs `work` on the HID I/O thread, then `then` with its result on the
    // device's queue; with `ifDropped` when the HID thread drops the work.
    template <class R>
    void onHIDThread(std::move_only_function<R()> work, std::move_only_function<void(R)> then, R ifDropped);

    // Connection life cycle.
    void emit(const HIDPPEvent& event);
    void joinOrStartAttempt(Next<void> waiter);
    void finishAttempt(const std::shared_ptr<ConnectAttempt>& attempt, HIDPPResult<void> result);
    void performConnect(std::shared_ptr<ConnectAttempt> attempt, Next<void> done);
    void openLink(std::shared_ptr<ConnectAttempt> attempt, std::uint64_t generation, Next<void> done);
    void installLink(std::shared_ptr<ConnectAttempt> attempt, std::uint64_t generation,
                     std::shared_ptr<HIDPPLink> link, Next<void> done);
    void finishConnect(std::shared_ptr<ConnectAttempt> attempt, std::uint64_t generation,
                       std::shared_ptr<HIDPPLink> link, Next<void> done);
    void failConnect(std::uint64_t generation, std::shared_ptr<HIDPPLink> link, HIDPPError error, Next<void> done);
    bool isStale(const ConnectAttempt& attempt, std::uint64_t generation) const;
    void teardownLink(Step then);
    void abandon(std::shared_ptr<HIDPPLink> link, Step then);
    void closeLink(std::shared_ptr<HIDPPLink> link, Step then);
    void startMonitoring();
    // One automatic reconnection: the generation it began in, and which
    // arrival or retry started it.
    struct Reconnection {
        std::uint64_t generation = 0;
        std::uint64_t serial = 0;
    };
    void deviceAppeared();
    void reconnect(Reconnection reconnection);
    // Whether no disconnect(), removal, newer arrival or retry has come since it began.
    bool isWanted(const Reconnection& reconnection) const;
    // After an attempt: a failure with the mouse still there is tried again
    // after a pause that grows; success or its absence ends the retries.
    void afterAttempt(const ConnectAttempt& attempt, const HIDPPResult<void>& result);
    // Ends the retries (a reconnection under way stays, and with
    // `dropPending` false so does one waiting for its pause); whether they
    // had begun.
    bool stopRetryingLocked(bool dropPending = true);
    // The installed link's identity, read without holding the lock.
    std::optional<HIDPPDeviceIdentity> linkIdentity() const;
    void deviceTerminated(std::uint64_t registryID);
    void linkNotification(const std::shared_ptr<HIDPPLink>& link, std::uint8_t featureIndex,
                          std::uint8_t functionByte, HIDPPBytes payload);
    void resetFeatureCacheLocked();
    void removeSubscriber(const HIDPPEventSubscription::Subscriber* subscriber);
    // Sets the state and reports whether it changed.
    bool changeStateLocked(HIDPPConnectionState next);

    // Requests and the feature table.
    void request(std::uint8_t featureIndex, std::uint8_t function, HIDPPBytes parameters, bool isLong,
                 std::optional<double> timeout, Next<HIDPPBytes> next);
    void pingStep(Next<HIDPPProtocolVersion> next);
    void featureIndexStep(HIDPPFeature feature, Next<std::uint8_t> next);
    void discoverStep(Next<std::vector<HIDPPFeatureRecord>> next);
    void readFeatureIDs(std::uint8_t featureSetIndex, int index, int last,
                        std::shared_ptr<std::vector<HIDPPFeatureRecord>> records,
                        Next<std::vector<HIDPPFeatureRecord>> next);
    void get(HIDPPFeature feature, std::uint8_t function, HIDPPBytes parameters, bool isLong, Next<HIDPPBytes> next);
    void set(HIDPPFeature feature, std::uint8_t function, HIDPPBytes parameters, Next<void> next);

    // Typed operations, run on the queue.
    void deviceNameChunks(int length, std::shared_ptr<HIDPPBytes> bytes, Next<std::string> next);
    void dpiRangeStep(std::uint8_t sensor, Next<HIDPPDPIRange> next);
    void dpiStep(std::uint8_t sensor, Next<HIDPPDPIState> next);
    void reportRateStep(Next<HIDPPReportRateInfo> next);
    void wheelModeStep(Next<HIDPPWheelMode> next);
    void setWheelModeStep(HIDPPWheelMode mode, Next<void> next);

    const HIDPPDeviceMatch match_;
    const HIDPPEnvironment environment_;
    const std::shared_ptr<platform::Scheduler> queue_;

    mutable std::mutex mutex_;
    std::uint8_t deviceIndex_;
    double defaultTimeout_ = 1.0;
    bool automaticallyReconnects_ = true;
    std::shared_ptr<HIDPPLink> link_;
    std::shared_ptr<HIDPPHotplugMonitor> monitor_;
    HIDPPConnectionState connectionState_;
    std::shared_ptr<ConnectAttempt> connectTask_;
    std::uint64_t connectionGeneration_ = 0;
    std::uint64_t reconnectionSerial_ = 0;
    bool retrying_ = false;
    std::size_t failedRetries_ = 0; // attempts failed since the mouse last answered
    std::map<std::uint16_t, HIDPPFeatureRecord> featuresByID_;
    std::set<std::uint16_t> absentFeatureIDs_;
    bool fullTableDiscovered_ = false;
    std::optional<HIDPPProtocolVersion> cachedProtocolVersion_;
    std::vector<std::shared_ptr<HIDPPEventSubscription::Subscriber>> subscribers_;
};

} // namespace ravolet
