#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>

#include <string>
#include <vector>

#include "RavoletApp/Model/MenuBarState.hpp"
#include "RavoletApp/Model/SimulatedMachine.hpp"
#include "RavoletApp/UI/ActionEditor.hpp"
#include "RavoletApp/UI/AppPicker.hpp"
#include "RavoletApp/UI/AppShell.hpp"
#include "RavoletApp/UI/OnboardingWindow.hpp"
#include "RavoletApp/UI/SettingsWindow.hpp"
#include "RavoletApp/ViewModels/ActionEditing.hpp"
#include "RavoletApp/ViewModels/ActionKind.hpp"
#include "RavoletApp/ViewModels/ActionSummary.hpp"
#include "RavoletApp/ViewModels/ButtonBindingEditing.hpp"
#include "RavoletApp/ViewModels/DevicePageRules.hpp"
#include "RavoletApp/ViewModels/KeyCatalog.hpp"
#include "RavoletApp/ViewModels/KeyRecorderModel.hpp"
#include "RavoletApp/ViewModels/MenuContent.hpp"
#include "RavoletApp/ViewModels/OnboardingFlow.hpp"
#include "RavoletApp/ViewModels/PointerPageRules.hpp"
#include "RavoletApp/ViewModels/ScrollPageRules.hpp"
#include "RavoletApp/ViewModels/ScrollPreviewRules.hpp"
#include "RavoletApp/ViewModels/SettingsBanners.hpp"
#include "RavoletApp/ViewModels/UpdatesRules.hpp"

namespace ravolet {
namespace {

// What a Linux user must never read: the other platform by name, its keys and
// their symbols, its panes, its applications and its words for things.
const QRegularExpression otherPlatform(QStringLiteral(
    "macOS|\\bMac\\b|\\bMac's|⌘|⌥|⌃|⇧|Finder|System Settings|System Preferences|menu bar|Shortcuts app|"
    "\\bShortcut\\b|Applications folder|\\bDock\\b|Spotlight|Login Items|Input Monitoring|\\bAccessibility\\b|"
    "IOKit|\\.app\\b|\\bApple\\b|com\\.apple|Safari|Photoshop|Figma|\\bMiro\\b|trackpad|Keychain|Launchpad|"
    "[Bb]undle identifier|\\b(Command|Option|Control) (is held|\\+)|\\+ (Command|Option|Control)\\b|"
    "reboots|\\bCmd\\b|\\bOpt\\b"));

// Every text a widget and its children show or say: labels, buttons, tooltips,
// accessible names, placeholders, list and menu entries, titles; hidden ones
// too, since they show in some other state.
class Texts {
public:
    void add(const QString& where, const QString& text) {
        if (!text.isEmpty()) texts_.push_back({where, text});
    }
    void add(const QString& where, std::string_view text) { add(where, QString::fromUtf8(text.data(), qsizetype(text.size()))); }
    void add(const QString& where, const std::optional<std::string>& text) {
        if (text) add(where, std::string_view(*text));
    }
    void add(const QString& where, const std::optional<PageNotice>& notice) {
        if (!notice) return;
        add(where, std::string_view(notice->title));
        add(where, std::string_view(notice->message));
    }
    void add(const QString& where, const std::vector<PageFact>& facts) {
        for (const PageFact& fact : facts) {
            add(where, std::string_view(fact.label));
            add(where, std::string_view(fact.value));
            add(where, fact.help);
        }
    }

    void addWidget(const QString& where, QWidget& root) {
        std::vector<QWidget*> widgets{&root};
        for (QWidget* child : root.findChildren<QWidget*>()) widgets.push_back(child);
        for (QWidget* widget : widgets) {
            const QString at = where + QStringLiteral(" / ") + QString::fromUtf8(widget->metaObject()->className());
            add(at, widget->windowTitle());
            add(at, widget->toolTip());
            add(at, widget->statusTip());
            add(at, widget->whatsThis());
            add(at, widget->accessibleName());
            add(at, widget->accessibleDescription());
            if (auto* label = qobject_cast<QLabel*>(widget)) add(at, label->text());
            if (auto* button = qobject_cast<QAbstractButton*>(widget)) add(at, button->text());
            if (auto* field = qobject_cast<QLineEdit*>(widget)) {
                add(at, field->text());
                add(at, field->placeholderText());
            }
            if (auto* box = qobject_cast<QGroupBox*>(widget)) add(at, box->title());
            if (auto* combo = qobject_cast<QComboBox*>(widget))
                for (int i = 0; i < combo->count(); ++i) {
                    add(at, combo->itemText(i));
                    add(at, combo->itemData(i, Qt::ToolTipRole).toString());
                }
            if (auto* list = qobject_cast<QListWidget*>(widget))
                for (int i = 0; i < list->count(); ++i) add(at, list->item(i)->text());
            for (QAction* action : widget->actions()) addAction(at, *action);
            if (auto* menu = qobject_cast<QMenu*>(widget)) add(at, menu->title());
        }
    }
    void addAction(const QString& where, const QAction& action) {
        add(where, action.text());
        add(where, action.toolTip());
        add(where, action.statusTip());
    }

