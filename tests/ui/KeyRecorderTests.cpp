#include "RavoletApp/UI/KeyRecorder.hpp"

#include "RavoletApp/UI/Explain.hpp"
#include "RavoletApp/UI/ResetButton.hpp"

#include "UITestSupport.hpp"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <vector>

namespace ravolet {
namespace {

using M = ModifierFlags;

// A window with a text field that has the focus, an application-wide shortcut
// (Ctrl+K) and a recorder; it counts what reaches each of them.
struct Window {
    QWidget window;
    QLineEdit* field = new QLineEdit;
    KeyRecorder* recorder = new KeyRecorder(QStringLiteral("Key"));
    int shortcutsFired = 0;
    std::vector<RecordedKey> edits;

    Window() {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(field);
        layout->addWidget(recorder);
        auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_K), &window);
        shortcut->setContext(Qt::ApplicationShortcut);
        QObject::connect(shortcut, &QShortcut::activated, [this] { ++shortcutsFired; });
        QObject::connect(recorder, &KeyRecorder::keyEdited, [this](RecordedKey key) { edits.push_back(key); });
        test::showAndSettle(window);
        // Shortcuts fire only in an active window.
        window.activateWindow();
        (void)QTest::qWaitForWindowActive(&window);
        field->setFocus();
    }

    void clickRecord() { QTest::mouseClick(recorder->recordButton(), Qt::LeftButton); }
};

TEST(KeyRecorder, WhileRecordingEveryKeyIsTheRecordersAndAfterHidingKeysGoWhereTheyWould) {
    Window w;
    w.clickRecord();
    ASSERT_TRUE(w.recorder->isRecording());
    EXPECT_FALSE(w.recorder->choices()->isVisible());
    EXPECT_EQ(w.recorder->recordButton()->text(), QStringLiteral("Press keys…"));

    // Held modifiers show live and reach no one.
    QTest::keyPress(w.field, Qt::Key_Control);
    EXPECT_EQ(w.recorder->recordButton()->text(), QStringLiteral("Ctrl + …"));
    QTest::keyRelease(w.field, Qt::Key_Control, Qt::ControlModifier);
    EXPECT_EQ(w.recorder->recordButton()->text(), QStringLiteral("Press keys…"));

    // The chord of the application's own shortcut is recorded, not run.
    QTest::keyClick(w.field, Qt::Key_K, Qt::ControlModifier);
    EXPECT_EQ(w.edits, (std::vector<RecordedKey>{{40, M::control}}));
    EXPECT_EQ(w.shortcutsFired, 0);
    EXPECT_TRUE(w.field->text().isEmpty());
    EXPECT_FALSE(w.recorder->isRecording());
    EXPECT_TRUE(w.recorder->choices()->isVisible());
    EXPECT_EQ(w.recorder->recordButton()->text(), QStringLiteral("Ctrl + K"));

    // Once recorded, keys are the application's again.
    QTest::keyClick(w.field, Qt::Key_K, Qt::ControlModifier);
    EXPECT_EQ(w.shortcutsFired, 1);

    // Escape alone cancels and writes nothing.
    w.clickRecord();
    QTest::keyClick(w.field, Qt::Key_Escape);
    EXPECT_FALSE(w.recorder->isRecording());
    EXPECT_EQ(w.edits.size(), 1u);

    // Hiding ends the recording and lets keys through.
    w.clickRecord();
    w.recorder->hide();
    EXPECT_FALSE(w.recorder->isRecording());
    QTest::keyClick(w.field, Qt::Key_A);
    QTest::keyClick(w.field, Qt::Key_K, Qt::ControlModifier);
    EXPECT_EQ(w.field->text(), QStringLiteral("a"));
    EXPECT_EQ(w.shortcutsFired, 2);
    EXPECT_EQ(w.recorder->key(), (RecordedKey{40, M::control}));
}

TEST(KeyRecorder, StartingARecordingEndsTheOtherAndAGoneRecorderHoldsNoKeys) {
    Window w;
    auto* second = new KeyRecorder(QStringLiteral("Key"));
    w.window.layout()->addWidget(second);
    QApplication::processEvents();

    w.clickRecord();
    QTest::mouseClick(second->recordButton(), Qt::LeftButton);
    EXPECT_FALSE(w.recorder->isRecording());
    ASSERT_TRUE(second->isRecording());
    QTest::keyClick(w.field, Qt::Key_B);
    EXPECT_EQ(second->key(), (RecordedKey{11, M::none}));
    EXPECT_EQ(w.recorder->key(), RecordedKey{});
    EXPECT_TRUE(w.edits.empty());

    QTest::mouseClick(second->recordButton(), Qt::LeftButton);
    delete second;
    QTest::keyClick(w.field, Qt::Key_B);
    EXPECT_EQ(w.field->text(), QStringLiteral("b"));
    // A recorder started after the other was destroyed mid-recording works as ever.
    w.clickRecord();
    QTest::keyClick(w.field, Qt::Key_C);
    EXPECT_EQ(w.recorder->key(), (RecordedKey{8, M::none}));
}

