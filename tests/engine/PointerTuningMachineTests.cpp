#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "RavoletEngine/Coordination/PointerTuningMachine.hpp"

using namespace ravolet;

namespace {

using State = PointerTuningState;
using Event = PointerTuningEvent;
using Action = PointerTuningAction;
using Reason = PointerTuningRestoreReason;

constexpr unsigned in(State state) { return 1u << static_cast<unsigned>(state); }
constexpr unsigned idle = in(State::idle), applied = in(State::applied), reasserting = in(State::reasserting),
                   unconfirmed = in(State::unconfirmed), restoreFailed = in(State::restoreFailed),
                   restorePending = in(State::restorePending), leftToUser = in(State::leftToUser);
constexpr unsigned inForce = applied | reasserting | restoreFailed;
constexpr unsigned held = inForce | unconfirmed | restorePending;
constexpr unsigned all = held | idle | leftToUser;

enum class Wanted { either, yes, no };

// What a row expects: the next state (none: the state it came from) and the step.
struct Expected {
    std::optional<State> next;
    Action action = Action::none;
    Reason reason = Reason::notRequested;
    bool endsLook = false;
    bool stopsWaiting = false;
};

struct Row {
    unsigned from;
    Event event;
    Wanted wanted;
    Expected expected;
};

Expected to(std::optional<State> next, Action action = Action::none) {
    return {next, action, Reason::notRequested, false, false};
}
const Expected stays = to(std::nullopt);
Expected doing(Action action) { return to(std::nullopt, action); }
Expected restoring(Reason reason, std::optional<State> next = std::nullopt) {
    return {next, Action::restore, reason, false, false};
}
// A request that leaves tuning unwanted: no mouse is waited for.
Expected unwanted(Action action, Reason reason = Reason::notRequested) { return {std::nullopt, action, reason, false, true}; }
// A look for the mouse goes no further.
Expected endingLook(std::optional<State> next) { return {next, Action::none, Reason::notRequested, true, false}; }
constexpr Reason asked = Reason::engineStopped;

// Every state × every event (× whether tuning is wanted, where that
// matters), each cell in exactly one row.
const std::vector<Row> table{
    // The user's switch on, a new DPI.
    {idle | reasserting | unconfirmed | restoreFailed | restorePending, Event::askedAfresh, Wanted::either, stays},
    {applied, Event::askedAfresh, Wanted::either, to(State::reasserting)},
    {leftToUser, Event::askedAfresh, Wanted::either, to(State::idle)},
    // The user's switch off: whatever is held goes back, even with nothing held.
    {held | idle, Event::switchedOff, Wanted::either, restoring(Reason::switchedOff)},
    {leftToUser, Event::switchedOff, Wanted::either, restoring(Reason::switchedOff, State::idle)},
    // A request.
    {all, Event::requested, Wanted::yes, doing(Action::look)},
    {inForce, Event::requested, Wanted::no, unwanted(Action::restore)},
    {restorePending, Event::requested, Wanted::no, unwanted(Action::retry)},
    {idle | unconfirmed | leftToUser, Event::requested, Wanted::no, unwanted(Action::none)},
    // The same DPI again: tried again only where wanted and not in force.
    {idle | unconfirmed | restorePending, Event::dpiRepeated, Wanted::yes, doing(Action::look)},
    {inForce | leftToUser, Event::dpiRepeated, Wanted::yes, stays},
    {all, Event::dpiRepeated, Wanted::no, stays},
    // The mouse ready again.
    {idle, Event::mouseReady, Wanted::either, stays},
    {leftToUser, Event::mouseReady, Wanted::either, to(State::idle)},
    {applied, Event::mouseReady, Wanted::yes, to(State::reasserting, Action::checkService)},
    {applied, Event::mouseReady, Wanted::no, to(State::reasserting)},
    {reasserting | unconfirmed | restoreFailed | restorePending, Event::mouseReady, Wanted::yes, doing(Action::checkService)},
    {reasserting | unconfirmed | restoreFailed | restorePending, Event::mouseReady, Wanted::no, stays},
    // The desktop says its settings changed: heard only where Ravolet's values stand as written.
    {applied | reasserting, Event::desktopChanged, Wanted::either, doing(Action::check)},
    {all & ~(applied | reasserting), Event::desktopChanged, Wanted::either, stays},
    // A stop.
    {all, Event::stop, Wanted::either, restoring(asked)},
    // An earlier run's originals, found at the start.
    {idle, Event::originalsFound, Wanted::either, to(State::restorePending, Action::retry)},
    {all & ~idle, Event::originalsFound, Wanted::either, stays},
    // The look for the mouse.
    {inForce, Event::mouseGone, Wanted::either, restoring(Reason::targetDisappeared)},
    {all & ~inForce, Event::mouseGone, Wanted::either, stays},
    {all & ~leftToUser, Event::mouseFound, Wanted::either, doing(Action::write)},
    {leftToUser, Event::mouseFound, Wanted::either, doing(Action::showReading)},
    {held, Event::heldElsewhere, Wanted::either, restoring(Reason::notRequested)},
    {idle | leftToUser, Event::heldElsewhere, Wanted::either, stays},
    // A value of Ravolet's found replaced.
    {applied, Event::replaced, Wanted::either, to(State::leftToUser, Action::standBack)},
    {reasserting, Event::replaced, Wanted::either, doing(Action::follow)},
    {restorePending, Event::replaced, Wanted::either, to(State::idle, Action::drop)},
    {unconfirmed | restoreFailed | idle | leftToUser, Event::replaced, Wanted::either, stays},
    {held, Event::serviceGone, Wanted::either, to(State::idle, Action::drop)},
    {idle | leftToUser, Event::serviceGone, Wanted::either, stays},
    // The desktop's answer to Ravolet's writes.
    {all & ~leftToUser, Event::took, Wanted::either, to(State::applied)},
    {all & ~leftToUser, Event::tookNothing, Wanted::either, to(State::unconfirmed)},
    {all & ~leftToUser, Event::nothingToWrite, Wanted::either, to(State::idle, Action::drop)},
    {all & ~leftToUser, Event::notSaved, Wanted::either, endingLook(std::nullopt)},
    {leftToUser, Event::took, Wanted::either, stays},
    {leftToUser, Event::tookNothing, Wanted::either, stays},
    {leftToUser, Event::nothingToWrite, Wanted::either, stays},
    {leftToUser, Event::notSaved, Wanted::either, stays},
    // The desktop's answer to a put-back, or its silence.
    {held, Event::allBack, Wanted::either, to(State::idle)},
    {held, Event::refusedBack, Wanted::either, endingLook(State::restoreFailed)},
    {held, Event::unread, Wanted::either, endingLook(State::restorePending)},
    {idle | leftToUser, Event::allBack, Wanted::either, stays},
    {idle | leftToUser, Event::refusedBack, Wanted::either, stays},
    {idle | leftToUser, Event::unread, Wanted::either, stays},
};

bool covers(const Row& row, State state, Event event, bool wanted) {
    return (row.from & in(state)) && row.event == event &&
           (row.wanted == Wanted::either || (row.wanted == Wanted::yes) == wanted);
}

} // namespace

