#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAccessible>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSlider>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <set>
#include <vector>

#include "Platform/Linux/JsonFileKeyValueStore.hpp"
#include "RavoletApp/Model/SimulatedMachine.hpp"
#include "RavoletApp/UI/Explain.hpp"
#include "RavoletApp/UI/NoticeBanner.hpp"
#include "RavoletApp/UI/PointerTab.hpp"
#include "RavoletApp/UI/ResetButton.hpp"
#include "RavoletApp/UI/ScreenFit.hpp"
#include "RavoletApp/UI/ScrollTab.hpp"
#include "RavoletApp/UI/SettingsTabBar.hpp"
#include "RavoletApp/UI/SettingsWindow.hpp"
#include "RavoletApp/UI/Style.hpp"
#include "RavoletApp/UI/WheelGuard.hpp"
#include "RavoletApp/ViewModels/ProfilesEditor.hpp"
#include "UITestSupport.hpp"

namespace ravolet {
namespace {

struct SettingsWindowTest : ::testing::Test {
    std::shared_ptr<SimulatedMachine> machine = SimulatedMachine::makeInVirtualTime();
    std::shared_ptr<AppModel> model = machine->makeModel();
    int setUpRequests = 0;

    void SetUp() override {
        model->start();
        machine->settle();
    }
    void show(SettingsWindow& window) {
        window.show();
        (void)QTest::qWaitForWindowExposed(&window);
        window.activateWindow();
        (void)QTest::qWaitForWindowActive(&window);
        QApplication::processEvents();
    }
    static QScrollArea* scroller(const SettingsWindow& window, SettingsTab tab) {
        return qobject_cast<QScrollArea*>(window.pageHost()->widget(position(tab)));
    }
    // Everything a wheel could change: the document and the preferences.
    std::string stored() const {
        return model->config().value().encoded().value_or("unencodable") + " / " +
               std::to_string(machine->defaults->writeCount());
    }
    static void wheel(QWidget* control, int notches) {
        const QPoint centre = control->rect().center();
        QWheelEvent event(centre, control->mapToGlobal(centre), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(control, &event);
        QApplication::processEvents();
    }
    // How much of the widget shows in the window, as a share of its own pixels that have the colour.
    static double shareOfColour(QWidget* widget, const QColor& colour) {
        const QImage image = widget->grab().toImage();
        int matching = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                if (std::abs(pixel.red() - colour.red()) + std::abs(pixel.green() - colour.green()) +
                        std::abs(pixel.blue() - colour.blue()) < 60)
                    ++matching;
            }
        return static_cast<double>(matching) / std::max(1, image.width() * image.height());
    }
    static QStringList bannerTitles(const SettingsWindow& window) {
        QStringList titles;
        for (NoticeBanner* banner : window.banners()) titles << banner->titleLabel()->text();
        return titles;
    }
    static void click(const SettingsWindow& window, const QString& buttonTitle) {
        for (NoticeBanner* banner : window.banners())
            for (QPushButton* button : banner->findChildren<QPushButton*>())
                if (button->text() == buttonTitle) return QTest::mouseClick(button, Qt::LeftButton);
        ADD_FAILURE() << "no banner button " << buttonTitle.toStdString();
    }
};

// A section's heading starts where the Scroll page's do, on every page.
TEST_F(SettingsWindowTest, SectionHeadingsLineUpFromPageToPage) {
    SettingsWindow window(model, [] {});
    show(window);
    const auto headingStart = [&](SettingsTab tab, const QString& heading) {
        window.selectTab(tab);
        QApplication::processEvents();
        for (auto* label : window.page(tab)->findChildren<QLabel*>()) {
            if (label->text() == heading && label->isVisible())
                return label->mapTo(window.page(tab), QPoint(label->contentsRect().left(), 0)).x();
        }
        ADD_FAILURE() << "no heading " << heading.toStdString();
        return -1;
    };
    const int scroll = headingStart(SettingsTab::scroll, QStringLiteral("Smooth Scrolling"));
    EXPECT_EQ(headingStart(SettingsTab::pointer, QStringLiteral("Device Control")), scroll);
    EXPECT_EQ(headingStart(SettingsTab::device, QStringLiteral("Connection")), scroll);
    EXPECT_EQ(headingStart(SettingsTab::updates, QStringLiteral("Automatic Checks")), scroll);
}

TEST_F(SettingsWindowTest, EveryPageIsBuiltOnceAndTabsSwitchWithoutRebuildingOrRetitling) {
    SettingsWindow window(model, [] {});
    show(window);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Scroll — Ravolet"));
    EXPECT_EQ(window.pageHost()->count(), 6);
    // What each slot of the host shows, as built with the window.
    const auto hosted = [&] {
        std::vector<QWidget*> pages;
        for (int i = 0; i < window.pageHost()->count(); ++i)
            pages.push_back(qobject_cast<QScrollArea*>(window.pageHost()->widget(i))->widget());
        return pages;
    };
    const std::vector<QWidget*> built = hosted();
    EXPECT_EQ(std::set<QWidget*>(built.begin(), built.end()).size(), 6u);
    EXPECT_EQ(std::count(built.begin(), built.end(), nullptr), 0);
    test::saveScreenshot(window, QStringLiteral("settings-window"));

    for (SettingsTab tab : {SettingsTab::device, SettingsTab::updates, SettingsTab::buttons, SettingsTab::profiles,
                            SettingsTab::pointer, SettingsTab::device}) {
        QTest::mouseClick(window.tabBar()->button(tab), Qt::LeftButton);
        EXPECT_EQ(window.windowTitle().toStdString(), std::string(title(tab)) + " — Ravolet");
        EXPECT_EQ(window.pageHost()->currentIndex(), position(tab));
        EXPECT_TRUE(window.page(tab)->isVisible());
        EXPECT_TRUE(window.tabBar()->button(tab)->isChecked());
        test::saveScreenshot(window, QStringLiteral("settings-window-") + QString::fromUtf8(title(tab).data()).toLower());
    }
    EXPECT_EQ(hosted(), built);
}

TEST_F(SettingsWindowTest, BannersFollowTheStateAndTheirButtonsApplyTheirRemedies) {
    SettingsWindow window(model, [this] { ++setUpRequests; });
    show(window);
    EXPECT_TRUE(window.banners().empty());

    model->store().setProblem(ConfigStore::Problem::corrupt("unexpected end of input"));
    machine->grant(false, false);
    model->refreshPermissions();
    model->setPausedByUser(true);
    EXPECT_EQ(bannerTitles(window), (QStringList{"Your Ravolet settings file could not be read",
                                                 "Ravolet is not allowed to touch your input yet"}));
    EXPECT_TRUE(window.banners()[0]->message().endsWith(
        QString::fromStdString(" Your file is still on disk at " + model->store().fileURL.string() + ".")));
    test::saveScreenshot(window, QStringLiteral("settings-window-banners"));
    click(window, QStringLiteral("Finish Setting Up…"));
    EXPECT_EQ(setUpRequests, 1);

    machine->grant(true, true);
    model->refreshPermissions();
    EXPECT_EQ(bannerTitles(window), (QStringList{"Your Ravolet settings file could not be read", "Ravolet is paused"}));
    click(window, QStringLiteral("Resume"));
    EXPECT_FALSE(model->preferences().isPausedByUser.value());
    QApplication::processEvents();

    // There is no file (the simulated machine starts without one): reading again clears the problem.
    click(window, QStringLiteral("Try Reading It Again"));
    QApplication::processEvents();
    EXPECT_TRUE(window.banners().empty());
    EXPECT_FALSE(model->needsBanner().value());

    // Broken after it was read well: the factory settings come only by the button that names them.
    Config edited = model->config().value();
    edited.profiles.front().pointer.dpi = 800;
    model->setConfig(edited);
    auto later = ConfigStore::Problem::corrupt("unexpected end of input");
    later.inForce = ConfigStore::Problem::InForce::lastGood;
    model->store().setProblem(later);
    QApplication::processEvents();
    test::saveScreenshot(window, QStringLiteral("settings-window-broken-while-running"));
    click(window, QStringLiteral("Move It Aside, Use Factory Settings"));
    QApplication::processEvents();
    EXPECT_EQ(model->config().value(), Config::defaultConfig());
    EXPECT_TRUE(window.banners().empty());
}

TEST_F(SettingsWindowTest, AFailedSaveASetAsidePreferencesFileAndOverriddenChangesAreShownUntilDealtWith) {
    // Preferences from a file that cannot be read, for a model of its own.
    model.reset();
    const auto folder = machine->files->settingsFolder();
    machine->files->putFile(folder / "preferences.json", "{ nope");
    auto dependencies = machine->dependencies();
    dependencies.defaults = std::make_shared<platform::JsonFileKeyValueStore>(folder / "preferences.json", machine->files);
    model = AppModel::create(std::move(dependencies));
    model->start();
    SettingsWindow window(model, [] {});
    show(window);
    EXPECT_EQ(bannerTitles(window), QStringList{"Your Ravolet preferences file could not be read"});

    machine->files->fail(platform::InMemoryFileSystem::Operation::write, ENOSPC);
    Config edited = model->config().value();
    edited.profiles.front().pointer.dpi = 800;
    model->setConfig(edited);
    machine->advance(std::chrono::seconds(1));
    QApplication::processEvents();
    EXPECT_EQ(bannerTitles(window), (QStringList{"Ravolet could not save your settings",
                                                 "Your Ravolet preferences file could not be read"}));
    test::saveScreenshot(window, QStringLiteral("settings-window-save-failed"));
    click(window, QStringLiteral("Try Saving Again"));
    QApplication::processEvents();
    EXPECT_EQ(bannerTitles(window).size(), 2) << "still failing";

    machine->files->fail(platform::InMemoryFileSystem::Operation::write, 0);
    click(window, QStringLiteral("Try Saving Again"));
    click(window, QStringLiteral("OK"));
    QApplication::processEvents();
    EXPECT_TRUE(window.banners().empty());
    EXPECT_EQ(Config::decoded(machine->files->readFile(model->store().fileURL).value_or("")), edited);

    // A change of the window's that an edit of the file outside Ravolet
    // overrode is named until the user has taken note.
    edited.profiles.front().pointer.dpi = 1200;
    model->setConfig(edited);
    Config byHand = edited;
    byHand.profiles.front().pointer.dpi = 1600;
    machine->files->putFile(model->store().fileURL, *byHand.encoded());
    machine->advance(std::chrono::milliseconds(100));
    QApplication::processEvents();
    EXPECT_EQ(bannerTitles(window), QStringList{"Your settings file was changed outside Ravolet"});
    test::saveScreenshot(window, QStringLiteral("settings-window-outside-edit"));
    click(window, QStringLiteral("OK"));
    QApplication::processEvents();
    EXPECT_TRUE(window.banners().empty());
    EXPECT_EQ(model->config().value(), byHand);
}

TEST_F(SettingsWindowTest, ASelectionWhoseProfileIsGoneTurnsToTheActiveProfileWhenTheWindowShows) {
    SettingsWindow window(model, [] {});
    const std::string second = model->config().value().profiles.at(1).id;
    window.profileSelection()->set(second);
    show(window);
    EXPECT_EQ(window.profileSelection()->value(), second);
    window.hide();
    window.profileSelection()->set("gone");
    show(window);
    EXPECT_EQ(window.profileSelection()->value(), model->status().value().activeProfileID);
}

TEST_F(SettingsWindowTest, TheWheelOverAControlWithoutFocusScrollsThePageAndChangesNothing) {
    SettingsWindow window(model, [] {});
    show(window);
    window.page(SettingsTab::scroll)->findChild<ScrollTab*>()->setShowsAdvanced(true);
    int controls = 0;
    for (SettingsTab tab : allSettingsTabs) {
        window.selectTab(tab);
        QApplication::processEvents();
        QScrollArea* area = scroller(window, tab);
        for (QWidget* control : window.page(tab)->findChildren<QWidget*>()) {
            if (!isWheelGuarded(control) || !control->isVisible()) continue;
            ++controls;
            area->ensureWidgetVisible(control);
            window.tabBar()->button(tab)->setFocus();
            QApplication::processEvents();
            ASSERT_FALSE(control->hasFocus());
            const std::string before = stored();
            QScrollBar* bar = area->verticalScrollBar();
            const int offset = bar->value();
            // Down the page, unless it is already at its end.
            wheel(control, offset < bar->maximum() ? -1 : 1);
            EXPECT_TRUE(stored() == before) << "the wheel edited a setting on " << title(tab) << ": " << control->metaObject()->className() << " "
                                        << control->accessibleName().toStdString();
            if (bar->maximum() > 0) {
                EXPECT_NE(bar->value(), offset) << control->accessibleName().toStdString();
            }
            EXPECT_FALSE(control->hasFocus());
        }
    }
    EXPECT_GE(controls, 20);

    // A control the user focused takes the wheel as before.
    window.selectTab(SettingsTab::scroll);
    auto* scroll = window.page(SettingsTab::scroll)->findChild<ScrollTab*>();
    QComboBox* shape = scroll->glideShapePicker();
    scroller(window, SettingsTab::scroll)->ensureWidgetVisible(shape);
    shape->setFocus(Qt::TabFocusReason);
    wheel(shape, -1);
    EXPECT_EQ(model->config().value().profiles.at(0).scroll.easing, Easing::linear);
}

// A screen reader changes a control through the accessibility interface, with
// no click or key of the control's own: it toggles a switch and sets a
// slider's value. On the profile pages each is a change of its setting.
TEST_F(SettingsWindowTest, EverySwitchToggledAndSliderSetByAScreenReaderChangesItsSetting) {
    SettingsWindow window(model, [] {});
    show(window);
    window.page(SettingsTab::scroll)->findChild<ScrollTab*>()->setShowsAdvanced(true);
    const auto written = [&] {
        return stored() + " / " + std::to_string(static_cast<int>(machine->loginItems->status())) + " / " +
               std::to_string(PointerTab::tunerOf(*model)->status().isEnabled);
    };
    int controls = 0;
    for (SettingsTab tab : {SettingsTab::scroll, SettingsTab::pointer}) {
        window.selectTab(tab);
        QApplication::processEvents();
        // A change may rebuild rows of the page: those are passed over once gone.
        std::vector<QPointer<QWidget>> found;
        for (QWidget* control : window.page(tab)->findChildren<QWidget*>()) found.emplace_back(control);
        for (const QPointer<QWidget>& control : found) {
            if (!control || !control->isEnabled() || !control->isVisible()) continue;
            QAccessibleInterface* element = QAccessible::queryAccessibleInterface(control);
            const bool isSwitch = qobject_cast<QCheckBox*>(control.data()) != nullptr;
            auto* slider = qobject_cast<QSlider*>(control.data());
            if (!isSwitch && !slider) continue;
            ++controls;
            const std::string name = std::string(title(tab)) + ": " + element->text(QAccessible::Name).toStdString();
            // Changed by its least step, in the setting's units, and changed
            // back, so that what it switches off stays on for the next.
            QAccessibleValueInterface* value = slider ? element->valueInterface() : nullptr;
            const double start = value ? value->currentValue().toDouble() : 0;
            const double step = value ? value->minimumStepSize().toDouble() : 1;
            const bool atTop = value && start + step > value->maximumValue().toDouble();
            for (const double to : {atTop ? start - step : start + step, start}) {
                const std::string before = written();
                if (isSwitch) {
                    element->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
                } else {
                    value->setCurrentValue(to);
                }
                machine->settle();
                QApplication::processEvents();
                EXPECT_TRUE(written() != before) << "nothing written by " << name;
                if (!control) break;
            }
        }
    }
    EXPECT_GE(controls, 15);
}

TEST_F(SettingsWindowTest, TheTabStripAndThePagesAnswerTheKeyboard) {
    SettingsWindow window(model, [] {});
    show(window);
    SettingsTabBar* strip = window.tabBar();
    const QColor accent = systemColor(SystemColor::accent, strip->palette());
    // The accent from the first showing, before any switch.
    EXPECT_GT(shareOfColour(strip->button(SettingsTab::scroll), accent), 0.02);

    // Ctrl+Tab and Ctrl+PgDn forward, Ctrl+Shift+Tab and Ctrl+PgUp back, going round.
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        SettingsTab shown;
    } presses[] = {
        {Qt::Key_Tab, Qt::ControlModifier, SettingsTab::buttons},
        {Qt::Key_PageDown, Qt::ControlModifier, SettingsTab::pointer},
        {Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier, SettingsTab::buttons},
        {Qt::Key_PageUp, Qt::ControlModifier, SettingsTab::scroll},
        {Qt::Key_PageUp, Qt::ControlModifier, SettingsTab::updates},
        {Qt::Key_Tab, Qt::ControlModifier, SettingsTab::scroll},
    };
    for (const auto& press : presses) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &window, press.key,
                        press.modifiers);
        EXPECT_EQ(title(window.selectedTab()), title(press.shown)) << press.key;
        EXPECT_EQ(window.pageHost()->currentIndex(), position(press.shown));
    }

    // Tab reaches the strip, which shows where the focus is; Space and Enter choose.
    QToolButton* pointer = strip->button(SettingsTab::pointer);
    const double unfocused = shareOfColour(pointer, accent);
    // Focus the window put there itself (at opening, say) wears no ring.
    pointer->setFocus(Qt::ActiveWindowFocusReason);
    QApplication::processEvents();
    EXPECT_NEAR(shareOfColour(pointer, accent), unfocused, 0.01);
    strip->button(SettingsTab::scroll)->setFocus(Qt::OtherFocusReason);
    pointer->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    EXPECT_GT(shareOfColour(pointer, accent), unfocused + 0.05);
    QTest::keyClick(pointer, Qt::Key_Space);
    EXPECT_EQ(title(window.selectedTab()), "Pointer");
    QTest::keyClick(pointer, Qt::Key_Right);
    EXPECT_TRUE(strip->button(SettingsTab::profiles)->hasFocus());
    QTest::keyClick(strip->button(SettingsTab::profiles), Qt::Key_Return);
    EXPECT_EQ(title(window.selectedTab()), "Profiles");
    EXPECT_EQ(window.windowTitle().toStdString(), "Profiles — Ravolet");

    // Tab goes from the strip to the banner above the page, then down the page,
    // also through the rule rows that the page made after its own buttons.
    machine->grant(false, false);
    model->refreshPermissions();
    QApplication::processEvents();
    strip->button(SettingsTab::updates)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(strip->button(SettingsTab::updates), Qt::Key_Tab);
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    EXPECT_TRUE(window.banners().at(0)->isAncestorOf(QApplication::focusWidget()));
    QWidget* page = window.page(SettingsTab::profiles);
    QScrollArea* area = scroller(window, SettingsTab::profiles);
    int top = -1;
    int stops = 0;
    for (QWidget* focused = QApplication::focusWidget(); focused != nullptr && focused->window() == &window;
         focused = QApplication::focusWidget()) {
        QTest::keyClick(focused, Qt::Key_Tab);
        QWidget* next = QApplication::focusWidget();
        if (next == area) continue;
        if (next == nullptr || !page->isAncestorOf(next)) break;
        const QRect place(next->mapTo(page, QPoint(0, 0)), next->size());
        EXPECT_GE(place.bottom(), top) << next->metaObject()->className() << " "
                                       << next->accessibleName().toStdString() << " is above the stop before it";
        top = place.top();
        ++stops;
    }
    EXPECT_GE(stops, 20);
}

