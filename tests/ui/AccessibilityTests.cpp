#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QToolButton>

#include <map>

#include "RavoletApp/Model/SimulatedMachine.hpp"
#include "RavoletApp/UI/ActionEditor.hpp"
#include "RavoletApp/UI/BindingCard.hpp"
#include "RavoletApp/UI/ButtonsTab.hpp"
#include "RavoletApp/UI/OnboardingWindow.hpp"
#include "RavoletApp/UI/ProfilesTab.hpp"
#include "RavoletApp/UI/RuleRow.hpp"
#include "RavoletApp/UI/ScrollTab.hpp"
#include "RavoletApp/UI/SettingsTabBar.hpp"
#include "RavoletApp/UI/SettingsWindow.hpp"
#include "RavoletApp/UI/ValueSlider.hpp"
#include "RavoletApp/ViewModels/ProfilesEditor.hpp"
#include "UITestSupport.hpp"

namespace ravolet {
namespace {

// Every element under `face` that assistive technology is given.
void collect(QAccessibleInterface* face, std::vector<QAccessibleInterface*>& into) {
    if (face == nullptr) return;
    into.push_back(face);
    for (int i = 0; i < face->childCount(); ++i) collect(face->child(i), into);
}

std::vector<QAccessibleInterface*> elements(QWidget* widget) {
    std::vector<QAccessibleInterface*> all;
    collect(QAccessible::queryAccessibleInterface(widget), all);
    return all;
}

// An element a reader reaches, and the name of the group it is in: a reader
// entering a named group (a binding card) says its name first.
struct Reached {
    QAccessibleInterface* face;
    QString group;
};

// Every element a reader can reach under `widget`: what is on screen, with
// the entries of its lists (shown or scrolled away), not what is hidden.
void collectShown(QAccessibleInterface* face, std::vector<Reached>& into, const QString& group = {}) {
    if (face == nullptr) return;
    if (const auto* widget = qobject_cast<QWidget*>(face->object()); widget && !widget->isVisible()) return;
    into.push_back({face, group});
    const QString name = face->text(QAccessible::Name);
    const bool names =
        (face->role() == QAccessible::Client || face->role() == QAccessible::Grouping) && !name.isEmpty();
    for (int i = 0; i < face->childCount(); ++i) collectShown(face->child(i), into, names ? name : group);
}

// What is wrong with the controls under `widget`, one line each: a focusable
// element with no name, or a name two controls share.
std::vector<std::string> namingFaults(QWidget* widget) {
    std::vector<Reached> shown;
    collectShown(QAccessible::queryAccessibleInterface(widget), shown);
    std::vector<std::string> faults;
    std::map<std::pair<QString, QString>, int> controls;
    for (const auto& [face, group] : shown) {
        if (!face->state().focusable) continue;
        QString name = face->text(QAccessible::Name);
        // Qt names a combo box by its choice on Linux; a reader says the
        // label that names it (its labelled-by relation) with it.
        if (face->role() == QAccessible::ComboBox)
            for (const auto& [label, relation] : face->relations(QAccessible::Label))
                name = label->text(QAccessible::Name) + QStringLiteral(": ") + name;
        const QObject* object = face->object();
        const std::string what = object ? object->metaObject()->className() : "an entry of a list";
        if (name.trimmed().isEmpty()) {
            faults.push_back("nameless " + what + " (role " + std::to_string(face->role()) + ")");
        } else if (++controls[{group, name}] == 2) {
            faults.push_back("two controls named \"" + name.toStdString() + "\", the second a " + what);
        }
    }
    return faults;
}

// What a reader of the text interface (AT-SPI's Text) is given.
QString readText(QAccessibleInterface* face) {
    QAccessibleTextInterface* text = face->textInterface();
    return text ? text->text(0, text->characterCount()) : QString();
}

TEST(Accessibility, EveryFigureStatusAndBannerIsOneElementNamedByItsCaptionWithItsValue) {
    const auto machine = SimulatedMachine::makeInVirtualTime();
    const auto model = machine->makeModel();
    machine->workspace->install({"com.adobe.Photoshop", "Photoshop", "/usr/share/applications/ps.desktop"});
    model->start();
    machine->workspace->activate("com.adobe.Photoshop");
    machine->advance(std::chrono::seconds(3));
    model->setPausedByUser(true);
    SettingsWindow window(model, [] {});
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    for (SettingsTab tab : {SettingsTab::device, SettingsTab::profiles}) {
        window.selectTab(tab); // a page reads what it shows as it comes on screen
        machine->settle();
    }
    QApplication::processEvents();
    const DeviceMonitor::Snapshot& mouse = model->deviceMonitor().snapshot().value();
    ASSERT_TRUE(mouse.dpi && mouse.identity && mouse.identity->product);
    const EngineStatus& status = model->status().value();
    ASSERT_FALSE(status.activeProfileName.empty());

    const auto page = [&](SettingsTab tab) { return window.page(tab); };
    struct Row {
        QWidget* where;
        QString caption;
        QString value;
        QAccessible::Role role = QAccessible::StaticText;
    };
    const std::vector<Row> rows{
        {page(SettingsTab::profiles), "Frontmost app", "Photoshop"},
        {page(SettingsTab::profiles), "Profile in use", QString::fromStdString(status.activeProfileName)},
        {page(SettingsTab::device), "DPI", QString::number(mouse.dpi->current)},
        {page(SettingsTab::device), "USB identifiers", "046D:C099"},
        {page(SettingsTab::device), "Connection status", "Connected to " + QString::fromStdString(*mouse.identity->product)},
        {page(SettingsTab::device), "Event stream", "Watching your mouse"},
        {page(SettingsTab::updates), "This version", QString::fromStdString(model->updater().currentVersionDescription())},
        {&window, "Ravolet is paused", {}, QAccessible::Grouping},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.caption.toStdString());
        std::vector<QAccessibleInterface*> named;
        for (QAccessibleInterface* face : elements(row.where))
            if (face->text(QAccessible::Name) == row.caption) named.push_back(face);
        // The caption is said once, by the element that holds the value.
        ASSERT_EQ(named.size(), 1u);
        EXPECT_EQ(named[0]->role(), row.role);
        const QString value = named[0]->text(QAccessible::Value);
        if (row.value.isEmpty()) {
            EXPECT_FALSE(value.isEmpty());
        } else {
            EXPECT_EQ(value, row.value);
        }
        EXPECT_EQ(readText(named[0]), value);
    }
    model->stop();
}

// Every page and every step, as a reader walks it: each control has a name
// of its own, so that a reader tells one row's Delete from the next.
TEST(Accessibility, EveryControlOnEveryPageAndStepHasANameNoOtherControlThereShares) {
    const auto machine = SimulatedMachine::makeInVirtualTime();
    const auto model = machine->makeModel();
    model->start();
    machine->settle();
    // Four rules, two profiles of one name, and button 3 repeating a key
    // (its card holds a slider) and, with Ctrl held, pressing one.
    ProfilesEditor editor;
    Config config = model->config().value();
    for (int i = 0; i < 4; ++i) config = editor.addingRule(config);
    config = editor.duplicate(config, config.profiles.at(1)).config;
    config = editor.duplicate(config, config.profiles.at(1)).config;
    model->setConfig(test::withBindingsOfEveryKind(config));
    machine->settle();

    SettingsWindow window(model, [] {});
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.page(SettingsTab::scroll)->findChild<ScrollTab*>()->setShowsAdvanced(true);
    for (SettingsTab tab : allSettingsTabs) {
        window.selectTab(tab);
        machine->settle();
        QApplication::processEvents();
        SCOPED_TRACE(std::string(title(tab)));
        EXPECT_EQ(namingFaults(&window), std::vector<std::string>{});
    }

    // The walk-through, with both grants missing and the nodes to open named.
    machine->grant(false, false);
    machine->probe->setClosedNodes({"/dev/uinput"}, {"/dev/input/event4", "/dev/hidraw1"});
    model->refreshPermissions();
    OnboardingPresenter presenter;
    presenter.show(model);
    OnboardingWindow* setUp = presenter.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(setUp));
    for (int step = 0; step < 4; ++step) {
        SCOPED_TRACE("set-up step " + std::to_string(step + 1));
        QApplication::processEvents();
        EXPECT_EQ(namingFaults(setUp), std::vector<std::string>{});
        QTest::mouseClick(setUp->primaryButton(), Qt::LeftButton);
    }
    // Virtual Input's page with no uinput module: two commands to copy.
    PermissionStepPage access(OnboardingStep::accessibility);
    PermissionState noModule{false, false, HIDPPInputMonitoringAccess::denied, {"/dev/uinput"}, {}};
    noModule.postingDeviceMissing = true;
    access.refresh(noModule);
    access.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&access));
    ASSERT_EQ(access.commandLines().size(), 2u);
    EXPECT_EQ(namingFaults(&access), std::vector<std::string>{});
    model->stop();
}

