#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "Platform/IOReturn.hpp"

namespace ravolet::platform {

class SimulatedHIDBus;
class SimulatedHIDDevice;

// The HID++ 2.0 side of a simulated G502 X: given the bytes of an output report
// written to its HID++ collection, it answers with the input reports a real
// mouse sends back. It keeps real state (a DPI that was set reads back, a wheel
// mode that was written is reported), rejects unsupported values with the
// HID++ 2.0 error a device gives, and can be told to misbehave: error replies,
// silence, malformed replies, or pulling the plug in the middle of a request.
//
// plugIn() attaches the mouse to a simulated HID bus as the real one appears:
// several HID interfaces with its vendor and product, one of them the HID++
// collection (vendor usage page 0xFF00, 20-byte reports), whose output
// reports this model answers. Every member may be called from any thread (one
// lock guards the state; it is never held while calling the bus). Made only by
// make(): the bus reaches the mouse through a weak reference.
class SimulatedMouse : public std::enable_shared_from_this<SimulatedMouse> {
public:
    static constexpr std::int64_t vendorID = 0x046D;
    static constexpr std::int64_t productID = 0xC099;
    // The strings of its USB device descriptor.
    static constexpr const char* manufacturer = "Logitech";
    static constexpr const char* product = "G502 X";
    static constexpr const char* serialNumber = "1A2B3C4D";

    // Feature identifiers the model implements.
    static constexpr std::uint16_t rootFeature = 0x0000;
    static constexpr std::uint16_t featureSetFeature = 0x0001;
    static constexpr std::uint16_t deviceInformationFeature = 0x0003;
    static constexpr std::uint16_t deviceNameFeature = 0x0005;
    static constexpr std::uint16_t hiResWheelFeature = 0x2121;
    static constexpr std::uint16_t adjustableDPIFeature = 0x2201;
    static constexpr std::uint16_t reportRateFeature = 0x8060;
    static constexpr std::uint16_t onboardProfilesFeature = 0x8100;

    // HID++ 2.0 error codes the model answers with.
    static constexpr std::uint8_t errorInvalidArgument = 0x02;
    static constexpr std::uint8_t errorOutOfRange = 0x03;
    static constexpr std::uint8_t errorInvalidFeatureIndex = 0x06;
    static constexpr std::uint8_t errorInvalidFunctionID = 0x07;
    // Answers every request to a listed feature that this model does not implement.
    static constexpr std::uint8_t errorUnsupported = 0x09;
    // HID++ 1.0 error for a request addressed to a device index that is not ours.
    static constexpr std::uint8_t error10UnknownDevice = 0x08;

    // The wheel's capability: ticks per detent in high resolution, and its
    // flags (it can invert and has a ratchet switch).
    static constexpr std::uint8_t wheelMultiplier = 8;
    static constexpr std::uint8_t wheelCapabilityFlags = 0x0C;

    // The one device index a corded HID++ 2.0 device answers to.
    static constexpr std::uint8_t deviceIndex = 0xFF;

    // Onboard memory geometry reported by the descriptor.
    static constexpr std::uint8_t sectorCount = 16;
    static constexpr std::uint16_t sectorSize = 256;

    // One entry of the feature table; its position is the feature index.
    struct FeatureEntry {
        std::uint16_t id = 0;
        std::uint8_t type = 0;
        std::uint8_t version = 0;
        friend bool operator==(const FeatureEntry&, const FeatureEntry&) = default;
    };

    // Which requests a scripted fault applies to; an empty field matches any.
    struct RequestMatch {
        std::optional<std::uint16_t> featureID;
        std::optional<std::uint8_t> function;
    };

    // A request as the mouse received it.
    struct ReceivedRequest {
        std::vector<std::uint8_t> report;
        bool isLong = false;
        std::uint8_t deviceIndex = 0;
        std::uint8_t featureIndex = 0;
        std::optional<std::uint16_t> featureID; // none for an index outside the table
        std::uint8_t function = 0;
        std::uint8_t softwareID = 0;
        std::vector<std::uint8_t> parameters; // every byte after the header
        std::thread::id writer;               // the thread that wrote it
    };

