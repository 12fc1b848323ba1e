#include "RavoletApp/UI/ResetButton.hpp"
#include "RavoletApp/UI/ValueSlider.hpp"

#include "UITestSupport.hpp"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QSlider>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace ravolet {
namespace {

ValueSlider* distanceSlider() {
    return new ValueSlider({.title = QStringLiteral("Distance per wheel click"),
                            .help = QStringLiteral("How far one click moves."),
                            .range = {10, 400},
                            .step = 5,
                            .defaultValue = 50,
                            .precisionStep = 1,
                            .format = {}});
}

TEST(ResetButton, NamesTheSettingAndRunsItsAction) {
    int runs = 0;
    ResetButton button(QStringLiteral("Automatic update checks"), [&] { ++runs; });
    EXPECT_EQ(button.toolTip(), QStringLiteral("Reset Automatic update checks to default"));
    EXPECT_EQ(button.accessibleName(), button.toolTip());
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(runs, 1);
}

// Beside a control the reset is no Tab stop: the reset key in the control
// presses it (its tooltip says so), only while it is shown, and in no other
// setting's control.
TEST(ResetButton, TheResetKeyInAControlPressesItsOwnResetWhileShown) {
    struct Row {
        const char* name;
        bool showsResets;
        int runs;
    };
    const Row rows[] = {{"shown", true, 1}, {"hidden by the switch", false, 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QWidget page;
        auto* layout = new QVBoxLayout(&page);
        int toggleRuns = 0, fieldRuns = 0;
        auto* toggle = new QCheckBox(QStringLiteral("Smooth the scroll wheel"));
        auto* field = new QLineEdit;
        QWidget* toggleRow = resettable(toggle, toggle->text(), [&] { ++toggleRuns; });
        layout->addWidget(toggleRow);
        layout->addWidget(resettable(field, QStringLiteral("App match"), [&] { ++fieldRuns; }));
        setShowsSettingResets(&page, row.showsResets);
        test::showAndSettle(page);
        auto* reset = toggleRow->findChild<ResetButton*>();
        EXPECT_FALSE(reset->focusPolicy() & Qt::TabFocus);
        EXPECT_EQ(reset->toolTip(), QStringLiteral("Reset Smooth the scroll wheel to default (Ctrl+R)"));
        EXPECT_EQ(reset->accessibleName(), QStringLiteral("Reset Smooth the scroll wheel to default"));

        test::pressIn(toggle, ResetButton::key());
        EXPECT_EQ(toggleRuns, row.runs);
        EXPECT_EQ(fieldRuns, 0);
        test::pressIn(field, ResetButton::key());
        EXPECT_EQ(fieldRuns, row.runs);
        EXPECT_EQ(toggleRuns, row.runs);
    }
}

TEST(ResetButton, TheSwitchHidesEveryResetBelowTheContainerAndKeepsTheControls) {
    QWidget page;
    auto* pageLayout = new QVBoxLayout(&page);
    auto* section = new QWidget;  // resets nested a level down
    auto* sectionLayout = new QVBoxLayout(section);
    auto* slider = distanceSlider();
    auto* toggle = new QCheckBox(QStringLiteral("Smooth the scroll wheel"));
    sectionLayout->addWidget(slider);
    sectionLayout->addWidget(resettable(toggle, toggle->text(), [] {}));
    pageLayout->addWidget(section);
    pageLayout->addWidget(new ResetButton(QStringLiteral("Everything"), [] {}));
    test::showAndSettle(page);

    const auto visibleResets = [&] {
        int visible = 0;
        for (const ResetButton* button : page.findChildren<ResetButton*>()) {
            visible += button->isVisible() ? 1 : 0;
        }
        return visible;
    };
    ASSERT_EQ(visibleResets(), 3);

    setShowsSettingResets(&page, false);
    EXPECT_EQ(visibleResets(), 0);
    EXPECT_TRUE(toggle->isVisible());
    EXPECT_TRUE(slider->slider()->isVisible());

    // A slider built elsewhere and added later follows the switch too.
    auto* late = distanceSlider();
    sectionLayout->addWidget(late);
    QApplication::processEvents();
    EXPECT_TRUE(late->slider()->isVisible());
    EXPECT_FALSE(late->resetButton()->isVisible());

    // So does one that was on screen elsewhere first.
    auto* moved = distanceSlider();
    test::showAndSettle(*moved);
    sectionLayout->addWidget(moved);
    QApplication::processEvents();
    EXPECT_TRUE(moved->slider()->isVisible());
    EXPECT_FALSE(moved->resetButton()->isVisible());
    delete moved;

    // The nearest container decides.
    setShowsSettingResets(section, true);
    EXPECT_TRUE(late->resetButton()->isVisible());
    EXPECT_EQ(visibleResets(), 3);

    setShowsSettingResets(section, false);
    setShowsSettingResets(&page, true);
    EXPECT_EQ(visibleResets(), 1);
    setShowsSettingResets(section, true);
    EXPECT_EQ(visibleResets(), 4);

    // A reset the page hid itself stays hidden when the switch comes back on.
    late->resetButton()->hide();
    setShowsSettingResets(&page, false);
    setShowsSettingResets(&page, true);
    EXPECT_FALSE(late->resetButton()->isVisible());
}

} // namespace
} // namespace ravolet
