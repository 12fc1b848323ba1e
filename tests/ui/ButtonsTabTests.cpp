#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include "RavoletApp/Model/SimulatedMachine.hpp"
#include "RavoletApp/UI/ActionEditor.hpp"
#include "RavoletApp/UI/AppPicker.hpp"
#include "RavoletApp/UI/BindingCard.hpp"
#include "RavoletApp/UI/ButtonsTab.hpp"
#include "RavoletApp/UI/Explain.hpp"
#include "RavoletApp/UI/KeyRecorder.hpp"
#include "RavoletApp/UI/MacroSequenceEditor.hpp"
#include "RavoletApp/UI/NoticeBanner.hpp"
#include "RavoletApp/UI/ProfileScope.hpp"
#include "RavoletApp/UI/StatusDot.hpp"
#include "RavoletApp/UI/ValueSlider.hpp"
#include "UITestSupport.hpp"

namespace ravolet {
namespace {

using M = ModifierFlags;

// Counts the presses that reach it.
class PressProbe : public QWidget {
public:
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent*) override { ++presses; }
};

// The Buttons page over the model's default profile, in a window beside a
// probe that counts the presses reaching it.
struct ButtonsPage {
    std::shared_ptr<SimulatedMachine> machine = SimulatedMachine::makeInVirtualTime();
    std::shared_ptr<AppModel> model = machine->makeModel();
    std::shared_ptr<ProfileSelection> selection =
        std::make_shared<ProfileSelection>(std::string(Profile::defaultProfileID));
    ProfileBinding binding{model, selection};
    QWidget window;
    ButtonsTab* tab;
    PressProbe* probe = new PressProbe;

    explicit ButtonsPage(std::vector<ButtonBinding> buttons) {
        Config config = model->config().value();
        config.profiles[0].buttons = std::move(buttons);
        model->setConfig(config);
        tab = new ButtonsTab(model, binding);
        auto* layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(tab, 1);
        probe->setFixedHeight(20);
        layout->addWidget(probe);
        window.resize(820, 640);
        window.show();
        (void)QTest::qWaitForWindowExposed(&window);
        QApplication::processEvents();
    }