    // The texts that name the other platform, with where each was found.
    std::vector<std::string> offending() const {
        std::vector<std::string> found;
        for (const auto& [where, text] : texts_)
            if (otherPlatform.match(text).hasMatch()) found.push_back(where.toStdString() + ": " + text.toStdString());
        return found;
    }
    std::size_t size() const { return texts_.size(); }

private:
    std::vector<std::pair<QString, QString>> texts_;
};

struct PlatformWordingTest : ::testing::Test {
    std::shared_ptr<SimulatedMachine> machine = SimulatedMachine::makeInVirtualTime();
    std::shared_ptr<AppModel> model = machine->makeModel();
    Texts texts;

    void SetUp() override {
        model->start();
        machine->settle();
    }
};

// The pages and windows as they are built, in the states that change what
// they say: grants missing with the nodes named, paused, every action kind.
TEST_F(PlatformWordingTest, NoWindowOrMenuNamesTheOtherPlatform) {
    const auto walkWindows = [&](const QString& state) {
        SettingsWindow settings(model, [] {});
        for (SettingsTab tab : {SettingsTab::scroll, SettingsTab::pointer, SettingsTab::buttons, SettingsTab::profiles,
                                SettingsTab::device, SettingsTab::updates}) {
            settings.selectTab(tab);
            QApplication::processEvents();
            texts.addWidget(state + QStringLiteral(" settings"), settings);
        }
        OnboardingWindow setUp(model);
        for (int step = 0; step < 4; ++step) {
            texts.addWidget(state + QStringLiteral(" set-up"), setUp);
            setUp.primaryButton()->click();
        }
        AppShell shell(model, {.hasTray = [] { return false; }});
        Q_EMIT shell.menu()->aboutToShow();
        QApplication::processEvents();
        texts.addWidget(state + QStringLiteral(" tray menu"), *shell.menu());
    };
    walkWindows(QStringLiteral("granted"));

    machine->probe->setAccessibilityTrusted(false);
    machine->probe->setCanListenToEvents(false);
    machine->probe->setHIDListenAccess(platform::HIDAccessType::denied);
    machine->probe->setClosedNodes({"/dev/uinput"}, {"/dev/input/event7", "/dev/hidraw3"});
    model->refreshPermissions();
    machine->settle();
    walkWindows(QStringLiteral("not granted"));

    model->preferences().isPausedByUser.set(true);
    machine->settle();
    walkWindows(QStringLiteral("paused"));

    for (ActionKind kind : allActionKinds) {
        ActionEditor editor(model);
        editor.setAction(ActionEditing::withKind(Action::keyStroke(40, ModifierFlags::command), kind),
                         Action::passThrough());
        QApplication::processEvents();
        texts.addWidget(QStringLiteral("action editor"), editor);
    }
    for (AppChoicePlace place : {AppChoicePlace::rule, AppChoicePlace::launchAction}) {
        texts.add(QStringLiteral("chooser"), AppPickerButton::chooserTitle(place));
    }
    texts.add(QStringLiteral("picker"), AppPickerButton::chooseInstalledTitle());

    EXPECT_GT(texts.size(), 500u);
    EXPECT_EQ(texts.offending(), std::vector<std::string>{});
}

// The text tables and the states the windows above do not reach.
TEST_F(PlatformWordingTest, NoTextTableNamesTheOtherPlatform) {
    using Access = HIDPPInputMonitoringAccess;
    std::vector<PermissionState> grants;
    for (bool accessibility : {false, true})
        for (bool listening : {false, true})
            for (Access hid : {Access::granted, Access::denied, Access::unknown})
                grants.push_back({accessibility, listening, hid, {"/dev/uinput"}, {"/dev/hidraw3"}});
    const EngineStatus status = model->status().value();
    for (const PermissionState& p : grants) {
        for (OnboardingStep step : {OnboardingStep::inputMonitoring, OnboardingStep::accessibility}) {
            const PermissionPage page = permissionPage(step, p);
            for (const std::string* text : {&page.heading, &page.statusLine, &page.why, &page.detail, &page.howTo})
                texts.add(QStringLiteral("permission page"), std::string_view(*text));
            texts.add(QStringLiteral("permission page"), page.extra);
            texts.add(QStringLiteral("permission page"), page.closedNodes);
        }
        for (bool paused : {false, true}) {
            const MenuBarState tray = MenuBarState::of(p, paused, status);
            texts.add(QStringLiteral("tray"), std::string_view(tray.headline));
            texts.add(QStringLiteral("tray"), tray.detail);
            texts.add(QStringLiteral("tray"), std::string_view(trayToolTip(tray)));
            for (const SettingsBanner& banner :
                 settingsBanners(ConfigStore::Problem{ConfigStore::Problem::Corrupt{"x"}}, "/tmp/config.json", p, paused,
                                 {"disk full", "disk full", "/tmp/aside.json"})) {
                texts.add(QStringLiteral("banner"), std::string_view(banner.title));
                texts.add(QStringLiteral("banner"), std::string_view(banner.message));
                for (const SettingsBanner::Button& button : banner.buttons)
                    texts.add(QStringLiteral("banner"), std::string_view(button.title));
            }
            texts.add(QStringLiteral("live scroll"), std::string_view(liveScrollStatus(p, paused, status).text));
        }
        texts.add(QStringLiteral("device"), hardwareAccessNotice(p));
    }
    for (int raw : {0, 1, 2, 3, 99}) {
        const auto login = static_cast<platform::LoginItemStatus>(raw);
        for (bool hasTray : {false, true}) {
            const ClosingPage page = closingPage(grants.front(), login, std::string("refused"), hasTray);
            texts.add(QStringLiteral("closing page"), std::string_view(page.statusLine));
            texts.add(QStringLiteral("closing page"), std::string_view(page.whereItLives));
            texts.add(QStringLiteral("closing page"), std::string_view(page.loginSentence));
            texts.add(QStringLiteral("closing page"), page.refusal);
            texts.add(QStringLiteral("closing page"), page.comeBackLater);
        }
    }
    texts.add(QStringLiteral("preview"), std::string_view(previewCaption(std::nullopt)));
    for (ActivationChoice choice : allActivationChoices)
        texts.add(QStringLiteral("activation"), title(choice));
    for (ActionKind kind : allActionKinds) {
        texts.add(QStringLiteral("action kind"), title(kind));
        texts.add(QStringLiteral("action kind"), explanation(kind));
    }
    for (const Action& action : {Action::keyStroke(40, ModifierFlags::of({ModifierFlags::command, ModifierFlags::shift})),
                                 Action::hold(49, ModifierFlags::option), Action::runShortcut(""),
                                 Action::runShortcut("gimp --new"), Action::launchApp("")})
        texts.add(QStringLiteral("summary"), std::string_view(actionSummary(action, {}, "")));
    for (const KeyCatalog::Key& key : KeyCatalog::all()) texts.add(QStringLiteral("key"), std::string_view(key.name));
    for (std::int64_t button = 0; button < 12; ++button)
        texts.add(QStringLiteral("button note"), std::string_view(ButtonBindingEditing::buttonNote(button)));
    for (std::string_view text :
         {ActionEditing::bundleIDTitle, ActionEditing::bundleIDExplanation, ActionEditing::shortcutLabel,
          ActionEditing::shortcutFieldTitle, ActionEditing::shortcutExplanation, ButtonBindingEditing::untouchedMessage,
          ButtonBindingEditing::modifierVersionsNote, KeyRecorderModel::recordingExplanation,
          updatesPage::packageManagerNote, updatesPage::sourceBuildNote, updatesPage::sourceBuildShortNote})
        texts.add(QStringLiteral("constant"), text);

    PointerTuningStatus tuning;
    for (const PointerDesktop desktop : {PointerDesktop::xServer, PointerDesktop::sway, PointerDesktop::kwin,
                                         PointerDesktop::gnome, PointerDesktop::system, PointerDesktop::none}) {
        texts.add(QStringLiteral("pointer"), hardwareBeliefs(tuning, std::nullopt, 1600, desktop).explanation);
        texts.add(QStringLiteral("pointer"), std::string_view(tuningSwitch(tuning, desktop).title));
        for (const std::string& text : tuningExplanations(desktop)) texts.add(QStringLiteral("pointer"), std::string_view(text));
        texts.add(QStringLiteral("pointer"), std::string_view(curveFooter(tuning, desktop)));
    }
    texts.add(QStringLiteral("pointer"), std::string_view(hardwareIntro()));
    tuning.isEnabled = true;
    tuning.lastError = "refused";
    tuning.restoreFailed = true;
    texts.add(QStringLiteral("pointer"), correctionFailure(tuning));
    tuning.restoreFailed = false;
    texts.add(QStringLiteral("pointer"), correctionFailure(tuning));
    texts.add(QStringLiteral("device"), compatibilityNotice({"IOHIDEventGetSenderID"}));
    EngineStatus cutOff = status;
    cutOff.tap.disabledByTimeout = 2;
    texts.add(QStringLiteral("device"), engineActivityFacts(cutOff, false));

    EXPECT_GT(texts.size(), 300u);
    EXPECT_EQ(texts.offending(), std::vector<std::string>{});
}

} // namespace
} // namespace ravolet