    // What the mouse does with one output report.
    struct Response {
        std::vector<std::vector<std::uint8_t>> reports; // input reports, in order
        bool unplug = false; // the cable goes before any answer
    };

    static std::shared_ptr<SimulatedMouse> make();
    struct Passkey {
    private:
        friend class SimulatedMouse;
        Passkey() = default;
    };
    explicit SimulatedMouse(Passkey);
    ~SimulatedMouse();
    SimulatedMouse(const SimulatedMouse&) = delete;
    SimulatedMouse& operator=(const SimulatedMouse&) = delete;

    // ---- On the bus ----
    // Attaches the mouse's interfaces in one batch, to `bus` or, when none is
    // given, to the bus it was last plugged into, else to the process's HID
    // system (which must be a simulated bus).
    // Each plug-in makes new registry entries. Does nothing when plugged in.
    void plugIn(std::shared_ptr<SimulatedHIDBus> bus = nullptr);
    // Detaches every interface in one batch. Does nothing when unplugged.
    void unplug();
    bool isPluggedIn() const;
    // The HID++ interface while plugged in.
    std::shared_ptr<SimulatedHIDDevice> hidppInterface() const;
    // What opening the HID++ interface returns, now and after later plug-ins.
    void refuseOpen(IOReturn result);
    void allowOpen();
    // Sends an unsolicited report from the HID++ interface.
    void sendNotification(std::uint16_t featureID, std::uint8_t function, std::span<const std::uint8_t> payload);
    void sendRatchetSwitch(std::uint8_t state);

    // The table of a G502 X: 22 features, among them root, feature set,
    // device information, name, wheel, DPI, report rate and onboard profiles;
    // the others answer every request with "unsupported".
    static std::vector<FeatureEntry> defaultFeatureTable();

    // Processes one output report (report identifier first).
    Response handleOutputReport(std::span<const std::uint8_t> report);

    // An unsolicited report (software identifier 0) from the feature with
    // `featureID` (must be in the table), as the mouse sends for events.
    std::vector<std::uint8_t> notificationReport(std::uint16_t featureID, std::uint8_t function,
                                                 std::span<const std::uint8_t> payload) const;
    // The wheel's ratchet-switch event; also changes the ratchet state.
    std::vector<std::uint8_t> ratchetSwitchNotification(std::uint8_t state);

    // ---- Device state, readable and scriptable ----
    void setFeatureTable(std::vector<FeatureEntry> table);
    std::vector<FeatureEntry> featureTable() const;
    std::optional<std::uint8_t> featureIndex(std::uint16_t featureID) const;
    void setProtocolVersion(std::uint8_t major, std::uint8_t minor);
    void setName(std::string name);
    std::string name() const;
    // The raw 16-bit words of the sensor DPI list, without the terminating 0.
    void setDPIList(std::vector<std::uint16_t> words);
    std::uint16_t currentDPI() const;
    void setCurrentDPI(std::uint16_t dpi);
    std::uint16_t defaultDPI() const;
    std::uint8_t reportRateBitmap() const;
    void setReportRateBitmap(std::uint8_t bitmap);
    std::uint8_t reportIntervalMilliseconds() const;
    std::uint8_t wheelMode() const;
    void setWheelMode(std::uint8_t mode);
    // How many plain HID wheel reports of one tick a detent makes now: the
    // multiplier while the wheel mode has high resolution on and sends its
    // reports to HID (the generic HID driver then sees every fine tick as a
    // whole one), else one. A mode that diverts the wheel to HID++
    // notifications is not modelled: its detents still go to HID, one each.
    int wheelReportsPerDetent() const;
    std::uint8_t ratchetState() const;
    void setRatchetState(std::uint8_t state);
    std::uint8_t onboardMode() const;
    std::uint8_t memoryByte(std::uint16_t sector, std::uint16_t offset) const;

