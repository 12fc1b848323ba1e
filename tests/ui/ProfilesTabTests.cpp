#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

#include <fmt/format.h>

#include "RavoletApp/Model/SimulatedMachine.hpp"
#include "RavoletApp/UI/Explain.hpp"
#include "RavoletApp/UI/FactRow.hpp"
#include "RavoletApp/UI/ProfilesTab.hpp"
#include "RavoletApp/UI/ResetButton.hpp"
#include "RavoletApp/UI/RuleList.hpp"
#include "RavoletApp/UI/RuleRow.hpp"
#include "RavoletApp/UI/ShellExtensionSection.hpp"
#include "UITestSupport.hpp"

namespace ravolet {
namespace {

struct ProfilesTabTest : ::testing::Test {
    std::shared_ptr<SimulatedMachine> machine = SimulatedMachine::makeInVirtualTime();
    std::shared_ptr<AppModel> model = machine->makeModel();
    std::shared_ptr<ProfileSelection> selection = std::make_shared<ProfileSelection>("gone");
    ProfilesTab page{model, selection};

    void SetUp() override {
        page.setEditor(ProfilesEditor([n = 0]() mutable { return fmt::format("{:08x}", ++n); }));
    }
    const Config& config() const { return model->config().value(); }
    void settle() { QCoreApplication::processEvents(); }
    // Until the layouts have taken in rows made and measured (a few rounds of posted layout work).
    static void settleLayouts() {
        for (int round = 0; round < 5; ++round) QCoreApplication::processEvents();
    }
};

TEST_F(ProfilesTabTest, ShowingWritesNothingButMendsASelectionThatNamesNoProfile) {
    Config odd = config();
    odd.profiles[1].scroll.pixelsPerDetent = 49.9;
    odd.profiles[1].pointer.dpi = 430;
    odd.ruleSet.rules[0].priority = 500;
    odd.ruleSet.rules[1].profileID = "gone";
    model->setConfig(odd);
    test::showAndSettle(page, 720);
    EXPECT_EQ(config(), odd);
    EXPECT_EQ(selection->value(), "default");
    ASSERT_EQ(page.profileRows().size(), 2u);
    EXPECT_EQ(page.profileRows()[1].summary->text(),
              QStringLiteral("Wheel smoothed, 49 pt per click · 1 button bound · 430 DPI"));
    EXPECT_EQ(page.ruleRows().size(), odd.ruleSet.rules.size());
    EXPECT_EQ(page.ruleRows()[0]->priorityField()->text(), QStringLiteral("Priority 500"));
    EXPECT_TRUE(page.noRulesNote()->isHidden());
    EXPECT_EQ(page.frontmostFact()->valueLabel()->text(), QStringLiteral("Unknown"));
    EXPECT_EQ(page.frontmostFact()->helpLabel()->text(), QStringLiteral("Ravolet has not seen an app come forward yet."));
    EXPECT_EQ(page.profileInUseFact()->helpLabel()->text(),
              QStringLiteral("No rule matched, so the default profile is in use."));
    test::saveScreenshot(page, QStringLiteral("profiles-page"));
}

TEST_F(ProfilesTabTest, ProfileButtonsEditTheDocumentAndMoveTheSelection) {
    test::showAndSettle(page, 720);
    const auto row = [&](std::size_t i) { return page.profileRows().at(i); };
    EXPECT_FALSE(row(0).makeDefault->isEnabled());
    EXPECT_TRUE(row(1).makeDefault->isEnabled());
    EXPECT_TRUE(row(0).defaultBadge->isVisible());
    EXPECT_FALSE(row(1).defaultBadge->isVisible());

    // Typing a name keeps the row and its field.
    QLineEdit* name = row(1).name;
    name->selectAll();
    QTest::keyClicks(name, QStringLiteral("Canvas"));
    EXPECT_EQ(config().profiles[1].name, "Canvas");
    EXPECT_EQ(row(1).name, name);

    QTest::mouseClick(row(1).duplicate, Qt::LeftButton);
    settle();
    ASSERT_EQ(config().profiles.size(), 3u);
    EXPECT_EQ(config().profiles[2].name, "Canvas Copy");
    EXPECT_EQ(selection->value(), "profile-00000001");
    QTest::mouseClick(page.addProfileButton(), Qt::LeftButton);
    settle();
    EXPECT_EQ(config().profiles.back().name, "New Profile");
    EXPECT_EQ(selection->value(), "profile-00000002");
    QTest::mouseClick(row(3).nameReset, Qt::LeftButton);
    EXPECT_EQ(config().profiles[3].name, "New Profile");

    QTest::mouseClick(row(1).makeDefault, Qt::LeftButton);
    EXPECT_EQ(config().ruleSet.defaultProfileID, "canvas");
    EXPECT_TRUE(row(1).defaultBadge->isVisible());
    QTest::mouseClick(page.defaultProfileReset(), Qt::LeftButton);
    EXPECT_EQ(config().ruleSet.defaultProfileID, "default");

    // Deleting the selected default profile: the first remaining one takes over.
    selection->set("default");
    QTest::mouseClick(row(0).remove, Qt::LeftButton);
    settle();
    EXPECT_EQ(config().ruleSet.defaultProfileID, "canvas");
    EXPECT_EQ(selection->value(), "canvas");
    while (config().profiles.size() > 1) {
        QTest::mouseClick(page.profileRows().back().remove, Qt::LeftButton);
        settle();
    }
    EXPECT_FALSE(row(0).remove->isEnabled());
    EXPECT_TRUE(row(0).inUseBadge->isHidden()); // the engine has not run here
}

TEST_F(ProfilesTabTest, RuleRowsEditMoveAndDeleteTheirOwnRule) {
    Config noRules = config();
    noRules.ruleSet.rules.clear();
    model->setConfig(noRules);
    test::showAndSettle(page, 720);
    EXPECT_TRUE(page.noRulesNote()->isVisible());
    EXPECT_TRUE(page.ruleRows().empty());

    QTest::mouseClick(page.addRuleButton(), Qt::LeftButton);
    QTest::mouseClick(page.addRuleButton(), Qt::LeftButton);
    settle();
    ASSERT_EQ(page.ruleRows().size(), 2u);
    EXPECT_FALSE(page.noRulesNote()->isVisible());
    EXPECT_EQ(config().ruleSet.rules[0], Rule("rule-00000001", BundleIDPattern::exact(""), "canvas", 0, true));
    EXPECT_FALSE(page.ruleRows()[0]->raiseButton()->isEnabled());
    EXPECT_TRUE(page.ruleRows()[0]->lowerButton()->isEnabled());
    EXPECT_FALSE(page.ruleRows()[1]->lowerButton()->isEnabled());

    QLineEdit* field = page.ruleRows()[1]->patternField();
    QTest::keyClicks(field, QStringLiteral("com.adobe.*"));
    EXPECT_EQ(config().ruleSet.rules[1].pattern, BundleIDPattern::prefix("com.adobe."));
    EXPECT_EQ(page.ruleRows()[1]->patternField(), field);
    QTest::mouseClick(page.ruleRows()[1]->raiseButton(), Qt::LeftButton);
    settle();
    EXPECT_EQ(config().ruleSet.rules[0].id, "rule-00000002");

    machine->workspace->install({"com.adobe.Photoshop", "Photoshop", "/usr/share/applications/ps.desktop"});
    model->start();
    machine->workspace->activate("com.adobe.Photoshop");
    machine->advance(std::chrono::seconds(3));
    EXPECT_EQ(page.frontmostFact()->valueLabel()->text(), QStringLiteral("Photoshop"));
    EXPECT_EQ(page.frontmostFact()->helpLabel()->text(), QStringLiteral("Application ID: com.adobe.Photoshop"));
    EXPECT_EQ(page.profileInUseFact()->helpLabel()->text(), QStringLiteral("Matched by the rule for “com.adobe.*”."));
    EXPECT_TRUE(page.profileRows()[1].inUseBadge->isVisible());
    test::saveRefittedScreenshot(page, QStringLiteral("profiles-page-with-rules"), 720);

    QTest::mouseClick(page.ruleRows()[0]->deleteButton(), Qt::LeftButton);
    settle();
    EXPECT_EQ(config().ruleSet.rules.size(), 1u);
    EXPECT_EQ(page.ruleRows().size(), 1u);
    model->stop();
}

TEST_F(ProfilesTabTest, RuleRowsAreMadeOnlyAroundWhatIsInViewAndEditAsEver) {
    Config many = config();
    many.ruleSet.rules.clear();
    constexpr std::size_t count = 2000;
    for (std::size_t i = 0; i < count; ++i)
        many.ruleSet.rules.emplace_back(fmt::format("rule-{}", i), BundleIDPattern::exact(fmt::format("com.example.app{}", i)),
                                        "canvas", 0, true);
    model->setConfig(many);
    QScrollArea window;
    window.setWidgetResizable(true);
    auto* lazy = new ProfilesTab(model, selection);
    window.setWidget(lazy);
    EXPECT_TRUE(lazy->ruleRows().empty()) << "nothing is made before the page shows";
    window.resize(760, 640);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    settleLayouts();
    const std::size_t made = lazy->ruleRows().size();
    EXPECT_GT(made, 0u);
    EXPECT_LT(made, 40u);
    EXPECT_EQ(lazy->ruleList()->height(), lazy->ruleList()->topOf(count)) << "the page scrolls over every rule";

    // At the end of the page: the last rules' rows, and the first ones let go.
    window.verticalScrollBar()->setValue(window.verticalScrollBar()->maximum());
    settleLayouts();
    RuleRow* last = lazy->ruleList()->rowAt(count - 1);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(lazy->ruleList()->rowAt(0), nullptr);
    EXPECT_LT(lazy->ruleRows().size(), 60u);
    EXPECT_FALSE(last->lowerButton()->isEnabled());
    EXPECT_TRUE(last->raiseButton()->isEnabled());
    last->patternField()->setFocus();
    last->patternField()->end(false);
    QTest::keyClicks(last->patternField(), QStringLiteral("x"));
    EXPECT_EQ(config().ruleSet.rules[count - 1].pattern, BundleIDPattern::exact("com.example.app1999x"));

    // Back at the top, the row being typed in stays, far below, with its field.
    window.verticalScrollBar()->setValue(0);
    settleLayouts();
    EXPECT_NE(lazy->ruleList()->rowAt(0), nullptr);
    EXPECT_EQ(lazy->ruleList()->rowAt(count - 1), last);
    EXPECT_EQ(window.focusWidget(), last->patternField());
    EXPECT_EQ(lazy->ruleList()->rowAt(count - 2), nullptr);

    window.verticalScrollBar()->setValue(window.verticalScrollBar()->maximum());
    settleLayouts();
    QTest::mouseClick(last->raiseButton(), Qt::LeftButton);
    settleLayouts();
    EXPECT_EQ(config().ruleSet.rules[count - 2].id, "rule-1999");
    EXPECT_NE(lazy->ruleList()->rowAt(count - 2), nullptr) << "the rows in view are made again";
}

TEST_F(ProfilesTabTest, OnGnomeTheExtensionIsOfferedInstalledOnlyOnAPressAndRemovedAsEasily) {
    using Source = platform::FrontmostTracking::Source;
    using State = platform::FrontmostTracking::State;
    ShellExtensionSection* section = page.shellExtensionSection();
    test::showAndSettle(page, 720);
    EXPECT_FALSE(section->isVisible()) << "the simulated desktop needs no extension";

    auto extension = std::make_shared<test::RecordingExtension>();
    machine->workspace->setFrontmostExtension(extension);
    machine->workspace->setTracking({Source::gnomeShell, State::extensionNotInstalled, std::nullopt});
    machine->settle();
    ASSERT_TRUE(section->isVisible());
    EXPECT_EQ(section->aboutLabel()->text(),
              QStringLiteral("Per-application profiles on GNOME need Ravolet’s small GNOME Shell extension. It tells "
                             "Ravolet which app’s window has the focus and which apps are running, and nothing else."));
    EXPECT_EQ(section->statusLabel()->text(), QStringLiteral("Not installed. Once installed, it starts at your next login."));
    EXPECT_EQ(section->actionButton()->text(), QStringLiteral("Install the Extension"));
    EXPECT_FALSE(section->removeButton()->isVisible());
    EXPECT_TRUE(extension->calls.empty()) << "showing the page installs nothing";
    test::saveRefittedScreenshot(page, QStringLiteral("profiles-gnome-extension-offered"), 720);

    // A press installs; the button waits for the outcome, and a failure is said.
    QTest::mouseClick(section->actionButton(), Qt::LeftButton);
    EXPECT_EQ(extension->calls, std::vector<std::string>{"install"});
    EXPECT_FALSE(section->actionButton()->isEnabled());
    extension->pending(std::string("Ravolet could not write /x/metadata.json: No space left on device."));
    machine->settle();
    EXPECT_TRUE(section->actionButton()->isEnabled());
    EXPECT_EQ(section->problemLabel()->text(), QStringLiteral("Ravolet could not write /x/metadata.json: No space left on device."));
    EXPECT_TRUE(section->problemLabel()->isVisible());
    test::saveRefittedScreenshot(page, QStringLiteral("profiles-gnome-extension-failed"), 720);

    QTest::mouseClick(section->actionButton(), Qt::LeftButton);
    EXPECT_FALSE(section->problemLabel()->isVisible()) << "a new press clears the old failure";
    extension->pending(std::nullopt);
    machine->workspace->setTracking({Source::gnomeShell, State::waitingForLogin, std::nullopt});
    machine->settle();
    EXPECT_EQ(section->statusLabel()->text(), QStringLiteral("Installed. It starts at your next login."));
    EXPECT_FALSE(section->actionButton()->isVisible());
    ASSERT_TRUE(section->removeButton()->isVisible());
    test::saveRefittedScreenshot(page, QStringLiteral("profiles-gnome-extension-installed"), 720);

    QTest::mouseClick(section->removeButton(), Qt::LeftButton);
    EXPECT_EQ(extension->calls, (std::vector<std::string>{"install", "install", "remove"}));

    // Once the shell has gone there is nothing to offer.
    machine->workspace->setTracking({Source::gnomeShell, State::cannotTell, std::nullopt});
    machine->settle();
    EXPECT_FALSE(section->isVisible());
}

} // namespace
} // namespace ravolet