// From the keyboard every setting is at most four Tabs on from the one before
// it, and the first from the page's tab: a reset is the reset key in its
// setting's control, a stepper's arrows are that control's arrow keys, and a
// row of buttons is one stop. Every reset that Tab passes by is pressed by the
// key from the stop beside it, and every arrow is big enough to hit.
TEST_F(SettingsWindowTest, EverySettingIsAtMostFourTabsOnAndEveryResetAKeyAway) {
    // Four rules, two profiles, and button 3 repeating a key (its card holds
    // a slider) and, with Ctrl held, pressing one.
    Config config = model->config().value();
    ProfilesEditor editor;
    while (config.ruleSet.rules.size() < 4) config = editor.addingRule(config);
    model->setConfig(test::withBindingsOfEveryKind(config));
    machine->settle();
    SettingsWindow window(model, [] {});
    show(window);
    window.page(SettingsTab::scroll)->findChild<ScrollTab*>()->setShowsAdvanced(true);

    // A stop that holds a value a reader hears and the keyboard changes.
    const auto isSetting = [](const QWidget* stop) {
        const auto* field = qobject_cast<const QLineEdit*>(stop);
        return qobject_cast<const QCheckBox*>(stop) || qobject_cast<const QComboBox*>(stop) ||
               qobject_cast<const QAbstractSlider*>(stop) || qobject_cast<const QAbstractSpinBox*>(stop) ||
               qobject_cast<const QAbstractItemView*>(stop) || (field && !field->isReadOnly());
    };
    const auto named = [](QWidget* widget) {
        return std::string(widget->metaObject()->className()) + " \"" +
               QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name).toStdString() + "\"";
    };
    // The Tab stops of a whole round from the page's tab, at most.
    const struct {
        SettingsTab tab;
        std::size_t stops;
    } pages[] = {{SettingsTab::scroll, 18}, {SettingsTab::buttons, 38}, {SettingsTab::pointer, 15},
                 {SettingsTab::profiles, 32}, {SettingsTab::device, 2},  {SettingsTab::updates, 3}};
    for (const auto& page : pages) {
        SCOPED_TRACE(std::string(title(page.tab)));
        window.selectTab(page.tab);
        machine->settle();
        QApplication::processEvents();
        QToolButton* pageTab = window.tabBar()->button(page.tab);
        pageTab->setFocus(Qt::TabFocusReason);
        std::vector<QPointer<QWidget>> stops;
        for (QWidget* at = pageTab; stops.size() < 200;) {
            QTest::keyClick(at, Qt::Key_Tab);
            at = QApplication::focusWidget();
            if (at == nullptr || at == pageTab) break;
            stops.emplace_back(at);
        }
        EXPECT_LE(stops.size(), page.stops);
        std::size_t tabs = 0;
        for (const QPointer<QWidget>& stop : stops) {
            ++tabs;
            if (!isSetting(stop)) continue;
            EXPECT_LE(tabs, 4u) << named(stop) << " comes " << tabs << " Tabs after the setting before it";
            tabs = 0;
        }

        QWidget* content = window.page(page.tab);
        for (QToolButton* arrow : content->findChildren<QToolButton*>()) {
            if (arrow->isVisible() && arrow->arrowType() != Qt::NoArrow && arrow->text().isEmpty()) {
                EXPECT_GE(std::min(arrow->width(), arrow->height()), 24) << named(arrow);
            }
        }
        std::vector<QPointer<ResetButton>> resets;
        for (ResetButton* reset : content->findChildren<ResetButton*>())
            if (reset->isVisible() && std::ranges::find(stops, reset) == stops.end()) resets.emplace_back(reset);
        for (const QPointer<ResetButton>& reset : resets) {
            if (!reset) continue; // gone with its row, after another reset
            const auto beside = std::ranges::find_if(
                stops, [&](const QPointer<QWidget>& stop) { return stop && reset->parentWidget()->isAncestorOf(stop); });
            ASSERT_NE(beside, stops.end()) << named(reset) << " is reached neither by Tab nor from a control";
            EXPECT_TRUE(reset->toolTip().contains(ResetButton::key().toString(QKeySequence::NativeText)))
                << reset->toolTip().toStdString();
            QSignalSpy presses(reset.data(), &QAbstractButton::clicked);
            test::pressIn(*beside, ResetButton::key());
            EXPECT_EQ(presses.count(), 1) << named(reset) << " from " << named(*beside);
            machine->settle();
            QApplication::processEvents();
        }
    }
}

