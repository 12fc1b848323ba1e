#pragma once

#include <QObject>

#include <memory>

#include "RavoletApp/Model/AppModel.hpp"
#include "RavoletApp/UI/OnboardingWindow.hpp"

class QMenu;
class QSocketNotifier;
class QSystemTrayIcon;

namespace ravolet::platform {
class SingleInstance;
}

namespace ravolet {

class SettingsWindow;

// The running application around the model: the tray icon with its menu, the
// settings window and the set-up window. It starts the model when launched
// and stops it before the event loop ends, however the program is asked to
// quit. Without a tray to sit in, the settings window opens at launch and
// closing it quits, so the program never runs unseen.
class AppShell : public QObject {
    Q_OBJECT
public:
    struct Options {
        // Whether the desktop has a tray for the icon.
        bool showsTrayIcon = true;
    };

    AppShell(std::shared_ptr<AppModel> model, Options options, QObject* parent = nullptr);
    ~AppShell() override;

    // Once the event loop runs: starts the model, then opens the set-up
    // window on a first run (and the settings window without a tray).
    // Does nothing once quit: a quit signal can be taken before the launch.
    void launch();
    // Stops the model (saving at once), then ends the event loop.
    void quit();
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
    // None where the desktop has no tray.
    QSystemTrayIcon* trayIcon() const { return tray_; }
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
    void refreshTrayIcon();

    const std::shared_ptr<AppModel> model_;
    const Options options_;
    QMenu* menu_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    std::unique_ptr<SettingsWindow> settings_;
    OnboardingPresenter setUp_;
    platform::SingleInstance* instance_ = nullptr;
    QSocketNotifier* calls_ = nullptr;
    bool menuRebuildPending_ = false;
    bool quitting_ = false;
};

} // namespace ravolet
