#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "HIDPlusPlus/HIDPPDeviceMatch.hpp"
#include "HIDPlusPlus/HIDPPEnvironment.hpp"
#include "Platform/HIDSystem.hpp"

namespace ravolet {

// Tells when devices with the wanted vendor and product arrive or go: one
// onMatched() per batch of arrivals (and one at start when some are present),
// one onTerminated(registryID) per device that has gone. Lives on the HID I/O
// thread: start(), stop() and the callbacks all run there. No lock.
class HIDPPHotplugMonitor : public std::enable_shared_from_this<HIDPPHotplugMonitor> {
public:
    using MatchedHandler = std::function<void()>;
    using TerminatedHandler = std::function<void(std::uint64_t registryID)>;

    static std::shared_ptr<HIDPPHotplugMonitor> make(HIDPPDeviceMatch match, MatchedHandler onMatched, TerminatedHandler onTerminated,
                                                     HIDPPEnvironment environment);

    // Begins watching; does nothing when already started. A monitor whose
    // port could not be made stays stopped and may be started again.
    void start();
    // Stops watching; harmless any number of times.
    void stop();
    bool isStarted() const { return port_ != nullptr; }

    const HIDPPDeviceMatch& match() const { return match_; }

    ~HIDPPHotplugMonitor();
    HIDPPHotplugMonitor(const HIDPPHotplugMonitor&) = delete;
    HIDPPHotplugMonitor& operator=(const HIDPPHotplugMonitor&) = delete;

    struct Passkey {
    private:
        friend class HIDPPHotplugMonitor;
        Passkey() = default;
    };
    HIDPPHotplugMonitor(Passkey, HIDPPDeviceMatch match, MatchedHandler onMatched, TerminatedHandler onTerminated,
                        HIDPPEnvironment environment);

private:
    void matched(platform::HIDServiceIterator& services);
    void terminated(platform::HIDServiceIterator& services);

    const HIDPPDeviceMatch match_;
    const HIDPPEnvironment environment_;
    std::shared_ptr<platform::HIDNotificationPort> port_;
    std::shared_ptr<platform::HIDServiceIterator> matchedIterator_;
    std::shared_ptr<platform::HIDServiceIterator> terminatedIterator_;
    MatchedHandler onMatched_;
    TerminatedHandler onTerminated_;
};

} // namespace ravolet