TEST(PointerTuningMachine, EveryStateAndEventStepsAsTheTableSays) {
    std::vector<int> used(table.size(), 0);
    for (std::size_t s = 0; s < pointerTuningStateNames.size(); ++s) {
        for (std::size_t e = 0; e < pointerTuningEventNames.size(); ++e) {
            for (const bool wanted : {false, true}) {
                const auto state = static_cast<State>(s);
                const auto event = static_cast<Event>(e);
                SCOPED_TRACE(::testing::Message() << state << " × " << event << (wanted ? ", wanted" : ", not wanted"));
                std::vector<std::size_t> rows;
                for (std::size_t r = 0; r < table.size(); ++r)
                    if (covers(table[r], state, event, wanted)) rows.push_back(r);
                ASSERT_EQ(rows.size(), 1u) << "rows for the cell";
                ++used[rows[0]];
                const Expected& x = table[rows[0]].expected;
                const PointerTuningStep expected{x.next.value_or(state), x.action, x.reason, x.endsLook, x.stopsWaiting};
                EXPECT_EQ(PointerTuningMachine::step(state, event, wanted, asked), expected) << "row " << rows[0];
            }
        }
    }
    for (std::size_t r = 0; r < table.size(); ++r) EXPECT_GT(used[r], 0) << "row " << r << " covers no cell";

    // Handling an event enters its state.
    PointerTuningMachine machine;
    machine.want(true);
    EXPECT_EQ(machine.handle(Event::mouseFound).action, Action::write);
    machine.handle(Event::took);
    EXPECT_EQ(machine.state(), State::applied);
}
