#include "RavoletApp/ViewModels/PointerPageRules.hpp"

#include <fmt/format.h>

#include "Core/Clamp.hpp"
#include "Core/PointerCurve.hpp"
#include "RavoletEngine/Coordination/PointerTuningCapture.hpp"

namespace ravolet {

namespace {

std::string countsPerInch(std::int64_t fixed) { return fmt::format("{:.1f} counts per inch", cpiFromFixed(fixed)); }
std::string twoDecimals(std::int64_t fixed) { return fmt::format("{:.2f}", cpiFromFixed(fixed)); }

} // namespace

std::int64_t dpiFromSlider(double value) { return truncatedInteger(value); }

DPIAcceptance dpiAcceptance(const std::optional<HIDPPDPIRange>& range, std::int64_t profileDPI) {
    if (!range)
        return {.fact = std::nullopt,
                .unknown = "Ravolet has not been able to ask your mouse what DPI values it accepts yet \u2014 see the "
                           "Device page."};
    const std::int64_t accepted = range->normalize(profileDPI);
    std::string help = accepted == profileDPI
                           ? std::string("The value above is one your mouse will take exactly.")
                           : fmt::format("Your mouse cannot do exactly {}, so Ravolet will set the nearest value it "
                                         "accepts: {}.",
                                         profileDPI, accepted);
    return {.fact = PageFact{"Your mouse accepts", range->description(), std::move(help)}, .unknown = std::nullopt};
}

const std::vector<Choice<std::int64_t>>& reportRateChoices() {
    static const std::vector<Choice<std::int64_t>> choices{
        {"Leave the mouse as it is", std::nullopt},
        {"1000 Hz \u2014 every 1 ms", 1000},
        {"500 Hz \u2014 every 2 ms", 500},
        {"250 Hz \u2014 every 4 ms", 250},
        {"125 Hz \u2014 every 8 ms", 125},
    };
    return choices;
}

const std::vector<Choice<bool>>& wheelResolutionChoices() {
    static const std::vector<Choice<bool>> choices{
        {"Leave the mouse as it is", std::nullopt},
        {"Normal \u2014 one step per click", false},
        {"High resolution \u2014 finer steps per click", true},
    };
    return choices;
}

std::string supportedRatesText(const HIDPPReportRateInfo& info) {
    std::string text;
    for (const HIDPPReportRate& rate : info.supported()) {
        if (!text.empty()) text += ", ";
        text += fmt::format("{} Hz", rate.hertz());
    }
    return text;
}

std::optional<PageFact> runningAtFact(const std::optional<HIDPPReportRateInfo>& info) {
    if (!info) return std::nullopt;
    return PageFact{"Running at", info->current.description(),
                    "Supported by this mouse: " + supportedRatesText(*info) + "."};
}

std::optional<PageFact> wheelStepsFact(const std::optional<HIDPPWheelCapability>& capability) {
    if (!capability) return std::nullopt;
    return PageFact{"Steps per click in high resolution", std::to_string(capability->multiplier),
                    "What your mouse reports it can do."};
}

std::optional<PageFact> wheelModeFact(const std::optional<HIDPPWheelMode>& mode) {
    if (!mode) return std::nullopt;
    return PageFact{"Wheel is currently", mode->description(), std::nullopt};
}

std::int64_t deviceDPI(const std::optional<HIDPPDPIState>& read, std::int64_t profileDPI) {
    return read ? read->current : profileDPI;
}

std::string deviceDPIText(const std::optional<HIDPPDPIState>& read, std::int64_t profileDPI) {
    return read ? fmt::format("{} DPI", read->current) : fmt::format("{} DPI (this profile's setting)", profileDPI);
}

std::optional<double> overestimateFactor(const PointerTuningStatus& status, std::int64_t deviceDPI) {
    if (!status.currentReading || !status.currentReading->resolution) return std::nullopt;
    const double cpi = cpiFromFixed(*status.currentReading->resolution);
    if (!(cpi > 0)) return std::nullopt;
    return static_cast<double>(deviceDPI) / cpi;
}

std::string appliedText(const PointerTuningStatus& status) {
    const std::string resolution =
        status.lastReadBackResolution ? countsPerInch(*status.lastReadBackResolution) : "unchanged";
    std::string acceleration = "unchanged";
    if (const auto& value = status.lastReadBackAcceleration)
        acceleration = *value < 0 ? fmt::format("off ({})", *value) : twoDecimals(*value);
    return resolution + ", acceleration " + acceleration;
}

std::string savedText(const PointerTuningStatus& status) {
    if (!status.capture) return "\u2014";
    const PointerTuningCapture& capture = *status.capture;
    return (capture.resolution ? countsPerInch(*capture.resolution) : "none set") + ", acceleration " +
           (capture.acceleration ? twoDecimals(*capture.acceleration) : "none set");
}

bool curveNumbersAreMeaningful(const PointerTuningStatus& status) {
    return status.isApplied && status.lastReadBackAcceleration && *status.lastReadBackAcceleration < 0;
}

HardwareBeliefs hardwareBeliefs(const PointerTuningStatus& status, const std::optional<HIDPPDPIState>& read,
                                std::int64_t profileDPI) {
    if (!status.currentReading) {
        if (status.isSupported)
            return {.facts = {}, .explanation = "Ravolet has not found your mouse's pointer collection yet \u2014 see the Device page."};
        return {.facts = {}, .explanation = "Your desktop does not expose the setting Ravolet would need to change, so "
                               "this section can only describe the problem, not fix it."};
    }
    const PointerTuningCapture& reading = *status.currentReading;
    HardwareBeliefs beliefs;
    beliefs.facts.push_back({"Your desktop thinks your mouse reports",
                             reading.resolution ? countsPerInch(*reading.resolution) : "no figure on file",
                             "The per-device figure your desktop is dividing by. It is not something Logitech or your "
                             "mouse chose; something on this computer set it."});
    beliefs.facts.push_back({"Your mouse actually reports", deviceDPIText(read, profileDPI),
                             "What the sensor is really doing, read back from the mouse itself."});
    if (const auto factor = overestimateFactor(status, deviceDPI(read, profileDPI)))
        beliefs.facts.push_back(
            {"So your desktop overestimates your hand speed by", fmt::format("{:.0f}\u00D7", *factor),
             "Its acceleration table is indexed by that overestimate, so it sits pinned near its maximum gain almost "
             "all the time. Turn the DPI down to compensate and you fall into the flat part of the table instead, "
             "where it feels dead. That is the \u201Ceither too fast or too slow\u201D you have been fighting."});
    beliefs.facts.push_back(
        {"Acceleration in force",
         reading.acceleration ? fmt::format("{} = {}", reading.accelerationKey, twoDecimals(*reading.acceleration))
                              : reading.accelerationKey,
         "Your desktop picks which of several acceleration settings applies from the mouse's own "
         "\u201Cacceleration type\u201D. This is the one it named, and its current value."});
    return beliefs;
}

std::vector<PageFact> appliedCorrectionFacts(const PointerTuningStatus& status) {
    if (!status.isApplied) return {};
    return {
        {"Now in force", appliedText(status),
         "Read straight back out of your desktop after writing, not just what Ravolet asked for."},
        {"Saved for putting back", savedText(status), "Held on disk as well as in memory, so a crash cannot lose them."},
        {"Applied to", status.target ? status.target->label() : "\u2014",
         "One device, addressed by its device ID. Nothing else on this computer can be reached by it."},
    };
}

std::optional<PageNotice> correctionFailure(const PointerTuningStatus& status) {
    if (status.restoreFailed)
        return PageNotice{PageNoticeKind::problem, "Your desktop would not put your original values back",
                          status.lastError.value_or("The restore was refused.") +
                              " Ravolet has kept the saved originals rather than discarding them, and will try again "
                              "when the mouse next reconnects and on the next launch."};
    if (!status.lastError || !status.isEnabled) return std::nullopt;
    if (status.accelerationWrite == PointerPropertyWrite::skipped && status.isApplied)
        return PageNotice{PageNoticeKind::warning, "Ravolet left one of the two settings alone", *status.lastError};
    return PageNotice{PageNoticeKind::problem, "Your desktop would not accept the change", *status.lastError};
}

std::optional<PageNotice> recoveredCaptureNotice(const PointerTuningStatus& status) {
    if (!status.recoveredStrandedCapture) return std::nullopt;
    return PageNotice{PageNoticeKind::informational, "Ravolet put your old values back on this launch",
                      "Ravolet was not shut down cleanly last time and still had this correction applied. It found "
                      "the values it had saved and restored them before doing anything else."};
}

const CurveParameters& CurveParameters::starting() {
    static const CurveParameters starting = [] {
        const auto* curve = PointerCurve::desktop.acceleration.curveParameters();
        return CurveParameters{curve->exponent, curve->thresholdCountsPerSecond, curve->maxGain};
    }();
    return starting;
}

CurveParameters curveParameters(const PointerAcceleration& acceleration) {
    if (const auto* curve = acceleration.curveParameters())
        return {curve->exponent, curve->thresholdCountsPerSecond, curve->maxGain};
    return CurveParameters::starting();
}

bool accelerationIsOn(const PointerSettings& pointer) {
    return pointer.isEnabled && !pointer.curve.acceleration.isOff();
}

namespace {

PointerAcceleration curveOf(const CurveParameters& p) {
    return PointerAcceleration::curve(p.exponent, p.thresholdCountsPerSecond, p.maxGain);
}

} // namespace

void setAcceleration(PointerSettings& pointer, bool on) {
    if (!on) {
        pointer.curve.acceleration = PointerAcceleration::off();
        return;
    }
    pointer.isEnabled = true;
    pointer.curve.acceleration = curveOf(curveParameters(pointer.curve.acceleration));
}

void setCurveParameter(PointerSettings& pointer, CurveField field, double value) {
    if (pointer.curve.acceleration.isOff()) return;
    CurveParameters p = curveParameters(pointer.curve.acceleration);
    switch (field) {
    case CurveField::exponent: p.exponent = value; break;
    case CurveField::thresholdCountsPerSecond: p.thresholdCountsPerSecond = value; break;
    case CurveField::maxGain: p.maxGain = value; break;
    }
    pointer.curve.acceleration = curveOf(p);
}

PageStatusLine pointerStatus(const PointerStatusInputs& in) {
    using enum PageStatusLevel;
    const Profile& profile = in.profile;
    if (!profile.pointer.isEnabled) {
        if (curveNumbersAreMeaningful(in.tuning))
            return {off, "Pointer processing is off and your desktop's acceleration is disabled. Enable acceleration "
                         "above to add a curve."};
        return {off, "Pointer processing is off. Your desktop controls movement."};
    }
    if (profile.id != in.status.activeProfileID)
        return {waiting, "Saved for " + profile.name + ". The active profile is " + in.status.activeProfileName + "."};
    if (in.isPausedByUser || !in.permissions.accessibility || !in.permissions.inputMonitoring)
        return {waiting, "Saved, but pointer processing is paused or unavailable. See the notice above the tabs."};
    if (!in.status.targetDeviceAttached) return {waiting, "Waiting for your Logitech mouse."};
    if (!profile.pointer.curve.acceleration.isOff())
        return {good, fmt::format("Acceleration enabled for {}. {} movement samples processed.", profile.name,
                                  in.status.pointer.samplesTransformed)};
    return {good, "Constant pointer speed for " + profile.name + ". Acceleration from Ravolet is off."};
}

std::string loginItemSentence(platform::LoginItemStatus status) {
    using enum platform::LoginItemStatus;
    switch (status) {
    case notRegistered:
        return "Ravolet will not start on its own. Your mouse forgets its DPI, report rate and wheel mode every time it "
               "is unplugged or the computer restarts, so they will only come back once you open Ravolet.";
    case enabled:
        return "Ravolet will start automatically when you log in, and put your DPI, report rate and wheel settings "
               "back on the mouse.";
    case requiresApproval:
        return "Your desktop is waiting for you to allow Ravolet to start when you log in.";
    case notFound:
        return "Your desktop cannot find Ravolet's autostart entry. Reinstall Ravolet and try again.";
    }
    return "Ravolet could not determine whether it starts at login.";
}

std::optional<std::string> loginItemRefusal(const std::optional<std::string>& lastError) {
    if (!lastError) return std::nullopt;
    return "Your desktop refused: " + *lastError;
}

} // namespace ravolet