    const std::vector<ButtonBinding>& buttons() const { return model->config().value().profiles[0].buttons; }
    BindingCard* card(std::size_t i) const { return tab->cards().at(i); }
    // Lets the widgets replaced by an edit go.
    static void settle() { QApplication::processEvents(); QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
};

const std::vector<ButtonBinding> everyKind{
    {3, M::none, Action::repeatWhileHeld(MacroStep::key(8, M::command), 120.9), true},
    {4, M::none, Action::launchApp("org.mozilla.firefox"), true},
    {5, M::none, Action::dpiShift(430), true},
    {6, M::none, Action::sequence({MacroStep::delay(120.9), MacroStep::keyDown(0, M::shift), MacroStep::mouseButton(3)}),
     true},
    {7, M::command, Action::runShortcut("Resize"), false},
    {8, M::none, Action::hold(49, M::none), true},
};

TEST(ButtonsTab, ShowingEveryButtonWritesNothingAndShowsWhatTheProfileHolds) {
    ButtonsPage page(everyKind);
    const Config before = page.model->config().value();
    EXPECT_EQ(page.tab->buttonList()->count(), 13);
    EXPECT_EQ(page.tab->selectedButton(), 3);
    EXPECT_EQ(page.tab->titleLabel()->text(), QStringLiteral("Back — button 8"));
    EXPECT_EQ(page.tab->rowSummary(3), QStringLiteral("Repeats press Super + C every 120 ms"));
    EXPECT_EQ(page.tab->rowSummary(5), QStringLiteral("Drops to 430 DPI while held"));
    EXPECT_EQ(page.tab->rowSummary(4), QStringLiteral("Opens Firefox"));
    EXPECT_EQ(page.tab->rowSummary(7), QStringLiteral("Turned off"));
    EXPECT_EQ(page.tab->rowSummary(9), QStringLiteral("Unchanged"));
    ASSERT_EQ(page.tab->cards().size(), 1u);
    EXPECT_EQ(page.card(0)->actionEditor()->repeatSlider()->valueLabel()->text(), QStringLiteral("120 ms"));

    for (std::int64_t button : {4, 5, 6, 7, 8, 9, 3}) {
        page.tab->selectButton(button);
        ButtonsPage::settle();
    }
    page.tab->selectButton(5);
    EXPECT_EQ(page.card(0)->actionEditor()->dpiSlider()->valueLabel()->text(), QStringLiteral("430"));
    // The rounding note waits for the mouse to report what it accepts.
    Explain* note = page.card(0)->actionEditor()->dpiNoteLabel();
    EXPECT_FALSE(note->isVisible());
    page.model->start();
    page.machine->settle();
    EXPECT_TRUE(note->isVisible());
    EXPECT_TRUE(note->text().endsWith(QStringLiteral("actually be set to 450."))) << note->text().toStdString();
    page.tab->selectButton(9);
    EXPECT_TRUE(page.tab->cards().empty());
    EXPECT_TRUE(page.tab->untouchedBanner()->isVisible());
    EXPECT_TRUE(page.tab->addJobButton()->isEnabled());
    page.window.hide();
    page.window.show();
    ButtonsPage::settle();
    // Another profile selected: the page shows its bindings, still writing nothing.
    page.selection->set(before.profiles[1].id);
    EXPECT_EQ(page.tab->rowSummary(5), QStringLiteral("Drops to 400 DPI while held"));
    EXPECT_EQ(page.tab->rowSummary(3), QStringLiteral("Unchanged"));
    EXPECT_EQ(page.model->config().value(), before);
    page.model->stop();
}

TEST(ButtonsTab, EditsWriteThroughTheBindingAndAChangeOfKindKeepsTheKey) {
    ButtonsPage page({{3, M::none, Action::keyStroke(8, M::command), true}});
    QComboBox* kinds = page.card(0)->actionEditor()->kindPicker();
    QTest::keyClick(kinds, Qt::Key_Down); // "Hold a key down while the button is held"
    EXPECT_EQ(page.buttons()[0].action, Action::hold(8, M::command));
    ButtonsPage::settle();
    kinds = page.card(0)->actionEditor()->kindPicker();
    QTest::keyClick(kinds, Qt::Key_Down); // "Repeat while the button is held"
    EXPECT_EQ(page.buttons()[0].action, Action::repeatWhileHeld(MacroStep::key(8, M::command), 120));
    ButtonsPage::settle();
    EXPECT_EQ(page.card(0)->actionEditor()->keyRecorder()->key(), (RecordedKey{8, M::command}));
    QTest::keyClick(page.card(0)->actionEditor()->repeatSlider()->stepUpButton(), Qt::Key_Space);
    EXPECT_EQ(page.buttons()[0].action, Action::repeatWhileHeld(MacroStep::key(8, M::command), 121));

    // A second, needing a modifier; deleting the first leaves the second showing its own binding.
    QTest::mouseClick(page.tab->addModifierVersionButton(), Qt::LeftButton);
    ButtonsPage::settle();
    ASSERT_EQ(page.tab->cards().size(), 2u);
    EXPECT_EQ(page.buttons()[1], (ButtonBinding{3, M::command, Action::keyStroke(0, M::none), true}));
    EXPECT_FALSE(page.tab->addJobButton()->isEnabled());
    QTest::mouseClick(page.card(0)->deleteButton(), Qt::LeftButton);
    ButtonsPage::settle();
    ASSERT_EQ(page.tab->cards().size(), 1u);
    EXPECT_EQ(page.buttons(), (std::vector<ButtonBinding>{{3, M::command, Action::keyStroke(0, M::none), true}}));
    EXPECT_EQ(page.card(0)->headerLabel()->text(), QStringLiteral("Only while Super is held"));
    EXPECT_TRUE(page.tab->addJobButton()->isEnabled());

    // Restoring button 5 of the factory profile gives its one binding, at the end.
    page.tab->selectButton(5);
    for (int i = 0; i < 2; ++i) QTest::mouseClick(page.tab->addModifierVersionButton(), Qt::LeftButton);
    QTest::mouseClick(page.tab->restoreButton(), Qt::LeftButton);
    ButtonsPage::settle();
    EXPECT_EQ(page.buttons(), (std::vector<ButtonBinding>{{3, M::command, Action::keyStroke(0, M::none), true},
                                                          {5, M::none, Action::dpiShift(400), true}}));
    EXPECT_EQ(page.tab->cards().size(), 1u);
}

TEST(ButtonsTab, TheCommandFieldSaysAsItIsTypedWhatTheLineWouldStartOrWhyNot) {
    ButtonsPage page({{3, M::none, Action::runShortcut(""), true}});
    ActionEditor* editor = page.card(0)->actionEditor();
    EXPECT_FALSE(editor->commandCheckLine()->isVisible()) << "nothing typed, nothing said";
    QTest::keyClicks(editor->shortcutNameField(), QStringLiteral("sh -c 'echo \"a b\""));
    ButtonsPage::settle();
    EXPECT_EQ(page.buttons()[0].action, Action::runShortcut("sh -c 'echo \"a b\""));
    editor = page.card(0)->actionEditor();
    ASSERT_TRUE(editor->commandCheckLine()->isVisible());
    EXPECT_EQ(editor->commandCheckLine()->level(), StatusDot::Level::bad);
    EXPECT_EQ(editor->commandCheckLine()->text(), QStringLiteral("A single quote (') is not closed."));
    // The list gives the same verdict.
    EXPECT_EQ(page.tab->rowSummary(3), QStringLiteral("Cannot start: A single quote (') is not closed."));
    test::saveScreenshot(page.window, QStringLiteral("buttons-command-unclosed"));
    QTest::keyClick(editor->shortcutNameField(), Qt::Key_Apostrophe);
    ButtonsPage::settle();
    EXPECT_EQ(editor->commandCheckLine()->level(), StatusDot::Level::good);
    EXPECT_TRUE(editor->commandCheckLine()->text().endsWith(QStringLiteral("/sh with 2 arguments: “-c” and “echo \"a b\"”.")))
        << editor->commandCheckLine()->text().toStdString();
    test::saveScreenshot(page.window, QStringLiteral("buttons-command"));
}

TEST(ButtonsTab, AnOffBindingKeepsItsSwitchesAndDeleteButNotItsActionEditor) {
    ButtonsPage page({{3, M::capsLock, Action::launchApp(""), true}, {4, M::none, Action::passThrough(), true}});
    BindingCard* card = page.card(0);
    EXPECT_EQ(card->headerLabel()->text(), QStringLiteral("Whenever the button is pressed"));
    EXPECT_EQ(card->actionEditor()->appNameLabel()->text(), QStringLiteral("None chosen"));
    QTest::mouseClick(card->enabledSwitch(), Qt::LeftButton);
    EXPECT_FALSE(page.buttons()[0].isEnabled);
    EXPECT_FALSE(card->actionEditor()->isEnabled());
    EXPECT_EQ(page.tab->rowSummary(3), QStringLiteral("Turned off"));

    QCheckBox* shift = card->modifierCheckBox(M::shift);
    QTest::mouseClick(shift, Qt::LeftButton, {}, QPoint(8, shift->height() / 2)); // on the box itself
    EXPECT_EQ(page.buttons()[0].modifiers, M::capsLock | M::shift);
    EXPECT_EQ(card->headerLabel()->text(), QStringLiteral("Only while Shift is held"));
    // Fn, ticked as a screen reader's toggle does it, writes and says why it cannot fire.
    EXPECT_FALSE(card->fnNote()->isVisibleTo(card));
    card->modifierCheckBox(M::function)->toggle();
    EXPECT_EQ(page.buttons()[0].modifiers, M::capsLock | M::shift | M::function);
    EXPECT_TRUE(card->fnNote()->isVisibleTo(card));
    EXPECT_TRUE(card->fnNote()->text().contains(QStringLiteral("never reaches Linux")));
    test::saveScreenshot(page.window, QStringLiteral("buttons-fn-modifier"));
    card->modifierCheckBox(M::function)->toggle();
    EXPECT_EQ(page.buttons()[0].modifiers, M::capsLock | M::shift);
    QTest::mouseClick(card->enabledSwitch(), Qt::LeftButton);
    EXPECT_TRUE(card->actionEditor()->isEnabled());
    QTest::keyClicks(card->actionEditor()->bundleIDField(), QStringLiteral("org.gimp.GIMP"));
    EXPECT_EQ(page.buttons()[0].action, Action::launchApp("org.gimp.GIMP"));
    EXPECT_EQ(card->actionEditor()->appNameLabel()->text(), QStringLiteral("GNU Image Manipulation Program"));
    Q_EMIT card->actionEditor()->appPicker()->chosen(QStringLiteral("org.mozilla.firefox"));
    EXPECT_EQ(page.buttons()[0].action, Action::launchApp("org.mozilla.firefox"));
    EXPECT_EQ(card->actionEditor()->bundleIDField()->text(), QStringLiteral("org.mozilla.firefox"));
    EXPECT_EQ(page.tab->rowSummary(3), QStringLiteral("Opens Firefox"));

    QTest::mouseClick(card->enabledSwitch(), Qt::LeftButton);
    QTest::mouseClick(card->deleteButton(), Qt::LeftButton);
    ButtonsPage::settle();
    EXPECT_EQ(page.buttons(), (std::vector<ButtonBinding>{{4, M::none, Action::passThrough(), true}}));
    EXPECT_TRUE(page.tab->untouchedBanner()->isVisible());
}

TEST(ButtonsTab, TheSequenceEditorMovesDeletesAndAppendsStepsInTheProfile) {
    ButtonsPage page({{3, M::none, Action::sequence({MacroStep::key(8, M::none), MacroStep::delay(300)}), true}});
    MacroSequenceEditor* editor = page.card(0)->actionEditor()->sequenceEditor();
    ASSERT_NE(editor, nullptr);
    std::vector<MacroStepRow*> rows = editor->rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_FALSE(rows[0]->moveUpButton()->isEnabled());
    EXPECT_FALSE(rows[1]->moveDownButton()->isEnabled());
    QTest::mouseClick(rows[1]->moveUpButton(), Qt::LeftButton);
    auto steps = [&] { return std::get<Action::Sequence>(page.buttons()[0].action.value).steps; };
    EXPECT_EQ(steps(), (std::vector{MacroStep::delay(300), MacroStep::key(8, M::none)}));
    EXPECT_EQ(rows[0]->titleLabel()->text(), QStringLiteral("Step 1"));
    ASSERT_NE(rows[0]->pauseSlider(), nullptr);

    // Choosing the kind a step already has rebuilds it: the pause goes back to 50 ms.
    Q_EMIT rows[0]->kindPicker()->activated(3);
    EXPECT_EQ(steps()[0], MacroStep::delay(50));
    QTest::keyClick(rows[0]->kindPicker(), Qt::Key_Up);
    EXPECT_EQ(steps()[0], MacroStep::keyUp(0, M::none));
    QTest::keyClick(rows[0]->kindPicker(), Qt::Key_Up);
    EXPECT_EQ(steps()[0], MacroStep::keyDown(0, M::none));
    ButtonsPage::settle();
    EXPECT_TRUE(rows[0]->keyDownReminder()->isVisible());
    QTest::mouseClick(rows[1]->deleteButton(), Qt::LeftButton);
    QTest::mouseClick(rows[0]->deleteButton(), Qt::LeftButton);
    ButtonsPage::settle();
    EXPECT_EQ(steps(), std::vector<MacroStep>{});
    EXPECT_TRUE(editor->emptyNotice()->isVisible());
    QTest::mouseClick(editor->addPauseButton(), Qt::LeftButton);
    EXPECT_EQ(steps(), std::vector{MacroStep::delay(50)});
    EXPECT_FALSE(editor->emptyNotice()->isVisible());
}

TEST(ButtonsTab, FindingByPressingSelectsButtonsThreeToFifteenAndTakesEveryOtherPress) {
    ButtonsPage page({});
    page.tab->selectButton(7);
    QTest::mouseClick(page.tab->findSwitch(), Qt::LeftButton);
    page.tab->startWatching(); // on twice: still one filter
    ASSERT_TRUE(page.tab->isWatchingForPress());

    QTest::mousePress(page.probe, Qt::BackButton);
    EXPECT_EQ(page.tab->selectedButton(), 3);
    QTest::mousePress(page.probe, Qt::MiddleButton);
    EXPECT_EQ(page.tab->selectedButton(), 3);
    EXPECT_EQ(page.probe->presses, 0);
    QTest::mousePress(page.probe, Qt::LeftButton);
    EXPECT_EQ(page.probe->presses, 1);

    page.tab->stopWatching();
    EXPECT_FALSE(page.tab->findSwitch()->isChecked());
    QTest::mousePress(page.probe, Qt::ForwardButton);
    EXPECT_EQ(page.probe->presses, 2);
    EXPECT_EQ(page.tab->selectedButton(), 3);

    // Hiding the page ends watching; coming back it reads off.
    QTest::mouseClick(page.tab->findSwitch(), Qt::LeftButton);
    page.tab->hide();
    page.tab->show();
    EXPECT_FALSE(page.tab->isWatchingForPress());
    EXPECT_FALSE(page.tab->findSwitch()->isChecked());
    QTest::mousePress(page.probe, Qt::MiddleButton);
    EXPECT_EQ(page.probe->presses, 3);
}

TEST(ButtonsTab, Screenshots) {
    if (!test::screenshotsEnabled()) GTEST_SKIP() << "no display";
    ButtonsPage page(everyKind);
    page.model->start();
    page.machine->settle();
    ButtonsPage::settle();
    test::saveScreenshot(page.window, QStringLiteral("buttons-repeat"));
    for (std::int64_t button : {4, 5, 6, 7, 9}) {
        page.tab->selectButton(button);
        ButtonsPage::settle();
        test::saveScreenshot(page.window, QStringLiteral("buttons-%1").arg(button));
    }
    page.window.resize(820, 1500);
    page.tab->selectButton(6);
    ButtonsPage::settle();
    test::saveScreenshot(page.window, QStringLiteral("buttons-macro-tall"));
    page.model->stop();
}

} // namespace
} // namespace ravolet