TEST(KeyRecorder, ThePickerTheModifiersAndTheResetsWriteAndTheProgramsFillDoesNot) {
    Window w;
    KeyRecorder& recorder = *w.recorder;
    recorder.setKey({71, M::function});
    EXPECT_EQ(recorder.recordButton()->text(), QStringLiteral("Fn + Key 71"));
    EXPECT_EQ(recorder.keyPicker()->currentIndex(), -1);
    EXPECT_TRUE(recorder.modifierCheckBox(M::function)->isChecked());
    EXPECT_TRUE(recorder.fnNote()->isVisibleTo(&recorder)) << "Fn is never sent, and the recorder says so";
    EXPECT_TRUE(w.edits.empty());

    QComboBox& picker = *recorder.keyPicker();
    const int pageDown = picker.findText(QStringLiteral("Page Down"));
    ASSERT_GE(pageDown, 0);
    picker.setCurrentIndex(pageDown);
    Q_EMIT picker.activated(pageDown);
    // On the box itself: a short name leaves the right of a wide cell unclickable.
    for (M modifier : {M::command, M::shift}) {
        QCheckBox* box = recorder.modifierCheckBox(modifier);
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
    }
    EXPECT_EQ(recorder.recordButton()->text(), QStringLiteral("Shift + Super + Fn + Page Down"));
    EXPECT_EQ(recorder.recordButton()->accessibleName(),
              QStringLiteral("Recorded shortcut Shift + Super + Fn + Page Down. Click to record a new one."));
    EXPECT_EQ(picker.itemText(0), QStringLiteral("Letters"));
    EXPECT_EQ(picker.currentText(), QStringLiteral("Page Down"));

    QTest::mouseClick(recorder.modifierResetButton(M::function), Qt::LeftButton);
    QTest::mouseClick(recorder.keyResetButton(), Qt::LeftButton);
    EXPECT_EQ(recorder.key(), (RecordedKey{0, M::of({M::shift, M::command})}));
    EXPECT_EQ(picker.currentText(), QStringLiteral("A"));
    EXPECT_FALSE(recorder.modifierCheckBox(M::function)->isChecked());
    EXPECT_FALSE(recorder.fnNote()->isVisibleTo(&recorder));

    w.clickRecord();
    QTest::mouseClick(recorder.recordResetButton(), Qt::LeftButton);
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_EQ(recorder.key(), RecordedKey{});
    EXPECT_EQ(w.edits.size(), 6u);
    EXPECT_EQ(w.edits.back(), RecordedKey{});
    QTest::keyClick(w.field, Qt::Key_D);
    EXPECT_EQ(w.field->text(), QStringLiteral("d"));
}

TEST(KeyRecorder, Screenshots) {
    QWidget page;
    auto* layout = new QVBoxLayout(&page);
    auto* recorder = new KeyRecorder(QStringLiteral("Key"));
    recorder->setKey({40, M::of({M::shift, M::command})});
    layout->addWidget(recorder);
    test::showAndSettle(page);
    test::saveScreenshot(page, QStringLiteral("key-recorder"));
    recorder->setKey({40, M::of({M::control, M::function})});
    test::saveRefittedScreenshot(page, QStringLiteral("key-recorder-fn"), 480);
    recorder->setKey({40, M::of({M::shift, M::command})});

    QTest::mouseClick(recorder->recordButton(), Qt::LeftButton);
    QApplication::processEvents();
    test::saveScreenshot(page, QStringLiteral("key-recorder-recording"));
    QTest::keyPress(recorder, Qt::Key_Meta);
    QTest::keyPress(recorder, Qt::Key_Alt, Qt::MetaModifier);
    EXPECT_EQ(recorder->recordButton()->text(), QStringLiteral("Alt + Super + …"));
    test::saveScreenshot(page, QStringLiteral("key-recorder-holding-modifiers"));
    recorder->toggleRecording();
}

} // namespace
} // namespace ravolet
