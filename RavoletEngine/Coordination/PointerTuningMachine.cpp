#include "RavoletEngine/Coordination/PointerTuningMachine.hpp"

#include <ostream>

namespace ravolet {

namespace {

using State = PointerTuningState;
using Event = PointerTuningEvent;
using Action = PointerTuningAction;
using Step = PointerTuningStep;
using Reason = PointerTuningRestoreReason;

Step to(State next, Action action = Action::none) { return {.next = next, .action = action}; }
Step restoring(State state, Reason reason) { return {.next = state, .action = Action::restore, .reason = reason}; }
// A request that leaves tuning unwanted.
Step unwanted(State state, Action action = Action::none) {
    return {.next = state, .action = action, .reason = Reason::notRequested, .stopsWaiting = true};
}

// What the desktop's answer to Ravolet's writes leaves, whatever it was written from.
Step written(State from, Event answer) {
    switch (answer) {
    case Event::took: return to(State::applied);
    case Event::tookNothing: return to(State::unconfirmed);
    case Event::nothingToWrite: return to(State::idle, Action::drop);
    default: return {.next = from, .endsLook = true}; // notSaved: nothing written, nothing changed
    }
}

// What the desktop's answer to a put-back leaves, wherever originals are held.
Step restored(Event answer) {
    switch (answer) {
    case Event::allBack: return to(State::idle);
    case Event::refusedBack: return {.next = State::restoreFailed, .endsLook = true};
    default: return {.next = State::restorePending, .endsLook = true}; // unread
    }
}

Step onIdle(Event event, bool wanted, Reason asked) {
    constexpr State here = State::idle;
    switch (event) {
    case Event::switchedOff: return restoring(here, Reason::switchedOff);
    case Event::requested: return wanted ? to(here, Action::look) : unwanted(here);
    case Event::dpiRepeated: return to(here, wanted ? Action::look : Action::none);
    case Event::stop: return restoring(here, asked);
    case Event::originalsFound: return to(State::restorePending, Action::retry);
    case Event::mouseFound: return to(here, Action::write);
    case Event::took:
    case Event::tookNothing:
    case Event::nothingToWrite:
    case Event::notSaved: return written(here, event);
    case Event::askedAfresh:
    case Event::mouseReady:
    case Event::desktopChanged:
    case Event::mouseGone: return to(here); // nothing held, nothing in force
    case Event::heldElsewhere:
    case Event::replaced:
    case Event::serviceGone:
    case Event::allBack:
    case Event::refusedBack:
    case Event::unread: break; // answers about originals held: none are
    }
    return to(here);
}

// What an event does in each state that holds originals, where that state
// says nothing else of it. Where Ravolet's values are in force, they go back
// when tuning is no longer wanted or the mouse goes; where they are not, the
// same DPI again is a reason to try once more.
Step whileHeld(State here, Event event, bool wanted, Reason asked) {
    const bool inForce = isInForce(here);
    switch (event) {
    case Event::switchedOff: return restoring(here, Reason::switchedOff);
    case Event::requested:
        return wanted ? to(here, Action::look) : unwanted(here, inForce ? Action::restore : Action::none);
    case Event::dpiRepeated: return to(here, wanted && !inForce ? Action::look : Action::none);
    case Event::mouseReady: return to(here, wanted ? Action::checkService : Action::none);
    case Event::stop: return restoring(here, asked);
    case Event::mouseGone: return inForce ? restoring(here, Reason::targetDisappeared) : to(here);
    case Event::mouseFound: return to(here, Action::write);
    case Event::heldElsewhere: return restoring(here, Reason::notRequested);
    case Event::serviceGone: return to(State::idle, Action::drop);
    case Event::took:
    case Event::tookNothing:
    case Event::nothingToWrite:
    case Event::notSaved: return written(here, event);
    case Event::allBack:
    case Event::refusedBack:
    case Event::unread: return restored(event);
    // Nothing of Ravolet's stands as written, to be set afresh or found replaced.
    case Event::askedAfresh:
    case Event::desktopChanged:
    case Event::replaced: return to(here);
    case Event::originalsFound: return to(here); // only as the tuner starts
    }
    return to(here);
}

Step onApplied(Event event, bool wanted, Reason asked) {
    constexpr State here = State::applied;
    switch (event) {
    case Event::askedAfresh: return to(State::reasserting);
    case Event::mouseReady: return to(State::reasserting, wanted ? Action::checkService : Action::none);
    case Event::desktopChanged: return to(here, Action::check);
    // The user (or the desktop reloading its settings) set it: theirs stands.
    case Event::replaced: return to(State::leftToUser, Action::standBack);
    default: return whileHeld(here, event, wanted, asked);
    }
}

Step onReasserting(Event event, bool wanted, Reason asked) {
    constexpr State here = State::reasserting;
    switch (event) {
    case Event::desktopChanged: return to(here, Action::check);
    // Set afresh on purpose: what is there now is what goes back.
    case Event::replaced: return to(here, Action::follow);
    default: return whileHeld(here, event, wanted, asked);
    }
}

// Ravolet's writes refused (one may have landed all the same), or nothing
// written over originals kept: nothing of its is known in force.
Step onUnconfirmed(Event event, bool wanted, Reason asked) {
    return whileHeld(State::unconfirmed, event, wanted, asked);
}

// What is in force is what the desktop would not take back: a change
// outside or a call to set it afresh changes nothing until it does.
Step onRestoreFailed(Event event, bool wanted, Reason asked) {
    return whileHeld(State::restoreFailed, event, wanted, asked);
}

Step onRestorePending(Event event, bool wanted, Reason asked) {
    constexpr State here = State::restorePending;
    switch (event) {
    // Still waiting for the mouse: tried again whenever tuning is not wanted.
    case Event::requested:
        if (!wanted) return unwanted(here, Action::retry);
        break;
    // No longer the flat setting: what is there is the user's, captured afresh.
    case Event::replaced: return to(State::idle, Action::drop);
    default: break;
    }
    return whileHeld(here, event, wanted, asked);
}

Step onLeftToUser(Event event, bool wanted, Reason asked) {
    constexpr State here = State::leftToUser;
    switch (event) {
    case Event::askedAfresh:
    case Event::mouseReady: return to(State::idle);
    case Event::switchedOff: return restoring(State::idle, Reason::switchedOff);
    case Event::requested: return wanted ? to(here, Action::look) : unwanted(here);
    case Event::stop: return restoring(here, asked);
    case Event::mouseFound: return to(here, Action::showReading);
    case Event::dpiRepeated:
    case Event::desktopChanged:
    case Event::mouseGone: return to(here); // the user's value stands
    case Event::originalsFound:
    case Event::heldElsewhere:
    case Event::replaced:
    case Event::serviceGone:
    case Event::took:
    case Event::tookNothing:
    case Event::nothingToWrite:
    case Event::notSaved:
    case Event::allBack:
    case Event::refusedBack:
    case Event::unread: break; // answers about originals held or written: none are
    }
    return to(here);
}

} // namespace

PointerTuningStep PointerTuningMachine::step(State state, Event event, bool wanted, Reason asked) {
    switch (state) {
    case State::idle: return onIdle(event, wanted, asked);
    case State::applied: return onApplied(event, wanted, asked);
    case State::reasserting: return onReasserting(event, wanted, asked);
    case State::unconfirmed: return onUnconfirmed(event, wanted, asked);
    case State::restoreFailed: return onRestoreFailed(event, wanted, asked);
    case State::restorePending: return onRestorePending(event, wanted, asked);
    case State::leftToUser: return onLeftToUser(event, wanted, asked);
    }
    return to(state);
}

PointerTuningStep PointerTuningMachine::handle(Event event, Reason asked) {
    const Step next = step(state_, event, wanted_, asked);
    state_ = next.next;
    return next;
}

std::ostream& operator<<(std::ostream& os, PointerTuningState state) { return os << toString(state); }
std::ostream& operator<<(std::ostream& os, PointerTuningEvent event) { return os << toString(event); }

std::ostream& operator<<(std::ostream& os, const PointerTuningStep& step) {
    os << "→ " << step.next << ", " << toString(step.action);
    if (step.action == Action::restore) os << " (" << step.reason << ')';
    if (step.endsLook) os << ", ends the look";
    if (step.stopsWaiting) os << ", waits for no mouse";
    return os;
}

} // namespace ravolet
