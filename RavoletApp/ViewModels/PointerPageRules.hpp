#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Core/PointerAcceleration.hpp"
#include "Core/PointerSettings.hpp"
#include "Core/Profile.hpp"
#include "HIDPlusPlus/HIDPPDPIRange.hpp"
#include "HIDPlusPlus/HIDPPReportRate.hpp"
#include "HIDPlusPlus/HIDPPWheelMode.hpp"
#include "Platform/LoginItemService.hpp"
#include "RavoletApp/ViewModels/PageFacts.hpp"
#include "RavoletEngine/Coordination/EngineStatus.hpp"
#include "RavoletEngine/Coordination/PermissionState.hpp"
#include "RavoletEngine/Coordination/PointerPropertyBackend.hpp"
#include "RavoletEngine/Coordination/PointerTuningStatus.hpp"

namespace ravolet {

// ---- Device settings and DPI ----

inline constexpr std::array<std::int64_t, 8> dpiPresets{400, 800, 1500, 2000, 2500, 3000, 3500, 4000};

// The DPI a slider position stores: cut toward zero, never rounded.
std::int64_t dpiFromSlider(double value);

// What the page says about the profile's DPI and the values the mouse takes:
// a fact once the mouse has said what it accepts, else a line saying it has
// not been asked yet.
struct DPIAcceptance {
    std::optional<PageFact> fact;
    std::optional<std::string> unknown;
    friend bool operator==(const DPIAcceptance&, const DPIAcceptance&) = default;
};
DPIAcceptance dpiAcceptance(const std::optional<HIDPPDPIRange>& range, std::int64_t profileDPI);

template <class T>
struct Choice {
    std::string label;
    std::optional<T> value;
};
// The report rates one can pick, in hertz; none leaves the mouse as it is.
const std::vector<Choice<std::int64_t>>& reportRateChoices();
// The wheel resolutions (true for high); none leaves the mouse as it is.
const std::vector<Choice<bool>>& wheelResolutionChoices();

// The rates a mouse supports, fastest first: "1000 Hz, 500 Hz" (empty for none).
std::string supportedRatesText(const HIDPPReportRateInfo& info);
// "Running at", once the mouse's report rate has been read.
std::optional<PageFact> runningAtFact(const std::optional<HIDPPReportRateInfo>& info);
// The high-resolution steps per click and the wheel's current mode, each once read.
std::optional<PageFact> wheelStepsFact(const std::optional<HIDPPWheelCapability>& capability);
std::optional<PageFact> wheelModeFact(const std::optional<HIDPPWheelMode>& mode);
// The wheel's mode as a person reads it, on this page and the Device page:
// "Plain HID wheel, normal resolution", with ", reversed" when it is.
std::string wheelModeText(const HIDPPWheelMode& mode);

// ---- The desktop's acceleration (pointer tuning) ----

// The DPI the sensor runs at as read from the mouse, else the profile's.
std::int64_t deviceDPI(const std::optional<HIDPPDPIState>& read, std::int64_t profileDPI);
std::string deviceDPIText(const std::optional<HIDPPDPIState>& read, std::int64_t profileDPI);
// How far the counts per inch libinput assumes fall short of the mouse's
// real DPI; none without a positive figure.
std::optional<double> overestimateFactor(const PointerTuningStatus& status, std::int64_t deviceDPI);
// A desktop acceleration setting as the page shows it ("flat, speed 0.00");
// "none" without one.
std::string accelerationText(const std::optional<std::int64_t>& code);
// What is in force now, read back after writing, and what is held to put back.
std::string appliedText(const PointerTuningStatus& status);
std::string savedText(const PointerTuningStatus& status);
// The desktop's acceleration is off (flat) for the mouse, as read back.
bool curveNumbersAreMeaningful(const PointerTuningStatus& status);

// The section's opening paragraph.
std::string hardwareIntro();
// What the desktop does to the mouse: facts once the pointer Ravolet moves
// has been read, and a line saying why there are none or what to set by hand.
struct HardwareBeliefs {
    std::vector<PageFact> facts;
    std::optional<std::string> explanation;
    friend bool operator==(const HardwareBeliefs&, const HardwareBeliefs&) = default;
};
HardwareBeliefs hardwareBeliefs(const PointerTuningStatus& status, const std::optional<HIDPPDPIState>& read,
                                std::int64_t profileDPI, PointerDesktop desktop);
// The user's switch: shown only where Ravolet can write (so it is never
// checked and disabled), titled by what it changes.
struct TuningSwitch {
    bool visible = false;
    bool checked = false;
    std::string title;
    friend bool operator==(const TuningSwitch&, const TuningSwitch&) = default;
};
TuningSwitch tuningSwitch(const PointerTuningStatus& status, PointerDesktop desktop);
// The paragraphs under the switch: what it changes, where the desktop keeps
// it and when Ravolet puts it back; none where there is no switch.
std::vector<std::string> tuningExplanations(PointerDesktop desktop);
// While the tuning is in force: what is applied, what is saved, and where.
std::vector<PageFact> appliedCorrectionFacts(const PointerTuningStatus& status, PointerDesktop desktop);
// At most one notice about the tuning that is not in force as asked: a failed
// write or restore, a setting changed outside Ravolet, originals waiting to go
// back, or no mouse to tune yet.
std::optional<PageNotice> correctionFailure(const PointerTuningStatus& status);
std::optional<PageNotice> recoveredCaptureNotice(const PointerTuningStatus& status);
// The curve section's footer: whether the desktop still adds its own curve.
std::string curveFooter(const PointerTuningStatus& status, PointerDesktop desktop);

// ---- Pointer curve ----

struct CurveParameters {
    double exponent = 0;
    double thresholdCountsPerSecond = 0;
    double maxGain = 0;

    // The desktop curve's.
    static const CurveParameters& starting();
    friend bool operator==(const CurveParameters&, const CurveParameters&) = default;
};
enum class CurveField { exponent, thresholdCountsPerSecond, maxGain };

// The curve's parameters, or the starting ones while acceleration is off.
CurveParameters curveParameters(const PointerAcceleration& acceleration);
// On only when pointer processing is on and the acceleration is a curve.
bool accelerationIsOn(const PointerSettings& pointer);
// Turning on also turns pointer processing on and keeps a curve already set
// (else starts from the starting curve); turning off stores no curve.
void setAcceleration(PointerSettings& pointer, bool on);
// Replaces one parameter of the curve, unclamped; does nothing while off.
void setCurveParameter(PointerSettings& pointer, CurveField field, double value);

// The line under the speed settings, by the first rule that holds.
struct PointerStatusInputs {
    const Profile& profile;
    const EngineStatus& status;
    const PermissionState& permissions;
    bool isPausedByUser = false;
    const PointerTuningStatus& tuning;
};
PageStatusLine pointerStatus(const PointerStatusInputs& in);

// ---- Start at login ----

std::string loginItemSentence(platform::LoginItemStatus status);
std::optional<std::string> loginItemRefusal(const std::optional<std::string>& lastError);

} // namespace ravolet