// What a reader does through the accessibility interface (AT-SPI's Text,
// Action and Value), not the keys or the mouse, is saved as a keystroke or a
// click would be.
TEST(Accessibility, TextSetAPageTabPressedAndASliderSetByAReaderAreTheUsersOwnEdits) {
    const auto machine = SimulatedMachine::makeInVirtualTime();
    const auto model = machine->makeModel();
    model->start();
    machine->settle();
    Config config = model->config().value();
    ASSERT_FALSE(config.ruleSet.rules.empty()); // the factory's own
    for (Profile& profile : config.profiles)
        profile.buttons.push_back({3, {}, Action::runShortcut("true"), true});
    model->setConfig(config);
    machine->settle();
    SettingsWindow window(model, [] {});
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    // A page tab is read as one and pressed as one: its page shows.
    QAccessibleInterface* profilesTab =
        QAccessible::queryAccessibleInterface(window.tabBar()->button(SettingsTab::profiles));
    EXPECT_EQ(profilesTab->role(), QAccessible::PageTab);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(window.tabBar())->role(), QAccessible::PageTabList);
    ASSERT_NE(profilesTab->actionInterface(), nullptr);
    profilesTab->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QApplication::processEvents();
    EXPECT_EQ(window.selectedTab(), SettingsTab::profiles);
    EXPECT_TRUE(window.page(SettingsTab::profiles)->isVisible());
    EXPECT_TRUE(profilesTab->state().selected);
    EXPECT_FALSE(QAccessible::queryAccessibleInterface(window.tabBar()->button(SettingsTab::scroll))->state().selected);

    const auto setText = [](QWidget* field, const QString& text) {
        QAccessible::queryAccessibleInterface(field)->setText(QAccessible::Value, text);
        QApplication::processEvents();
    };
    auto* profiles = qobject_cast<ProfilesTab*>(window.page(SettingsTab::profiles));
    ASSERT_NE(profiles, nullptr);
    ASSERT_FALSE(profiles->profileRows().empty());
    setText(profiles->profileRows().front().name, QStringLiteral("Everyday"));
    ASSERT_FALSE(profiles->ruleRows().empty());
    setText(profiles->ruleRows().front()->patternField(), QStringLiteral("org.gimp.*"));

    window.selectTab(SettingsTab::buttons);
    QApplication::processEvents();
    auto* buttons = window.page(SettingsTab::buttons)->findChild<ButtonsTab*>();
    ASSERT_EQ(buttons->cards().size(), 1u);
    setText(buttons->cards().front()->actionEditor()->shortcutNameField(), QStringLiteral("gimp"));

    window.selectTab(SettingsTab::scroll);
    QApplication::processEvents();
    ValueSlider* distance = nullptr;
    for (auto* slider : window.page(SettingsTab::scroll)->findChildren<ValueSlider*>())
        if (slider->options().title == QStringLiteral("Distance per wheel click")) distance = slider;
    ASSERT_NE(distance, nullptr);
    // In points, as the page shows it.
    const double distanceSet = distance->value() + 3;
    QAccessible::queryAccessibleInterface(distance->slider())->valueInterface()->setCurrentValue(distanceSet);

    // Saved after the same delay as typing.
    machine->advance(std::chrono::seconds(2));
    const auto stored = Config::decoded(machine->files->readFile(model->store().fileURL).value_or(""));
    ASSERT_TRUE(stored.has_value());
    const Profile saved = *stored->profile(config.profiles.front().id);
    EXPECT_EQ(saved.name, "Everyday");
    ASSERT_FALSE(stored->ruleSet.rules.empty());
    EXPECT_EQ(stored->ruleSet.rules.front().pattern, BundleIDPattern::prefix("org.gimp."));
    ASSERT_FALSE(saved.buttons.empty());
    EXPECT_EQ(saved.buttons.back().action, Action::runShortcut("gimp"));
    EXPECT_EQ(saved.scroll.pixelsPerDetent, distanceSet);
    model->stop();
}

} // namespace
} // namespace ravolet
