#include "RavoletApp/ViewModels/PointerPageRules.hpp"

#include <fmt/format.h>

#include "Core/Clamp.hpp"
#include "Core/PointerCurve.hpp"
#include "Platform/Linux/Desktop/PointerAccelSetting.hpp"
#include "RavoletEngine/Coordination/PointerTuningCapture.hpp"

namespace ravolet {

namespace {

std::string countsPerInch(std::int64_t fixed) { return fmt::format("{:.0f} counts per inch", cpiFromFixed(fixed)); }

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
    return PageFact{"Wheel is currently", wheelModeText(*mode), std::nullopt};
}

std::string wheelModeText(const HIDPPWheelMode& mode) {
    std::string text = mode.target ? "HID++ path" : "Plain HID wheel";
    text += mode.highResolution ? ", high resolution" : ", normal resolution";
    if (mode.inverted) text += ", reversed";
    return text;
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

std::string accelerationText(const std::optional<std::int64_t>& code) {
    if (!code) return "none";
    const auto setting = platform::PointerAccelSetting::fromCode(*code);
    return setting ? setting->description() : "not one Ravolet knows";
}

std::string appliedText(const PointerTuningStatus& status) {
    return status.lastReadBackAcceleration ? accelerationText(status.lastReadBackAcceleration) : "unchanged";
}

std::string savedText(const PointerTuningStatus& status) {
    if (!status.capture) return "\u2014";
    return status.capture->acceleration ? accelerationText(status.capture->acceleration) : "none set";
}

bool curveNumbersAreMeaningful(const PointerTuningStatus& status) {
    return status.isApplied && status.lastReadBackAcceleration && *status.lastReadBackAcceleration < 0;
}

namespace {

// Where the desktop keeps the profile and speed, for the facts' help.
std::string keptBy(PointerDesktop desktop) {
    switch (desktop) {
    case PointerDesktop::xServer:
        return "as the X server holds them for the pointer Ravolet moves";
    case PointerDesktop::sway:
        return "as sway keeps them for devices named like this mouse";
    case PointerDesktop::kwin:
        return "as KWin keeps them for this mouse in its input settings";
    case PointerDesktop::gnome:
        return "as GNOME keeps them: one acceleration profile for every mouse";
    case PointerDesktop::system:
    case PointerDesktop::none:
        break;
    }
    return "as your desktop reports them";
}

} // namespace

std::string hardwareIntro() {
    return "Your desktop passes your mouse's motion through libinput, which speeds the pointer up by its own "
           "acceleration profile before it moves. Ravolet's pointer curve comes first, so while your desktop's "
           "acceleration is on for the mouse the two curves stack, and the pointer travels further than Ravolet's "
           "curve says.";
}

HardwareBeliefs hardwareBeliefs(const PointerTuningStatus& status, const std::optional<HIDPPDPIState>& read,
                                std::int64_t profileDPI, PointerDesktop desktop) {
    HardwareBeliefs beliefs;
    if (!status.isSupported || desktop == PointerDesktop::none)
        beliefs.explanation =
            "Ravolet cannot reach this desktop's mouse settings. To have the pointer move exactly as Ravolet's curve "
            "says, set the acceleration profile for \u201CLogitech G502 X\u201D to flat (libinput's flat profile, "
            "speed 0) in your desktop's mouse settings.";
    if (!status.currentReading) {
        if (!beliefs.explanation)
            beliefs.explanation = "Your desktop has not listed the pointer Ravolet moves for your mouse yet \u2014 see "
                                  "the Device page.";
        return beliefs;
    }
    const PointerTuningCapture& reading = *status.currentReading;
    beliefs.facts.push_back({"libinput assumes your mouse reports",
                             reading.resolution ? countsPerInch(*reading.resolution) : "no figure",
                             "udev's hardware database figure for this mouse (MOUSE_DPI), or libinput's own 1000 when "
                             "it has none. Linux has no per-device way to change it."});
    beliefs.facts.push_back({"Your mouse actually reports", deviceDPIText(read, profileDPI),
                             "What the sensor is really doing, read back from the mouse itself."});
    if (const auto factor = overestimateFactor(status, deviceDPI(read, profileDPI)); factor && *factor > 1.0)
        beliefs.facts.push_back(
            {"So libinput overestimates your hand speed by", fmt::format("{:.1f}\u00D7", *factor),
             "Its adaptive profile speeds the pointer up by how fast it believes your hand moves, so it adds "
             "acceleration you never asked for. Turn the DPI down to compensate and slow movement turns coarse "
             "instead. The flat profile does not use the figure at all."});
    beliefs.facts.push_back({"Acceleration in force", accelerationText(reading.acceleration),
                             "libinput's profile and speed for this mouse, " + keptBy(desktop) + "."});
    return beliefs;
}

TuningSwitch tuningSwitch(const PointerTuningStatus& status, PointerDesktop desktop) {
    return {status.isSupported, status.isSupported && status.isEnabled,
            desktop == PointerDesktop::gnome
                ? "Let Ravolet switch GNOME's mouse acceleration off while it runs (every mouse)"
                : "Let Ravolet switch your desktop's acceleration off for this mouse while it runs"};
}

std::vector<std::string> tuningExplanations(PointerDesktop desktop) {
    const std::string puttingBack =
        "puts it back when you switch this off and when Ravolet stops or quits, and on the next launch if Ravolet was "
        "killed while it was on.";
    const std::string perDevice =
        "Turning this on changes one setting of your desktop's, for the pointer Ravolet moves for this mouse: "
        "libinput's acceleration profile, set to flat at speed 0, so that the pointer moves exactly as far as "
        "Ravolet's curve says. Your touchpad and every other mouse are left alone.";
    switch (desktop) {
    case PointerDesktop::none:
        return {};
    case PointerDesktop::gnome:
        return {"GNOME keeps one acceleration profile for every mouse, not one for each. Turning this on sets it to "
                "flat while Ravolet runs, so that the pointer moves exactly as far as Ravolet's curve says \u2014 and "
                "every other mouse on this computer moves without GNOME's acceleration too, until Ravolet puts it "
                "back. Your pointer speed setting stays as it is.",
                "Ravolet saves the old profile before it changes anything, and " + puttingBack};
    case PointerDesktop::xServer:
        return {perDevice,
                "The X server keeps the setting for that one device and writes it to no file. Ravolet saves the old "
                "value before it changes anything, sets it again when the X server adds the device afresh, and " +
                    puttingBack};
    case PointerDesktop::sway:
        return {perDevice, "sway keeps the setting for devices named like this mouse until it exits. Ravolet saves the "
                           "old value before it changes anything, and " + puttingBack};
    case PointerDesktop::kwin:
        return {perDevice, "KWin saves the setting for this mouse in its input settings. Ravolet saves the old value "
                           "before it changes anything, and " + puttingBack};
    case PointerDesktop::system:
        break;
    }
    return {perDevice, "Ravolet saves the old value before it changes anything, and " + puttingBack};
}

std::vector<PageFact> appliedCorrectionFacts(const PointerTuningStatus& status, PointerDesktop desktop) {
    if (!status.isApplied) return {};
    const bool everyMouse = desktop == PointerDesktop::gnome;
    return {
        {"Now in force", appliedText(status),
         "Read straight back from your desktop after writing, not just what Ravolet asked for."},
        {"Saved for putting back", savedText(status), "Held on disk as well as in memory, so a crash cannot lose it."},
        {"Applied to",
         everyMouse ? "Every mouse"
                    : (status.target && status.target->product ? *status.target->product : std::string("Your mouse")) +
                          " \u2014 the pointer Ravolet moves for your mouse",
         everyMouse ? "GNOME has no setting for one mouse alone."
                    : "It carries your mouse's name, so your desktop's own settings for the mouse (left-handed "
                      "buttons, natural scrolling, scroll speed) apply to it as they did to the mouse."},
    };
}

std::optional<PageNotice> correctionFailure(const PointerTuningStatus& status) {
    // What the rest of the status says may be out of date until the desktop answers.
    if (status.isWaitingForDesktop)
        return PageNotice{PageNoticeKind::informational, "Waiting for your desktop to answer",
                          "Ravolet has asked your desktop about the mouse's acceleration and is still waiting for "
                          "its answer. Until it comes, what this page says of the setting may be out of date; "
                          "Ravolet's windows keep working meanwhile."};
    if (status.restoreFailed)
        return PageNotice{PageNoticeKind::problem, "Your desktop would not put your original values back",
                          status.lastError.value_or("The restore was refused.") +
                              " Ravolet has kept the saved originals rather than discarding them, and will try again "
                              "when the mouse next reconnects and on the next launch."};
    if (status.isEnabled && status.changedOutside)
        return PageNotice{PageNoticeKind::warning, "Your desktop's acceleration is on again for this mouse",
                          "Its setting was changed while Ravolet ran (in your desktop's mouse settings, or by your "
                          "desktop reloading them), so Ravolet has left it as it is and will not put its own value "
                          "back, now or when it stops. The pointer moves further than Ravolet's curve says. Ravolet "
                          "switches the acceleration off again when the mouse reconnects, when its DPI changes, or "
                          "when you switch this off and on again."};
    if (status.restorePending)
        return PageNotice{PageNoticeKind::informational, "Your original values go back when the mouse is there",
                          "Your desktop lists no device of this mouse's right now, so Ravolet cannot read or put back "
                          "its setting yet. The saved originals are kept, on disk too, and go back as soon as your "
                          "desktop lists the mouse again."};
    if (status.isEnabled && status.isPermitted && status.isWaitingForDevice)
        return PageNotice{PageNoticeKind::informational, "Tuning waits for the mouse",
                          "Ravolet switches your desktop's acceleration off for the mouse as soon as the mouse is "
                          "plugged in and your desktop lists the pointer Ravolet moves for it."};
    if (!status.lastError || !status.isEnabled) return std::nullopt;
    if (status.accelerationWrite == PointerPropertyWrite::skipped && status.isApplied)
        return PageNotice{PageNoticeKind::warning, "Ravolet left one of the two settings alone", *status.lastError};
    return PageNotice{PageNoticeKind::problem, "Your desktop would not accept the change", *status.lastError};
}

std::optional<PageNotice> recoveredCaptureNotice(const PointerTuningStatus& status) {
    // While they wait to go back, the notice of that says so instead.
    if (!status.recoveredStrandedCapture || status.restorePending) return std::nullopt;
    return PageNotice{PageNoticeKind::informational, "Ravolet put your old values back on this launch",
                      "Ravolet was not shut down cleanly last time and still had this correction applied. It found "
                      "the values it had saved and restored them before doing anything else (a setting you had "
                      "changed since was left as you set it)."};
}

std::string curveFooter(const PointerTuningStatus& status, PointerDesktop desktop) {
    const std::string stored = "These settings are stored per profile and operate on raw mouse movement. ";
    if (curveNumbersAreMeaningful(status))
        return stored + "Your desktop's acceleration is off for this mouse, so nothing is added to this curve.";
    if (!status.isSupported || desktop == PointerDesktop::none)
        return stored + "Your desktop's own acceleration is added on top of this curve unless you switch it off in "
                        "your desktop's mouse settings.";
    return stored + "Your desktop's own acceleration is added on top of this curve unless it is switched off above.";
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
