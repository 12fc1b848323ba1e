#include "Platform/Simulated/SimulatedMouse.hpp"

#include <algorithm>
#include <utility>

#include "Platform/Simulated/SimulatedHIDBus.hpp"

namespace ravolet::platform {

namespace {

constexpr std::uint8_t shortReportID = 0x10;
constexpr std::uint8_t longReportID = 0x11;
constexpr std::size_t shortReportLength = 7;
constexpr std::size_t longReportLength = 20;
constexpr std::size_t headerLength = 4;
constexpr std::size_t longPayloadLength = longReportLength - headerLength;
constexpr std::uint8_t error20FeatureIndex = 0xFF;
constexpr std::uint8_t error10FeatureIndex = 0x8F;
constexpr std::uint16_t dpiRangeMarker = 0xE000;

std::uint8_t hi(std::uint16_t v) { return static_cast<std::uint8_t>(v >> 8); }
std::uint8_t lo(std::uint16_t v) { return static_cast<std::uint8_t>(v & 0xFF); }
std::uint16_t word(std::uint8_t h, std::uint8_t l) { return static_cast<std::uint16_t>(h << 8 | l); }

// Replies go out as long reports, padded with zeros.
std::vector<std::uint8_t> longReport(std::uint8_t deviceIndex, std::uint8_t featureIndex, std::uint8_t functionByte,
                                     std::span<const std::uint8_t> payload) {
    std::vector<std::uint8_t> report(longReportLength, 0);
    report[0] = longReportID;
    report[1] = deviceIndex;
    report[2] = featureIndex;
    report[3] = functionByte;
    std::copy_n(payload.begin(), std::min(payload.size(), longPayloadLength), report.begin() + headerLength);
    return report;
}

bool matches(const SimulatedMouse::RequestMatch& match, const SimulatedMouse::ReceivedRequest& request) {
    if (match.featureID && match.featureID != request.featureID) return false;
    if (match.function && *match.function != request.function) return false;
    return true;
}

SimulatedMouse::FeatureEntry entry(std::uint16_t id, std::uint8_t type, std::uint8_t version) {
    return SimulatedMouse::FeatureEntry{id, type, version};
}

} // namespace

std::shared_ptr<SimulatedMouse> SimulatedMouse::make() { return std::make_shared<SimulatedMouse>(Passkey{}); }

SimulatedMouse::SimulatedMouse(Passkey)
    : table_(defaultFeatureTable()),
      // 100 to 25600 DPI in steps of 50: minimum, step with the range marker, maximum.
      dpiList_{0x0064, static_cast<std::uint16_t>(dpiRangeMarker | 50), 0x6400} {}

SimulatedMouse::~SimulatedMouse() {
    // Nothing can answer for the mouse any more: take it off the bus.
    if (bus_ && !interfaces_.empty()) bus_->detach(interfaces_);
}

// ---- On the bus ----

void SimulatedMouse::plugIn(std::shared_ptr<SimulatedHIDBus> bus) {
    IOReturn openResult = kIOReturnSuccess;
    {
        std::lock_guard lock(mutex_);
        if (!interfaces_.empty()) return;
        openResult = openResult_;
        if (!bus) bus = bus_;
    }
    if (!bus) bus = std::dynamic_pointer_cast<SimulatedHIDBus>(HIDSystem::shared());
    if (!bus) return;
    auto interface = [](std::int64_t page, std::int64_t usage, std::int64_t maxIn, std::int64_t maxOut) {
        SimulatedHIDInterface i;
        i.vendorID = vendorID;
        i.productID = productID;
        i.product = product;
        i.manufacturer = manufacturer;
        i.serialNumber = serialNumber;
        i.locationID = 0x01100000;
        i.primaryUsagePage = page;
        i.primaryUsage = usage;
        i.usagePairs = {{page, usage}};
        i.maxInputReportSize = maxIn;
        i.maxOutputReportSize = maxOut;
        return i;
    };
    // The pointer, the keyboard collection that macro keys use, and the
    // vendor collection that carries HID++ (listed after the generic
    // desktop usage, as the mouse lists it).
    SimulatedHIDInterface pointer = interface(0x01, 0x02, 8, 0);
    SimulatedHIDInterface keyboard = interface(0x01, 0x06, 8, 1);
    SimulatedHIDInterface hidpp = interface(0xFF00, 0x02, 20, 20);
    hidpp.usagePairs = {{0x01, 0x80}, {0xFF00, 0x02}};
    auto attached = bus->attach({pointer.properties(), keyboard.properties(), hidpp.properties()});
    std::shared_ptr<SimulatedHIDDevice> hidppDevice = attached.at(2);
    hidppDevice->setOpenResult(openResult);
    std::weak_ptr<SimulatedMouse> weak = weak_from_this();
    hidppDevice->setResponder([weak](std::span<const std::uint8_t> report) {
        std::vector<SimulatedHIDReply> replies;
        if (auto self = weak.lock()) {
            for (auto& r : self->respond(report)) replies.push_back({std::move(r), std::chrono::nanoseconds(0)});
        }
        return replies;
    });
    std::lock_guard lock(mutex_);
    bus_ = std::move(bus);
    interfaces_ = std::move(attached);
    hidpp_ = std::move(hidppDevice);
}

void SimulatedMouse::unplug() {
    std::shared_ptr<SimulatedHIDBus> bus;
    std::vector<std::shared_ptr<SimulatedHIDDevice>> interfaces;
    {
        std::lock_guard lock(mutex_);
        bus = bus_;
        interfaces = std::move(interfaces_);
        interfaces_.clear();
        hidpp_.reset();
    }
    if (bus && !interfaces.empty()) bus->detach(interfaces);
}

bool SimulatedMouse::isPluggedIn() const {
    std::lock_guard lock(mutex_);
    return !interfaces_.empty();
}

std::shared_ptr<SimulatedHIDDevice> SimulatedMouse::hidppInterface() const {
    std::lock_guard lock(mutex_);
    return hidpp_;
}

void SimulatedMouse::refuseOpen(IOReturn result) {
    std::shared_ptr<SimulatedHIDDevice> hidpp;
    {
        std::lock_guard lock(mutex_);
        openResult_ = result;
        hidpp = hidpp_;
    }
    if (hidpp) hidpp->setOpenResult(result);
}

void SimulatedMouse::allowOpen() { refuseOpen(kIOReturnSuccess); }

void SimulatedMouse::inject(std::vector<std::uint8_t> report) {
    if (auto hidpp = hidppInterface()) hidpp->inject(std::move(report));
}

void SimulatedMouse::sendNotification(std::uint16_t featureID, std::uint8_t function, std::span<const std::uint8_t> payload) {
    inject(notificationReport(featureID, function, payload));
}

void SimulatedMouse::sendRatchetSwitch(std::uint8_t state) { inject(ratchetSwitchNotification(state)); }

std::vector<std::vector<std::uint8_t>> SimulatedMouse::respond(std::span<const std::uint8_t> report) {
    Response response = handleOutputReport(report);
    // The cable goes while the request is on its way: no answer, ever.
    if (response.unplug) unplug();
    return std::move(response.reports);
}

std::vector<SimulatedMouse::FeatureEntry> SimulatedMouse::defaultFeatureTable() {
    // The table of the real mouse (firmware U1 60.00.B0009, HID++ 4.2), index
    // by index. The eleven internal features are listed hidden and
    // engineering-only, as the mouse lists them.
    constexpr std::uint8_t internal = 0x60;
    return {
        entry(rootFeature, 0x00, 0),
        entry(featureSetFeature, 0x00, 0),
        entry(deviceInformationFeature, 0x00, 4),
        entry(deviceNameFeature, 0x00, 0),
        entry(0x0020, 0x00, 0), // reset (configuration change)
        entry(0x00C2, 0x00, 0), // firmware update control
        entry(0x1801, internal, 0),
        entry(0x1802, internal, 0),
        entry(0x1805, internal, 0),
        entry(0x1806, internal, 0),
        entry(0x1875, internal, 0),
        entry(0x18A1, internal, 0),
        entry(0x18B1, internal, 0),
        entry(0x18C0, internal, 0),
        entry(0x1E00, internal, 0),
        entry(0x1E22, internal, 0),
        entry(0x1EB0, internal, 0),
        entry(hiResWheelFeature, 0x00, 1),
        entry(adjustableDPIFeature, 0x00, 2),
        entry(reportRateFeature, 0x00, 0),
        entry(onboardProfilesFeature, 0x00, 0),
        entry(0x8110, 0x00, 0), // mouse button spy
    };
}

SimulatedMouse::Response SimulatedMouse::handleOutputReport(std::span<const std::uint8_t> report) {
    if (report.size() < headerLength) return {};
    const bool isLong = report[0] == longReportID;
    if (!isLong && report[0] != shortReportID) return {};
    if (report.size() < (isLong ? longReportLength : shortReportLength)) return {};

    std::lock_guard lock(mutex_);
    ReceivedRequest request;
    request.report.assign(report.begin(), report.end());
    request.isLong = isLong;
    request.deviceIndex = report[1];
    request.featureIndex = report[2];
    request.featureID = featureIDAt(report[2]);
    request.function = static_cast<std::uint8_t>(report[3] >> 4);
    request.softwareID = static_cast<std::uint8_t>(report[3] & 0x0F);
    request.parameters.assign(report.begin() + headerLength,
                              report.begin() + static_cast<std::ptrdiff_t>(isLong ? longReportLength : shortReportLength));
    request.writer = std::this_thread::get_id();
    received_.push_back(request);

    if (silent_) return {};
    const std::uint8_t fnByte = report[3];
    auto errorReport20 = [&](std::uint8_t code) {
        const std::uint8_t body[] = {request.featureIndex, fnByte, code};
        return longReport(request.deviceIndex, error20FeatureIndex, body[0], std::span(body).subspan(1));
    };

    Response response;
    std::optional<Fault> fault = takeFault(request);
    if (fault) {
        switch (fault->kind) {
        case FaultKind::drop: return response;
        case FaultKind::unplug: response.unplug = true; return response;
        case FaultKind::error20: response.reports.push_back(errorReport20(fault->code)); return response;
        case FaultKind::error10:
            response.reports.push_back({shortReportID, request.deviceIndex, error10FeatureIndex, request.featureIndex,
                                        fnByte, fault->code, 0x00});
            return response;
        case FaultKind::replace: {
            std::vector<std::uint8_t> reply{longReportID, request.deviceIndex, request.featureIndex, fnByte};
            reply.insert(reply.end(), fault->payload.begin(), fault->payload.end());
            response.reports.push_back(std::move(reply));
            return response;
        }
        case FaultKind::duplicate: break; // answered normally below, twice
        }
    }

    if (request.deviceIndex != deviceIndex) {
        // Not addressed to this device: the HID++ 1.0 layer rejects it.
        response.reports.push_back({shortReportID, request.deviceIndex, error10FeatureIndex, request.featureIndex,
                                    fnByte, error10UnknownDevice, 0x00});
        return response;
    }
    const Answer a = answer(request);
    std::vector<std::uint8_t> reply = a.error ? errorReport20(*a.error)
                                              : longReport(request.deviceIndex, request.featureIndex, fnByte, a.payload);
    if (fault && fault->kind == FaultKind::duplicate) response.reports.push_back(reply);
    response.reports.push_back(std::move(reply));
    return response;
}

std::vector<std::uint8_t> SimulatedMouse::notificationReport(std::uint16_t featureID, std::uint8_t function,
                                                             std::span<const std::uint8_t> payload) const {
    std::lock_guard lock(mutex_);
    const std::uint8_t index = indexOf(featureID).value_or(0);
    return longReport(deviceIndex, index, static_cast<std::uint8_t>((function & 0x0F) << 4), payload);
}

std::vector<std::uint8_t> SimulatedMouse::ratchetSwitchNotification(std::uint8_t state) {
    setRatchetState(state);
    const std::uint8_t payload[] = {state};
    return notificationReport(hiResWheelFeature, 1, payload);
}

// ---- Protocol ----

std::optional<std::uint16_t> SimulatedMouse::featureIDAt(std::uint8_t index) const {
    if (index >= table_.size()) return std::nullopt;
    return table_[index].id;
}

std::optional<std::uint8_t> SimulatedMouse::indexOf(std::uint16_t featureID) const {
    for (std::size_t i = 0; i < table_.size() && i <= 0xFF; ++i)
        if (table_[i].id == featureID) return static_cast<std::uint8_t>(i);
    return std::nullopt;
}

SimulatedMouse::Answer SimulatedMouse::answer(const ReceivedRequest& request) {
    if (!request.featureID) return Answer::rejected(errorInvalidFeatureIndex);
    switch (*request.featureID) {
    case rootFeature: return root(request);
    case featureSetFeature: return featureSet(request);
    case deviceInformationFeature: return deviceInformation(request);
    case deviceNameFeature: return deviceName(request);
    case hiResWheelFeature: return hiResWheel(request);
    case adjustableDPIFeature: return adjustableDPI(request);
    case reportRateFeature: return reportRate(request);
    case onboardProfilesFeature: return onboardProfiles(request);
    // Listed, but not modelled here: saying so beats answering made-up data.
    default: return Answer::rejected(errorUnsupported);
    }
}

SimulatedMouse::Answer SimulatedMouse::root(const ReceivedRequest& r) {
    const auto& p = r.parameters;
    switch (r.function) {
    case 0: { // getFeature
        const auto index = indexOf(word(p[0], p[1]));
        if (!index) return Answer({0, 0, 0});
        const FeatureEntry& e = table_[*index];
        return Answer({*index, e.type, e.version});
    }
    case 1: // ping: the version and the caller's token echoed back
        return Answer({protocolMajor_, protocolMinor_, p[2]});
    default: return Answer::rejected(errorInvalidFunctionID);
    }
}

SimulatedMouse::Answer SimulatedMouse::featureSet(const ReceivedRequest& r) {
    switch (r.function) {
    case 0: return Answer({static_cast<std::uint8_t>(table_.empty() ? 0 : table_.size() - 1)});
    case 1: {
        const std::size_t i = r.parameters[0];
        if (i >= table_.size()) return Answer::rejected(errorOutOfRange);
        const FeatureEntry& e = table_[i];
        return Answer({hi(e.id), lo(e.id), e.type, e.version});
    }
    default: return Answer::rejected(errorInvalidFunctionID);
    }
}

SimulatedMouse::Answer SimulatedMouse::deviceInformation(const ReceivedRequest& r) {
    if (r.function != 0) return Answer::rejected(errorInvalidFunctionID);
    // Entities, unit id, transports (USB), model ids (this product's id first),
    // extended model id, capabilities.
    return Answer({3, 0x1A, 0x2B, 0x3C, 0x4D, 0x00, 0x08, 0xC0, 0x99, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
}

SimulatedMouse::Answer SimulatedMouse::deviceName(const ReceivedRequest& r) {
    switch (r.function) {
    case 0: return Answer({static_cast<std::uint8_t>(std::min<std::size_t>(name_.size(), 0xFF))});
    case 1: {
        const std::size_t offset = r.parameters[0];
        if (offset >= name_.size()) return Answer::rejected(errorInvalidArgument);
        const std::string chunk = name_.substr(offset, longPayloadLength);
        return Answer(std::vector<std::uint8_t>(chunk.begin(), chunk.end()));
    }
    case 2: return Answer({3}); // device type: mouse
    default: return Answer::rejected(errorInvalidFunctionID);
    }
}

SimulatedMouse::Answer SimulatedMouse::hiResWheel(const ReceivedRequest& r) {
    switch (r.function) {
    case 0: return Answer({wheelMultiplier, wheelCapabilityFlags});
    case 1: return Answer({wheelMode_});
    case 2:
        wheelMode_ = static_cast<std::uint8_t>(r.parameters[0] & 0x07);
        return Answer({wheelMode_});
    case 3: return Answer({ratchetState_});
    default: return Answer::rejected(errorInvalidFunctionID);
    }
}

bool SimulatedMouse::dpiAccepted(std::uint16_t dpi) const {
    for (std::size_t i = 1; i + 1 < dpiList_.size(); ++i) {
        if ((dpiList_[i] & dpiRangeMarker) != dpiRangeMarker) continue;
        const std::uint16_t minimum = dpiList_[i - 1];
        const std::uint16_t maximum = dpiList_[i + 1];
        const std::uint16_t step = dpiList_[i] & 0x1FFF;
        if (dpi < minimum || dpi > maximum) return false;
        return step < 2 || (dpi - minimum) % step == 0;
    }
    return std::find(dpiList_.begin(), dpiList_.end(), dpi) != dpiList_.end();
}

SimulatedMouse::Answer SimulatedMouse::adjustableDPI(const ReceivedRequest& r) {
    const auto& p = r.parameters;
    if (r.function == 0) return Answer({1}); // one sensor
    if (r.function > 3) return Answer::rejected(errorInvalidFunctionID);
    if (p[0] != 0) return Answer::rejected(errorInvalidArgument); // no such sensor
    switch (r.function) {
    case 1: {
        std::vector<std::uint8_t> payload{p[0]};
        for (std::uint16_t w : dpiList_) {
            payload.push_back(hi(w));
            payload.push_back(lo(w));
        }
        return Answer(std::move(payload));
    }
    case 2: return Answer({p[0], hi(currentDPI_), lo(currentDPI_), hi(defaultDPI_), lo(defaultDPI_)});
    default: {
        const std::uint16_t dpi = word(p[1], p[2]);
        if (!dpiAccepted(dpi)) return Answer::rejected(errorInvalidArgument);
        currentDPI_ = dpi;
        return Answer({p[0], p[1], p[2]});
    }
    }
}

SimulatedMouse::Answer SimulatedMouse::reportRate(const ReceivedRequest& r) {
    switch (r.function) {
    case 0: return Answer({reportRateBitmap_});
    case 1: return Answer({reportInterval_});
    case 2: {
        const std::uint8_t ms = r.parameters[0];
        if (ms < 1 || ms > 8 || (reportRateBitmap_ & (1u << (ms - 1))) == 0) return Answer::rejected(errorInvalidArgument);
        reportInterval_ = ms;
        return Answer({ms});
    }
    default: return Answer::rejected(errorInvalidFunctionID);
    }
}

SimulatedMouse::Answer SimulatedMouse::onboardProfiles(const ReceivedRequest& r) {
    const auto& p = r.parameters;
    switch (r.function) {
    case 0: // memory model, formats, 5 profiles, 1 out of the box, 13 buttons, sectors, layout, info
        return Answer({1, 4, 1, 5, 1, 13, sectorCount, hi(sectorSize), lo(sectorSize), 0x02, 0x01});
    case 1:
        if (p[0] != 1 && p[0] != 2) return Answer::rejected(errorInvalidArgument);
        onboardMode_ = p[0];
        return Answer({});
    case 2: return Answer({onboardMode_});
    case 4: return Answer({0x00, 0x01}); // page 0, profile 1
    case 5: {
        const std::uint16_t sector = word(p[0], p[1]);
        const std::uint16_t offset = word(p[2], p[3]);
        if (sector >= sectorCount) return Answer::rejected(errorInvalidArgument);
        if (offset + longPayloadLength > sectorSize) return Answer::rejected(errorOutOfRange);
        std::vector<std::uint8_t> payload;
        for (std::size_t i = 0; i < longPayloadLength; ++i)
            payload.push_back(memoryByte(sector, static_cast<std::uint16_t>(offset + i)));
        return Answer(std::move(payload));
    }
    default: return Answer::rejected(errorInvalidFunctionID);
    }
}

// ---- State ----

void SimulatedMouse::setFeatureTable(std::vector<FeatureEntry> table) {
    std::lock_guard lock(mutex_);
    table_ = std::move(table);
}

std::vector<SimulatedMouse::FeatureEntry> SimulatedMouse::featureTable() const {
    std::lock_guard lock(mutex_);
    return table_;
}

std::optional<std::uint8_t> SimulatedMouse::featureIndex(std::uint16_t featureID) const {
    std::lock_guard lock(mutex_);
    return indexOf(featureID);
}

void SimulatedMouse::setProtocolVersion(std::uint8_t major, std::uint8_t minor) {
    std::lock_guard lock(mutex_);
    protocolMajor_ = major;
    protocolMinor_ = minor;
}

void SimulatedMouse::setName(std::string name) {
    std::lock_guard lock(mutex_);
    name_ = std::move(name);
}

std::string SimulatedMouse::name() const {
    std::lock_guard lock(mutex_);
    return name_;
}

void SimulatedMouse::setDPIList(std::vector<std::uint16_t> words) {
    std::lock_guard lock(mutex_);
    dpiList_ = std::move(words);
}

std::uint16_t SimulatedMouse::currentDPI() const {
    std::lock_guard lock(mutex_);
    return currentDPI_;
}

void SimulatedMouse::setCurrentDPI(std::uint16_t dpi) {
    std::lock_guard lock(mutex_);
    currentDPI_ = dpi;
}

std::uint16_t SimulatedMouse::defaultDPI() const {
    std::lock_guard lock(mutex_);
    return defaultDPI_;
}

std::uint8_t SimulatedMouse::reportRateBitmap() const {
    std::lock_guard lock(mutex_);
    return reportRateBitmap_;
}

void SimulatedMouse::setReportRateBitmap(std::uint8_t bitmap) {
    std::lock_guard lock(mutex_);
    reportRateBitmap_ = bitmap;
}

std::uint8_t SimulatedMouse::reportIntervalMilliseconds() const {
    std::lock_guard lock(mutex_);
    return reportInterval_;
}

std::uint8_t SimulatedMouse::wheelMode() const {
    std::lock_guard lock(mutex_);
    return wheelMode_;
}

void SimulatedMouse::setWheelMode(std::uint8_t mode) {
    std::lock_guard lock(mutex_);
    wheelMode_ = static_cast<std::uint8_t>(mode & 0x07);
}

int SimulatedMouse::wheelReportsPerDetent() const {
    constexpr std::uint8_t toHIDPP = 0x01;
    constexpr std::uint8_t highResolution = 0x02;
    std::lock_guard lock(mutex_);
    return (wheelMode_ & highResolution) != 0 && (wheelMode_ & toHIDPP) == 0 ? wheelMultiplier : 1;
}

std::uint8_t SimulatedMouse::ratchetState() const {
    std::lock_guard lock(mutex_);
    return ratchetState_;
}

void SimulatedMouse::setRatchetState(std::uint8_t state) {
    std::lock_guard lock(mutex_);
    ratchetState_ = state;
}

std::uint8_t SimulatedMouse::onboardMode() const {
    std::lock_guard lock(mutex_);
    return onboardMode_;
}

std::uint8_t SimulatedMouse::memoryByte(std::uint16_t sector, std::uint16_t offset) const {
    // A fixed pattern, so that reads at different places differ.
    return static_cast<std::uint8_t>((sector * 0x31 + offset * 7 + 0x5A) & 0xFF);
}

// ---- Faults ----

void SimulatedMouse::addFault(Fault fault) {
    std::lock_guard lock(mutex_);
    faults_.push_back(std::move(fault));
}

std::optional<SimulatedMouse::Fault> SimulatedMouse::takeFault(const ReceivedRequest& request) {
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (!matches(it->match, request)) continue;
        Fault taken = *it;
        if (--it->remaining <= 0) faults_.erase(it);
        return taken;
    }
    return std::nullopt;
}

void SimulatedMouse::failNext(RequestMatch match, std::uint8_t hidpp20Code, int count) {
    addFault({.match = match, .kind = FaultKind::error20, .code = hidpp20Code, .payload = {}, .remaining = count});
}

void SimulatedMouse::failNextWithHIDPP10(RequestMatch match, std::uint8_t code, int count) {
    addFault({.match = match, .kind = FaultKind::error10, .code = code, .payload = {}, .remaining = count});
}

void SimulatedMouse::dropNext(RequestMatch match, int count) {
    addFault({.match = match, .kind = FaultKind::drop, .code = 0, .payload = {}, .remaining = count});
}

void SimulatedMouse::replyNextWith(RequestMatch match, std::vector<std::uint8_t> payload, int count) {
    addFault({.match = match, .kind = FaultKind::replace, .code = 0, .payload = std::move(payload), .remaining = count});
}

void SimulatedMouse::duplicateNext(RequestMatch match, int count) {
    addFault({.match = match, .kind = FaultKind::duplicate, .code = 0, .payload = {}, .remaining = count});
}

void SimulatedMouse::unplugOnNext(RequestMatch match) {
    addFault({.match = match, .kind = FaultKind::unplug, .code = 0, .payload = {}, .remaining = 1});
}

void SimulatedMouse::setSilent(bool silent) {
    std::lock_guard lock(mutex_);
    silent_ = silent;
}

void SimulatedMouse::clearFaults() {
    std::lock_guard lock(mutex_);
    faults_.clear();
    silent_ = false;
}

std::vector<SimulatedMouse::ReceivedRequest> SimulatedMouse::receivedRequests() const {
    std::lock_guard lock(mutex_);
    return received_;
}

std::size_t SimulatedMouse::requestCount(std::uint16_t featureID, std::optional<std::uint8_t> function) const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count_if(received_.begin(), received_.end(), [&](const ReceivedRequest& r) {
        return r.featureID == featureID && (!function || r.function == *function);
    }));
}

void SimulatedMouse::clearReceivedRequests() {
    std::lock_guard lock(mutex_);
    received_.clear();
}

} // namespace ravolet::platform