TEST_F(SettingsWindowTest, TheWindowOpensWithinTheScreenAndResizesDownToAMinimumEveryPageFits) {
    // 760 by 703 on a 1366 by 768 laptop with a 32-pixel panel and a 37-pixel title bar.
    EXPECT_EQ(fittedToScreen({760, 703}, {700, 300}, QRect(0, 32, 1366, 736), QMargins(0, 37, 0, 0)), QSize(760, 699));
    // At 125 %: 950 by 879.
    EXPECT_EQ(fittedToScreen({950, 879}, {700, 300}, QRect(0, 0, 1366, 768), QMargins(1, 37, 1, 1)), QSize(950, 730));
    // A screen smaller than the minimum still gets a usable window.
    EXPECT_EQ(fittedToScreen({760, 703}, {700, 300}, QRect(0, 0, 640, 280), QMargins()), QSize(700, 300));

    SettingsWindow window(model, [] {});
    show(window);
    EXPECT_LT(window.minimumSize().width(), window.maximumSize().width());
    EXPECT_LT(window.minimumSize().height(), window.maximumSize().height());
    const QRect screen = window.screen()->availableGeometry();
    EXPECT_LE(window.width(), screen.width());
    EXPECT_LE(window.height(), screen.height());

    window.resize(window.minimumSize());
    QApplication::processEvents();
    for (SettingsTab tab : allSettingsTabs) {
        window.selectTab(tab);
        QApplication::processEvents();
        QScrollArea* area = scroller(window, tab);
        // Nothing cut off at the side (the pages never scroll sideways), and room to read.
        EXPECT_LE(area->widget()->width(), area->viewport()->width()) << title(tab);
        EXPECT_GE(area->viewport()->height(), SettingsWindow::minimumPageHeight - 1) << title(tab);
    }
}

