#include "RavoletApp/ViewModels/KeyRecorderModel.hpp"

#include <gtest/gtest.h>

namespace ravolet {
namespace {

using M = ModifierFlags;

constexpr RecordedKey shiftCommandK{40, M::of({M::shift, M::command})};

TEST(KeyRecorderModel, TheFirstKeyDownEndsTheRecordingAndOnlyEscapeAloneCancels) {
    const struct {
        const char* what;
        std::uint16_t code;
        ModifierFlags flags;
        RecordedKey after;
    } rows[] = {
        {"Escape cancels", 53, M::none, shiftCommandK},
        {"Escape with caps lock still cancels", 53, M::capsLock, shiftCommandK},
        {"Escape with a modifier is a chord", 53, M::command, {53, M::command}},
        {"caps lock is dropped", 0, M::of({M::capsLock, M::shift}), {0, M::shift}},
        {"unnamed bits are dropped", 8, M(0x10000) | M::control, {8, M::control}},
        {"fn is kept", 122, M::function, {122, M::function}},
        {"a code the catalogue lacks is kept", 71, M::none, {71, M::none}},
        {"the same chord again writes nothing", 40, M::of({M::command, M::shift}), shiftCommandK},
    };
    for (const auto& row : rows) {
        KeyRecorderModel model("Key", shiftCommandK);
        model.toggleRecording();
        model.modifiersChanged(row.flags);
        EXPECT_EQ(model.keyDown(row.code, row.flags), row.after != shiftCommandK) << row.what;
        EXPECT_EQ(model.key(), row.after) << row.what;
        EXPECT_FALSE(model.isRecording()) << row.what;
        EXPECT_EQ(model.liveModifiers(), M::none) << row.what;
        // Later keys are not the recorder's.
        EXPECT_FALSE(model.keyDown(1, M::none)) << row.what;
        EXPECT_EQ(model.key(), row.after) << row.what;
    }
}

TEST(KeyRecorderModel, TitlesAndTextsFollowTheState) {
    KeyRecorderModel model("Key", shiftCommandK);
    EXPECT_EQ(model.buttonTitle(), "Shift + Super + K");
    EXPECT_EQ(model.accessibleName(), "Recorded shortcut Shift + Super + K. Click to record a new one.");
    EXPECT_EQ(model.explanation(), KeyRecorderModel::idleExplanation);
    EXPECT_TRUE(model.showsChoices());

    model.toggleRecording();
    EXPECT_EQ(model.buttonTitle(), "Press keys…");
    EXPECT_EQ(model.accessibleName(), "Recording a shortcut. Press the keys you want.");
    EXPECT_EQ(model.explanation(), KeyRecorderModel::recordingExplanation);
    EXPECT_FALSE(model.showsChoices());

    const struct {
        ModifierFlags live;
        const char* title;
    } held[] = {
        {M::command, "Super + …"},
        {M::of({M::command, M::option}), "Alt + Super + …"},
        {M::none, "Press keys…"},
        {M::capsLock, "Press keys…"},
        {M::of({M::capsLock, M::function}), "Fn + …"},
    };
    for (const auto& row : held) {
        model.modifiersChanged(row.live);
        EXPECT_EQ(model.liveModifiers(), row.live);
        EXPECT_EQ(model.buttonTitle(), row.title);
    }

    // The record button again ends the recording without writing.
    model.toggleRecording();
    EXPECT_FALSE(model.isRecording());
    EXPECT_EQ(model.liveModifiers(), M::none);
    EXPECT_EQ(model.key(), shiftCommandK);
    model.modifiersChanged(M::command);
    EXPECT_EQ(model.liveModifiers(), M::none);

    model.setKey({71, M::function});
    EXPECT_EQ(model.buttonTitle(), "Fn + Key 71");
}

TEST(KeyRecorderModel, ChoicesAndResetsWriteOnlyWhatTheyOwn) {
    KeyRecorderModel model("Key", {9, M::none});
    EXPECT_TRUE(model.setModifier(M::command, true));
    EXPECT_TRUE(model.setModifier(M::shift, true));
    EXPECT_FALSE(model.setModifier(M::shift, true));
    EXPECT_FALSE(model.setModifier(M::function, false));
    EXPECT_EQ(model.buttonTitle(), "Shift + Super + V");
    EXPECT_TRUE(model.resetKey());
    EXPECT_TRUE(model.resetModifier(M::shift));
    EXPECT_EQ(model.key(), (RecordedKey{0, M::command}));

    // The record row's reset also ends a recording in progress.
    model.toggleRecording();
    model.modifiersChanged(M::option);
    EXPECT_TRUE(model.resetRecordRow());
    EXPECT_FALSE(model.isRecording());
    EXPECT_EQ(model.liveModifiers(), M::none);
    EXPECT_EQ(model.key(), RecordedKey{});
    EXPECT_FALSE(model.resetRecordRow());
}

} // namespace
} // namespace ravolet