    // ---- Faults on demand; each applies to the next `count` matching requests ----
    void failNext(RequestMatch match, std::uint8_t hidpp20Code, int count = 1);
    void failNextWithHIDPP10(RequestMatch match, std::uint8_t code, int count = 1);
    void dropNext(RequestMatch match, int count = 1);
    // Answers with exactly these payload bytes after the 4-byte header, no
    // padding: shorter than a real reply to make a malformed one.
    void replyNextWith(RequestMatch match, std::vector<std::uint8_t> payload, int count = 1);
    // Repeats the reply, as a confused device might.
    void duplicateNext(RequestMatch match, int count = 1);
    // Unplugs instead of answering.
    void unplugOnNext(RequestMatch match);
    // Every request goes unanswered until turned off again.
    void setSilent(bool silent);
    void clearFaults();

    // ---- What the mouse received ----
    std::vector<ReceivedRequest> receivedRequests() const;
    // Requests for `featureID` (and `function`, if given) received so far.
    std::size_t requestCount(std::uint16_t featureID, std::optional<std::uint8_t> function = std::nullopt) const;
    void clearReceivedRequests();

private:
    enum class FaultKind { error20, error10, drop, replace, duplicate, unplug };
    struct Fault {
        RequestMatch match;
        FaultKind kind = FaultKind::drop;
        std::uint8_t code = 0;
        std::vector<std::uint8_t> payload;
        int remaining = 1;
    };
    // Either a payload to answer with, or an HID++ 2.0 error code.
    struct Answer {
        Answer(std::vector<std::uint8_t> bytes) : payload(std::move(bytes)) {}
        static Answer rejected(std::uint8_t code) {
            Answer a({});
            a.error = code;
            return a;
        }
        std::vector<std::uint8_t> payload;
        std::optional<std::uint8_t> error;
    };

    void addFault(Fault fault);
    std::optional<Fault> takeFault(const ReceivedRequest& request);
    std::optional<std::uint16_t> featureIDAt(std::uint8_t index) const;
    std::optional<std::uint8_t> indexOf(std::uint16_t featureID) const;
    Answer answer(const ReceivedRequest& request);
    Answer root(const ReceivedRequest& r);
    Answer featureSet(const ReceivedRequest& r);
    Answer deviceInformation(const ReceivedRequest& r);
    Answer deviceName(const ReceivedRequest& r);
    Answer hiResWheel(const ReceivedRequest& r);
    Answer adjustableDPI(const ReceivedRequest& r);
    Answer reportRate(const ReceivedRequest& r);
    Answer onboardProfiles(const ReceivedRequest& r);
    bool dpiAccepted(std::uint16_t dpi) const;

    // Answers one output report of the HID++ interface, pulling the plug when told to.
    std::vector<std::vector<std::uint8_t>> respond(std::span<const std::uint8_t> report);
    void inject(std::vector<std::uint8_t> report);

    mutable std::mutex mutex_;
    std::shared_ptr<SimulatedHIDBus> bus_;
    std::vector<std::shared_ptr<SimulatedHIDDevice>> interfaces_; // empty while unplugged
    std::shared_ptr<SimulatedHIDDevice> hidpp_;
    IOReturn openResult_ = kIOReturnSuccess;
    std::vector<FeatureEntry> table_;
    std::uint8_t protocolMajor_ = 4;
    std::uint8_t protocolMinor_ = 2;
    std::string name_ = "G502 X";
    std::vector<std::uint16_t> dpiList_;
    std::uint16_t currentDPI_ = 1600;
    std::uint16_t defaultDPI_ = 1600;
    std::uint8_t reportRateBitmap_ = 0x8B; // 1, 2, 4 and 8 ms
    std::uint8_t reportInterval_ = 1;
    std::uint8_t wheelMode_ = 0x00;
    std::uint8_t ratchetState_ = 1;
    std::uint8_t onboardMode_ = 1;
    bool silent_ = false;
    std::deque<Fault> faults_;
    std::vector<ReceivedRequest> received_;
};

} // namespace ravolet::platform
