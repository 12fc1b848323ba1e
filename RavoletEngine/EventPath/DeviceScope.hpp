#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "Core/DeviceID.hpp"
#include "HIDPlusPlus/HIDPPDeviceMatch.hpp"
#include "Platform/Event.hpp"
#include "Platform/Executor.hpp"
#include "RavoletEngine/EventPath/PrivateSPI.hpp"
#include "RavoletEngine/EventPath/ScopeDecision.hpp"
#include "RavoletEngine/EventPath/ScopedDevice.hpp"
#include "Support/ValueSupport.hpp"

namespace ravolet {

// Tells, per event, whether it came from the target mouse: the sender of the
// event's HID event is compared with the registry identifiers of the target's
// HID services, kept in tables that a background queue refreshes (at most once
// a second unless forced). Without the private HID functions nothing can be
// told, and every event is unidentified.
//
// Held by shared_ptr (make it with create()); safe to share between threads.
class DeviceScope : public std::enable_shared_from_this<DeviceScope> {
public:
    struct Counters {
        std::int64_t target = 0;
        std::int64_t foreign = 0;
        std::int64_t unidentifiedNoHIDEvent = 0;
        std::int64_t unidentifiedUnknownSender = 0;
        std::int64_t unidentifiedSPIUnavailable = 0;
        std::int64_t refreshes = 0;

        // Every decision; refreshes are not decisions.
        std::int64_t total() const {
            return target + foreign + unidentifiedNoHIDEvent + unidentifiedUnknownSender + unidentifiedSPIUnavailable;
        }
        friend bool operator==(const Counters&, const Counters&) = default;
        friend std::ostream& operator<<(std::ostream& os, const Counters& c);
    };

    static constexpr std::string_view refreshQueueLabel = "ai.ravolet.device-scope.refresh";
    static constexpr double refreshIntervalMillis = 1000.0;
    static constexpr DeviceID defaultSyntheticDeviceID{0xC099000000000001};

    // refreshQueue: where refreshes run; by default a serial queue labelled
    // "ai.ravolet.device-scope.refresh" at utility priority. ticks: the
    // monotonic tick counter; MonotonicClock::ticks by default.
    // The first refresh is requested at once.
    static std::shared_ptr<DeviceScope> create(std::vector<HIDPPDeviceMatch> matches, std::shared_ptr<PrivateSPI> spi,
                                               std::shared_ptr<platform::Executor> refreshQueue = nullptr,
                                               std::function<std::uint64_t()> ticks = {});
    // Only create() builds one: refreshes hold the scope weakly, which needs
    // it owned by a shared_ptr from the start.
    struct Passkey {
    private:
        friend class DeviceScope;
        Passkey() = default;
    };
    DeviceScope(Passkey, std::vector<HIDPPDeviceMatch> matches, std::shared_ptr<PrivateSPI> spi,
                std::shared_ptr<platform::Executor> refreshQueue, std::function<std::uint64_t()> ticks);
    DeviceScope(const DeviceScope&) = delete;
    DeviceScope& operator=(const DeviceScope&) = delete;

    // Events whose field 42 equals this tag count as the target's (as the
    // synthetic device). None by default.
    std::optional<std::int64_t> syntheticSourceTag() const;
    void setSyntheticSourceTag(std::optional<std::int64_t> tag);
    DeviceID syntheticDeviceID() const;
    void setSyntheticDeviceID(DeviceID id);

    std::vector<HIDPPDeviceMatch> matches() const;
    // Replaces the matches and forces a refresh.
    void setMatches(std::vector<HIDPPDeviceMatch> matches);

    // On the tap thread, for every tapped event that is not the program's own.
    ScopeDecision decide(const platform::Event& event);
    // The sender of the event's HID event, or for button and drag events field
    // 87 when that gives nothing; none otherwise.
    std::optional<std::uint64_t> deviceSenderID(const platform::Event& event) const;

    // Asks for a background refresh; returns at once.
    void refresh(bool force);
    // Refreshes on the calling thread.
    void refreshNow();

    Counters snapshotCounters() const;
    void resetCounters();
    // Sorted by registry identifier.
    std::vector<ScopedDevice> knownDevices() const;
    std::vector<ScopedDevice> targetDevices() const;
    bool isTargetAttached() const;
    // Called on the refreshing thread after a refresh that changed whether
    // the target is attached (refreshes run in the background, so a caller
    // that asked for one hears of its outcome here).
    void setOnAttachmentChange(std::function<void()> handler);

    const PrivateSPI& spi() const { return *spi_; }

private:
    void performRefresh();
    std::optional<ScopedDevice> describe(platform::HIDServiceRef service) const;
    bool spiUsable() const;

    std::atomic<bool> hasSyntheticSourceTag_{false};
    std::atomic<std::int64_t> syntheticSourceTag_{0};
    std::atomic<std::uint64_t> syntheticDeviceID_{defaultSyntheticDeviceID.rawValue};
    const std::shared_ptr<PrivateSPI> spi_;
    const std::function<std::uint64_t()> ticks_;
    // Whether the private functions that tell a sender exist, settled by
    // their first look-up and read once.
    mutable std::once_flag spiChecked_;
    mutable bool spiUsable_ = false;

    mutable std::mutex lock_;
    std::vector<HIDPPDeviceMatch> matches_;
    std::map<std::uint64_t, ScopedDevice> servicesByRegistryID_;
    std::unordered_set<std::uint64_t> targetRegistryIDs_;
    std::uint64_t lastRefreshTicks_ = 0;
    bool refreshInFlight_ = false;
    bool refreshPending_ = false;
    Counters counters_;
    std::function<void()> onAttachmentChange_;

    const std::shared_ptr<platform::Executor> refreshQueue_;
};

} // namespace ravolet

template <>
struct std::hash<ravolet::DeviceScope::Counters> {
    std::size_t operator()(const ravolet::DeviceScope::Counters& c) const noexcept {
        return ravolet::hashFields(c.target, c.foreign, c.unidentifiedNoHIDEvent, c.unidentifiedUnknownSender,
                                   c.unidentifiedSPIUnavailable, c.refreshes);
    }
};
