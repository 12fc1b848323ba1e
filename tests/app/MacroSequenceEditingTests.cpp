#include "RavoletApp/ViewModels/MacroSequenceEditing.hpp"

#include <gtest/gtest.h>

namespace ravolet {
namespace {

using M = ModifierFlags;
namespace MS = MacroSequenceEditing;
using Steps = std::vector<MacroStep>;
using Kind = MacroStepKind;

TEST(MacroSequenceEditing, ChoosingAKindRebuildsTheStepCarryingOnlyItsKey) {
    struct Row {
        MacroStep from;
        Kind to;
        MacroStep expected;
    };
    const Row rows[] = {
        {MacroStep::key(8, M::command), Kind::keyDown, MacroStep::keyDown(8, M::command)},
        {MacroStep::keyDown(8, M::command), Kind::keyUp, MacroStep::keyUp(8, M::command)},
        {MacroStep::keyUp(8, M::command), Kind::key, MacroStep::key(8, M::command)},
        // No check against the current kind: a pause chosen again is a fresh pause.
        {MacroStep::delay(300), Kind::delay, MacroStep::delay(50)},
        {MacroStep::mouseButton(7), Kind::mouseButton, MacroStep::mouseButton(2)},
        {MacroStep::delay(300), Kind::key, MacroStep::key(0, M::none)},
        {MacroStep::mouseButton(7), Kind::keyDown, MacroStep::keyDown(0, M::none)},
        {MacroStep::key(8, M::command), Kind::mouseButton, MacroStep::mouseButton(2)},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(MS::withKind(row.from, row.to), row.expected) << row.from << " → " << toString(row.to);
        EXPECT_EQ(MS::kind(row.expected), row.to);
    }
    const char* titles[] = {"Press and release a key", "Hold a key down", "Let a key back up", "Wait",
                            "Click a mouse button"};
    for (std::size_t i = 0; i < allMacroStepKinds.size(); ++i) EXPECT_EQ(MS::title(allMacroStepKinds[i]), titles[i]);
}

TEST(MacroSequenceEditing, TheKeyIsReadAndWrittenOnKeyStepsOnly) {
    const RecordedKey commandK{40, M::command};
    struct Row {
        MacroStep step;
        RecordedKey read;
        MacroStep afterWriting;
    };
    const Row rows[] = {
        {MacroStep::key(8, M::shift), {8, M::shift}, MacroStep::key(40, M::command)},
        {MacroStep::keyDown(8, M::shift), {8, M::shift}, MacroStep::keyDown(40, M::command)},
        {MacroStep::keyUp(8, M::shift), {8, M::shift}, MacroStep::keyUp(40, M::command)},
        {MacroStep::delay(120.9), {}, MacroStep::delay(120.9)},
        {MacroStep::mouseButton(4), {}, MacroStep::mouseButton(4)},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(MS::key(row.step), row.read) << row.step;
        EXPECT_EQ(MS::withKey(row.step, commandK), row.afterWriting) << row.step;
    }
}

TEST(MacroSequenceEditing, ListEditsWorkAtTheEndsAndIgnorePositionsNoLongerInTheList) {
    const MacroStep a = MacroStep::key(0, M::none), b = MacroStep::delay(10), c = MacroStep::mouseButton(3);
    const Steps three{a, b, c};
    const MacroStep z = MacroStep::keyUp(1, M::none);

    EXPECT_EQ(MS::stepAt(three, 2), c);
    EXPECT_EQ(MS::stepAt(three, 3), MacroStep::delay(0));
    EXPECT_EQ(MS::stepAt({}, -1), MacroStep::delay(0));

    EXPECT_EQ(MS::replacingStep(three, 0, z), (Steps{z, b, c}));
    EXPECT_EQ(MS::removingStep(three, 2), (Steps{a, b}));
    EXPECT_EQ(MS::removingStep(Steps{a}, 0), Steps{});
    EXPECT_EQ(MS::movingEarlier(three, 1), (Steps{b, a, c}));
    EXPECT_EQ(MS::movingLater(three, 1), (Steps{a, c, b}));
    for (std::ptrdiff_t outside : {std::ptrdiff_t{-1}, std::ptrdiff_t{3}}) {
        EXPECT_EQ(MS::replacingStep(three, outside, z), std::nullopt);
        EXPECT_EQ(MS::removingStep(three, outside), std::nullopt);
    }
    EXPECT_EQ(MS::movingEarlier(three, 0), std::nullopt);
    EXPECT_EQ(MS::movingLater(three, 2), std::nullopt);
    EXPECT_EQ(MS::movingLater(three, 5), std::nullopt);

    struct Move {
        std::ptrdiff_t index;
        std::size_t count;
        bool earlier, later;
    };
    const Move moves[] = {{0, 1, false, false}, {0, 3, false, true}, {1, 3, true, true},
                          {2, 3, true, false},  {3, 3, false, false}};
    for (const Move& m : moves) {
        EXPECT_EQ(MS::canMoveEarlier(m.index, m.count), m.earlier) << m.index << " of " << m.count;
        EXPECT_EQ(MS::canMoveLater(m.index, m.count), m.later) << m.index << " of " << m.count;
    }
    EXPECT_EQ(MS::resetSequence(), Steps{MacroStep::key(0, M::none)});
    EXPECT_EQ(MS::pause(), MacroStep::delay(50));
}

} // namespace
} // namespace ravolet
