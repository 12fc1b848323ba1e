#pragma once

#include <array>
#include <cstdint>
#include <iosfwd>
#include <string_view>

#include "Core/RawValueEnum.hpp"
#include "RavoletEngine/Coordination/PointerTuningStatus.hpp"

namespace ravolet {

// Pointer tuning's policy, as one state machine: where it stands with the
// desktop (PointerTuningState), what it takes in (PointerTuningEvent: the
// caller's operations, then what the desktop answers to each step), and,
// for each state, what each event does there (the next state, and the one
// step the tuner then carries out, whose answer comes back as the next
// event). It decides everything and does nothing itself: no desktop, no
// file, no clock.

// Where tuning stands. Whether originals are held (and saved in the
// capture file) and whether Ravolet's values are in force are read from
// the state alone, and so are the published status' flags that say so.
enum class PointerTuningState : std::uint8_t {
    // Nothing held; nothing of Ravolet's in force.
    idle,
    // Originals held; Ravolet's values in force.
    applied,
    // Applied, and asked for afresh (the user's switch, a new DPI, the mouse
    // back) while the originals could not be saved: a value of Ravolet's
    // found replaced is taken as the new original, not left to the user.
    reasserting,
    // Originals held; Ravolet's writes were refused (one may have landed
    // all the same), or there was nothing to write over originals kept.
    unconfirmed,
    // Originals held; the desktop refused some back, so Ravolet's values
    // are still in force.
    restoreFailed,
    // Originals held that could not be read back (the desktop lists no
    // device of the mouse's): whether they went back is not known, so they
    // wait, on disk too.
    restorePending,
    // A value of Ravolet's was replaced while in force (the user, in the
    // desktop's own settings): nothing held, and the user's value stands
    // until tuning is asked for afresh.
    leftToUser,
};

inline constexpr std::array<std::string_view, 7> pointerTuningStateNames{
    "idle", "applied", "reasserting", "unconfirmed", "restoreFailed", "restorePending", "leftToUser"};

enum class PointerTuningEvent : std::uint8_t {
    // The user's switch on, or a new DPI: tuning is to be set afresh.
    askedAfresh,
    // The user's switch off.
    switchedOff,
    // A request (the engine's permission, a DPI, the device matches), or
    // the switch just set, weighed against whether tuning is wanted.
    requested,
    // The DPI known already, reported again.
    dpiRepeated,
    // The mouse attached and ready, or listed again by the desktop: set
    // afresh, and originals of a service that no longer exists let go.
    mouseReady,
    // The desktop says its settings may have changed.
    desktopChanged,
    // A restore asked for (the engine stops).
    stop,

    // What the desktop answers, or its silence:
    // An earlier run's originals, found as the tuner starts.
    originalsFound,
    // No mouse to tune.
    mouseGone,
    // The mouse to tune.
    mouseFound,
    // The mouse to tune, while the originals held are another service's,
    // which still exists.
    heldElsewhere,
    // A value of Ravolet's on the held service was found replaced.
    replaced,
    // The service the originals held came from no longer exists.
    serviceGone,
    // At least one of Ravolet's values took.
    took,
    // None took: refused (perhaps landed all the same), or nothing to write
    // over originals kept from before.
    tookNothing,
    // The originals just taken hold nothing to write over.
    nothingToWrite,
    // The originals could not be saved: nothing was written.
    notSaved,
    // Every original went back.
    allBack,
    // The desktop refused some back.
    refusedBack,
    // Silence: the values could not be read, so none is known to be back.
    unread,
};

inline constexpr std::array<std::string_view, 20> pointerTuningEventNames{
    "askedAfresh", "switchedOff",  "requested", "dpiRepeated", "mouseReady",  "desktopChanged", "stop",
    "originalsFound", "mouseGone", "mouseFound", "heldElsewhere", "replaced", "serviceGone", "took",
    "tookNothing", "nothingToWrite", "notSaved", "allBack", "refusedBack", "unread"};

// The one step the tuner carries out after a transition.
enum class PointerTuningAction : std::uint8_t {
    none,
    // Find the mouse to tune, and go on from what is there (answers
    // mouseGone or mouseFound, asking heldElsewhere and replaced on the way).
    look,
    // Take and save the originals where none are held for the mouse, then
    // write Ravolet's values (answers took, tookNothing, nothingToWrite or notSaved).
    write,
    // Put the originals back for the step's reason (answers allBack,
    // refusedBack or unread); with none held, forget what was written.
    restore,
    // Put them back again, for the reason of the last restore.
    retry,
    // Let the originals go without writing them back.
    drop,
    // Leave the value found to the user: let the originals go, and what was written.
    standBack,
    // Take the value found as the original, and save it (answers notSaved).
    follow,
    // Read whether a value of Ravolet's was replaced (answers replaced),
    // then the reading shown.
    check,
    // Whether the originals' service still exists (answers serviceGone).
    checkService,
    // Read again the reading someone asked for.
    showReading,
};

inline constexpr std::array<std::string_view, 11> pointerTuningActionNames{
    "none", "look", "write", "restore", "retry", "drop", "standBack", "follow", "check", "checkService", "showReading"};

struct PointerTuningStep {
    PointerTuningState next;
    PointerTuningAction action = PointerTuningAction::none;
    // Why the originals go back, for restore.
    PointerTuningRestoreReason reason = PointerTuningRestoreReason::notRequested;
    // A look for the mouse goes no further: originals of another service
    // still held, or originals not saved.
    bool endsLook = false;
    // Tuning is not wanted: no mouse is waited for.
    bool stopsWaiting = false;

    friend bool operator==(const PointerTuningStep&, const PointerTuningStep&) = default;
};

// Whether the state holds originals, and whether Ravolet's values are in force there.
constexpr bool holdsOriginals(PointerTuningState state) {
    return state != PointerTuningState::idle && state != PointerTuningState::leftToUser;
}
constexpr bool isInForce(PointerTuningState state) {
    return state == PointerTuningState::applied || state == PointerTuningState::reasserting ||
           state == PointerTuningState::restoreFailed;
}

class PointerTuningMachine {
public:
    // What `event` does in `state`. `wanted`: whether tuning is to be in
    // force (the backend can write, the switch is on, the engine permits
    // it). `asked`: the reason a stop gives.
    static PointerTuningStep step(PointerTuningState state, PointerTuningEvent event, bool wanted,
                                  PointerTuningRestoreReason asked);

    PointerTuningState state() const { return state_; }
    void want(bool wanted) { wanted_ = wanted; }
    bool wanted() const { return wanted_; }
    // The one place the state changes: `event`'s step, its state entered.
    PointerTuningStep handle(PointerTuningEvent event,
                             PointerTuningRestoreReason asked = PointerTuningRestoreReason::engineStopped);

private:
    PointerTuningState state_ = PointerTuningState::idle;
    bool wanted_ = false;
};

constexpr std::string_view toString(PointerTuningState state) { return enumRawValue(pointerTuningStateNames, state); }
constexpr std::string_view toString(PointerTuningEvent event) { return enumRawValue(pointerTuningEventNames, event); }
constexpr std::string_view toString(PointerTuningAction action) { return enumRawValue(pointerTuningActionNames, action); }
std::ostream& operator<<(std::ostream& os, PointerTuningState state);
std::ostream& operator<<(std::ostream& os, PointerTuningEvent event);
std::ostream& operator<<(std::ostream& os, const PointerTuningStep& step);

} // namespace ravolet
