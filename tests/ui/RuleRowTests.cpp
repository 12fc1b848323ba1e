#include <gtest/gtest.h>

#include <QAbstractSpinBox>
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

#include "RavoletApp/Model/SimulatedMachine.hpp"
#include "RavoletApp/UI/AppPicker.hpp"
#include "RavoletApp/UI/Explain.hpp"
#include "RavoletApp/UI/ResetButton.hpp"
#include "RavoletApp/UI/RuleRow.hpp"
#include "UITestSupport.hpp"

#include <algorithm>
#include <functional>
#include <vector>

namespace ravolet {
namespace {

struct RuleRowTest : ::testing::Test {
    std::shared_ptr<SimulatedMachine> machine = SimulatedMachine::makeInVirtualTime();
    std::shared_ptr<AppModel> model = machine->makeModel();
    std::vector<Profile> profiles = Config::defaultConfig().profiles;
    RuleRow row{model};
    std::vector<Rule> edits;

    void SetUp() override {
        QObject::connect(&row, &RuleRow::ruleEdited, [this](const Rule& rule) { edits.push_back(rule); });
        row.setRule(Rule("rule-0000000a", BundleIDPattern::exact(""), "canvas", 0, true), profiles, true, true);
        test::showAndSettle(row, 640);
    }
};

TEST_F(RuleRowTest, TheFieldIsParsedOnEveryKeyAndWrittenBackOnlyWhenItDiffers) {
    EXPECT_TRUE(edits.empty()); // filling announces nothing
    EXPECT_TRUE(row.iconView()->isHidden());
    EXPECT_TRUE(row.explanationLabel()->text().startsWith(QStringLiteral("Type an application ID")));

    QTest::keyClicks(row.patternField(), QStringLiteral("com.figma.Desktop"));
    ASSERT_EQ(edits.size(), 17u);
    EXPECT_EQ(edits.back().pattern, BundleIDPattern::exact("com.figma.Desktop"));
    EXPECT_TRUE(row.iconView()->isVisible());
    EXPECT_TRUE(row.explanationLabel()->text().startsWith(QStringLiteral("Matches only")));

    // Typing in the middle keeps the cursor where the user is.
    row.patternField()->setCursorPosition(3);
    QTest::keyClicks(row.patternField(), QStringLiteral("x"));
    EXPECT_EQ(row.patternField()->text(), QStringLiteral("comx.figma.Desktop"));
    EXPECT_EQ(row.patternField()->cursorPosition(), 4);

    row.patternField()->selectAll();
    QTest::keyClicks(row.patternField(), QStringLiteral("com.adobe.*"));
    EXPECT_EQ(edits.back().pattern, BundleIDPattern::prefix("com.adobe."));
    EXPECT_TRUE(row.iconView()->isHidden());
    row.patternField()->selectAll();
    QTest::keyClick(row.patternField(), Qt::Key_Backspace);
    EXPECT_EQ(edits.back().pattern, BundleIDPattern::any());
    QTest::keyClicks(row.patternField(), QStringLiteral("*"));
    EXPECT_EQ(row.patternField()->text(), QString()); // "*" is every app, shown empty
    EXPECT_EQ(edits.back().pattern, BundleIDPattern::any());

    // A pick is always exact, whatever the pattern was.
    Q_EMIT row.appPicker()->chosen(QStringLiteral("org.gimp.GIMP"));
    EXPECT_EQ(edits.back().pattern, BundleIDPattern::exact("org.gimp.GIMP"));
    EXPECT_EQ(row.patternField()->text(), QStringLiteral("org.gimp.GIMP"));
    EXPECT_FALSE(row.iconView()->showsPlaceholder());
}

TEST_F(RuleRowTest, ButtonsStopAtTheEndsAndResetsPutBackTheFactoryRule) {
    EXPECT_FALSE(row.raiseButton()->isEnabled());
    EXPECT_FALSE(row.lowerButton()->isEnabled());
    EXPECT_TRUE(row.deleteButton()->isEnabled());
    int raised = 0, deleted = 0;
    QObject::connect(&row, &RuleRow::raiseRequested, [&] { ++raised; });
    QObject::connect(&row, &RuleRow::deleteRequested, [&] { ++deleted; });
    row.setRule(Rule("krita", BundleIDPattern::any(), "gone", 100, false), profiles, false, true);
    EXPECT_EQ(row.profilePicker()->currentIndex(), -1); // an unlisted profile shows no entry
    EXPECT_FALSE(row.priorityUpButton()->isEnabled());
    EXPECT_EQ(row.priorityField()->text(), QStringLiteral("Priority 100"));
    QTest::mouseClick(row.raiseButton(), Qt::LeftButton);
    QTest::mouseClick(row.deleteButton(), Qt::LeftButton);
    EXPECT_EQ(raised, 1);
    EXPECT_EQ(deleted, 1);
    EXPECT_TRUE(edits.empty());

    QTest::mouseClick(row.priorityDownButton(), Qt::LeftButton);
    EXPECT_EQ(edits.back().priority, 99);
    row.enabledBox()->click();
    EXPECT_TRUE(edits.back().isEnabled);
    // A screen reader's toggle, with no click of the box's own, is an edit too.
    QAccessible::queryAccessibleInterface(row.enabledBox())->actionInterface()->doAction(
        QAccessibleActionInterface::toggleAction());
    EXPECT_FALSE(edits.back().isEnabled);
    row.profilePicker()->setCurrentIndex(0);
    Q_EMIT row.profilePicker()->activated(0);
    EXPECT_EQ(edits.back().profileID, "default");

    for (const QString& title : {QStringLiteral("App match"), QStringLiteral("Rule profile"),
                                 QStringLiteral("Rule priority"), QStringLiteral("Rule enabled")})
        QTest::mouseClick(row.resetButton(title), Qt::LeftButton);
    EXPECT_EQ(edits.back(), Rule("krita", BundleIDPattern::exact("org.kde.krita"), "canvas", 10, true));
    EXPECT_TRUE(row.iconView()->showsPlaceholder()); // no Krita here
    test::saveScreenshot(row, QStringLiteral("rule-row"));

    setShowsSettingResets(&row, false);
    EXPECT_TRUE(row.resetButton(QStringLiteral("App match"))->isHidden());
    EXPECT_TRUE(row.patternField()->isVisible());
}

// From the keyboard the priority is one field that its arrow keys step (Page
// Up and Down by ten) within -100 ... 100, or that takes a typed number; its
// arrows beside it are big enough to hit. The row's three list buttons are one
// Tab stop, crossed with the arrow keys.
TEST_F(RuleRowTest, TheKeyboardStepsThePriorityAndCrossesTheListButtonsAsOneStop) {
    auto* field = row.findChild<QAbstractSpinBox*>();
    ASSERT_NE(field, nullptr) << "the priority is no field of its own";
    for (QToolButton* arrow : {row.priorityUpButton(), row.priorityDownButton()}) {
        EXPECT_GE(std::min(arrow->width(), arrow->height()), 24);
        EXPECT_EQ(arrow->focusPolicy(), Qt::NoFocus);
    }
    const struct {
        const char* name;
        std::int64_t start;
        std::function<void()> act;
        std::int64_t written;
    } rows[] = {
        {"up", 0, [&] { test::pressIn(field, QKeySequence(Qt::Key_Up)); }, 1},
        {"down", 0, [&] { test::pressIn(field, QKeySequence(Qt::Key_Down)); }, -1},
        {"page up", 95, [&] { test::pressIn(field, QKeySequence(Qt::Key_PageUp)); }, 100},
        {"down from a stored priority beyond the range", 500,
         [&] { test::pressIn(field, QKeySequence(Qt::Key_Down)); }, 99},
        {"typed", 3,
         [&] {
             test::pressIn(field, QKeySequence(Qt::Key_End));
             field->selectAll();
             QTest::keyClicks(field, QStringLiteral("-42"));
         },
         -42},
    };
    for (const auto& step : rows) {
        SCOPED_TRACE(step.name);
        row.setRule(Rule("rule-0000000a", BundleIDPattern::exact(""), "canvas", step.start, true), profiles, true, true);
        EXPECT_EQ(field->text(), QStringLiteral("Priority %1").arg(step.start));
        edits.clear();
        step.act();
        ASSERT_FALSE(edits.empty());
        EXPECT_EQ(edits.back().priority, step.written);
        EXPECT_EQ(field->text(), QStringLiteral("Priority %1").arg(step.written));
    }

    // A rule between others: up, down and delete are one stop, the one that
    // has the focus, or the first once the focus has left them.
    row.setRule(Rule("rule-0000000a", BundleIDPattern::exact(""), "canvas", 0, true), profiles, false, false);
    const std::vector<QWidget*> buttons{row.raiseButton(), row.lowerButton(), row.deleteButton()};
    const auto tabStop = [&] {
        std::vector<QWidget*> stops;
        for (QWidget* button : buttons)
            if (button->focusPolicy() & Qt::TabFocus) stops.push_back(button);
        return stops;
    };
    EXPECT_EQ(tabStop(), std::vector<QWidget*>{row.raiseButton()});
    test::pressIn(row.raiseButton(), QKeySequence(Qt::Key_Right));
    EXPECT_TRUE(row.lowerButton()->hasFocus());
    QTest::keyClick(row.lowerButton(), Qt::Key_End);
    EXPECT_TRUE(row.deleteButton()->hasFocus());
    EXPECT_EQ(tabStop(), std::vector<QWidget*>{row.deleteButton()});
    row.patternField()->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(tabStop(), std::vector<QWidget*>{row.raiseButton()});
}

TEST_F(RuleRowTest, TheProfileListShowsWholeNamesInAnyDesktopFontAndALongNameKeepsTheRowNarrow) {
    std::vector<Profile> named = profiles;
    named.back().name = std::string(200, 'W');
    for (double points : {9.0, 11.0, 13.0}) {
        QFont font = row.font();
        font.setPointSizeF(points);
        row.setFont(font);
        row.setRule(Rule("rule-0000000a", BundleIDPattern::exact(""), "default", 0, true), profiles, true, true);
        test::showAndSettle(row, 640);
        QComboBox* picker = row.profilePicker();
        EXPECT_GE(picker->width(), picker->sizeHint().width()) << points << " pt";

        row.setRule(Rule("rule-0000000a", BundleIDPattern::exact(""), "default", 0, true), named, true, true);
        test::showAndSettle(row, 640);
        EXPECT_LE(row.minimumSizeHint().width(), 640) << points << " pt";
    }
}

} // namespace
} // namespace ravolet
