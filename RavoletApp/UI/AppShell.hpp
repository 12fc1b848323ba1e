#pragma once

#include <QObject>

#include <functional>
#include <memory>

#include "RavoletApp/Model/AppModel.hpp"
#include "RavoletApp/UI/OnboardingWindow.hpp"
#include "RavoletApp/ViewModels/SettingsBanners.hpp"
#include "RavoletApp/ViewModels/ShellRules.hpp"

class QMenu;
class QSocketNotifier;
class QSystemTrayIcon;

namespace ravolet::platform {
class SingleInstance;
}

namespace ravolet {

class SettingsWindow;

// For a copy started while another runs and cannot be reached: the note, in
// a window of its own until the user closes it. Needs the application object.
void showUnreachableCopyNote(const ShellRules::Note& note);

// The running application around the model: the tray icon with its menu, the
// settings window and the set-up window. It starts the model when launched
// and stops it before the event loop ends, however the program is asked to
// quit. Closing a window never quits: the mouse keeps working. Without a tray
// to sit in, the settings window opens at launch (but not at login), it offers
// a Quit command, and closing it the first time says that Ravolet still runs;
// starting Ravolet again brings the window back.
class AppShell : public QObject {
    Q_OBJECT
public:
    struct Options {
        // Whether the desktop has a tray for the icon now; asked at launch and
        // again whenever a window opens or closes, since a panel may come up
        // after Ravolet. Standard: Qt's answer.
        std::function<bool()> hasTray;
        // The desktop started Ravolet at login (its autostart entry).
        bool startedAtLogin = false;
        // Called once a quit has stopped the model: what it owed is saved and
        // put back, and only letting go of the mouse and the end are left.
        // Standard: nothing.
        std::function<void()> stopped = {};
    };

    AppShell(std::shared_ptr<AppModel> model, Options options, QObject* parent = nullptr);
    ~AppShell() override;

    // Once the event loop runs: starts the model and shows the tray icon,
    // then opens the windows ShellRules::windowsAtLaunch names. Does nothing
    // once quit: a quit signal can be taken before the launch.
    void launch();
    // The user's Quit: stops the model (saving at once), then ends the event
    // loop. With changes that cannot be saved as things stand, first asks
    // whether to keep running or quit anyway, and keeps running if so.
    void quit();
    // Ending without asking (a signal, the session closing): as quit(), and
    // changes the quit could not save are written beside the settings file
    // (else to standard error), which the next start names.
    void endNow();
    // As endNow(), from the exit handler of a process that Qt ends on losing
    // its display: there neither a window nor the event loop may be touched.
    void endAtExit();
    void showSettings();
    void showSetUp();
    // Raises whichever of the program's windows are open.
    void activate();
    // From now on, a later copy of the program started while this one runs
    // brings up the settings window here, until this one begins to quit.
    // The instance must outlive the shell.
    void answerLaterCopies(platform::SingleInstance& instance);

    AppModel& model() const { return *model_; }
    QMenu* menu() const { return menu_; }
    // Shown from the launch on, whether or not a tray holds it yet.
    QSystemTrayIcon* trayIcon() const { return tray_; }
    // The note said the first time the settings window is closed with no
    // tray; none until then.
    QWidget* keepsRunningNote() const { return note_; }
    // None until first opened.
    SettingsWindow* settingsWindow() const { return settings_.get(); }
    OnboardingPresenter& setUp() { return setUp_; }

    // Fills the menu from the model's state now (it is otherwise refilled
    // on the next turn of the loop after a change).
    void rebuildMenu();

private:
    void scheduleMenuRebuild();
    // The first step of every quit: a later copy started from now on waits
    // for this one to end, and then runs.
    void stopAnsweringLaterCopies();
    // Once: stops answering, stops the model, keeps what it could not save
    // unless the user let that go, says it has stopped, and ends the event
    // loop. From then on the shell asks the display nothing of its own.
    void finish(bool keepsUnsavedChanges, bool endsLoop = true);
    bool asksToQuitAnyway(const QuitPrompt& prompt);
    void keepUnsavedChanges();
    void refreshTrayIcon();
    // Asks again whether there is a tray, and tells the model.
    bool lookForTray();
    void settingsClosed();

    const std::shared_ptr<AppModel> model_;
    Options options_;
    QMenu* menu_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    std::unique_ptr<SettingsWindow> settings_;
    QWidget* note_ = nullptr;
    OnboardingPresenter setUp_;
    platform::SingleInstance* instance_ = nullptr;
    QSocketNotifier* calls_ = nullptr;
    bool menuRebuildPending_ = false;
    bool quitting_ = false;
};

} // namespace ravolet