TEST_F(SettingsWindowTest, ExplanationsAreReadableOnLightAndDarkPalettes) {
    EXPECT_NEAR(contrastRatio(Qt::black, Qt::white), 21.0, 0.01);
    EXPECT_NEAR(contrastRatio(QColor(0x76, 0x76, 0x76), Qt::white), 4.54, 0.01);

    const QPalette usual = QApplication::palette();
    const QPalette dark = test::darkPalette(QColor(0x35, 0x84, 0xe4));
    const double body = QApplication::font().pointSizeF();
    const struct {
        QString name;
        QPalette palette;
    } looks[] = {{QStringLiteral("light"), QApplication::style()->standardPalette()}, {QStringLiteral("dark"), dark}};
    for (const auto& look : looks) {
        QApplication::setPalette(look.palette);
        SettingsWindow window(model, [] {});
        show(window);
        int explanations = 0;
        for (Explain* explain : window.findChildren<Explain*>()) {
            EXPECT_GE(explain->font().pointSizeF(), 0.9 * body - 0.01) << explain->text().toStdString();
            const QColor ink = explain->palette().color(QPalette::Active, QPalette::WindowText);
            EXPECT_EQ(ink.alpha(), 255);
            EXPECT_GE(contrastRatio(ink, look.palette.color(QPalette::Window)), minimumTextContrast)
                << look.name.toStdString() << ": " << explain->text().toStdString();
            ++explanations;
        }
        EXPECT_GT(explanations, 50);
        for (SettingsTab tab : allSettingsTabs) {
            window.selectTab(tab);
            test::saveScreenshot(window, QStringLiteral("settings-window-%1-%2")
                                             .arg(look.name, QString::fromUtf8(title(tab).data()).toLower()));
        }
    }
    QApplication::setPalette(usual);
}

} // namespace
} // namespace ravolet
