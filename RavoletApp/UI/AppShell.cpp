#include "RavoletApp/UI/AppShell.hpp"

#include <utility>

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QKeySequence>
#include <QMenu>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTimer>

#include "Platform/Linux/LinuxApplicationActivator.hpp"
#include "Platform/Linux/SingleInstance.hpp"
#include "RavoletApp/UI/ModelObserver.hpp"
#include "RavoletApp/UI/QtText.hpp"
#include "RavoletApp/UI/SettingsWindow.hpp"
#include "RavoletApp/UI/TrayIcon.hpp"
#include "RavoletApp/ViewModels/MenuContent.hpp"

namespace ravolet {

AppShell::AppShell(std::shared_ptr<AppModel> model, Options options, QObject* parent)
    : QObject(parent), model_(std::move(model)), options_(options), menu_(new QMenu()) {
    model_->setHasTray(options_.showsTrayIcon);
    if (options_.showsTrayIcon) {
        tray_ = new QSystemTrayIcon(this);
        tray_->setContextMenu(menu_);
        // A plain click drops the menu down too, as the right button does.
        connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger) menu_->popup(QCursor::pos());
        });
    }
    // The menu reads these; the updater's flag is read again each time it opens.
    const auto changed = [this](const auto&) { scheduleMenuRebuild(); };
    observeWhileAlive(this, model_->permissions(), changed);
    modelConnections(this).keep(model_->preferences().isPausedByUser.observe(changed));
    observeWhileAlive(this, model_->status(), changed);
    observeWhileAlive(this, model_->launchAtLogin().status(), changed);
    observeWhileAlive(this, model_->menuBar(), [this](const MenuBarState&) { refreshTrayIcon(); });
    connect(menu_, &QMenu::aboutToShow, this, &AppShell::rebuildMenu);
    rebuildMenu();
    refreshTrayIcon();

    // However the loop is ended (the session closing, a signal, the menu), the
    // model stops first; after quit() this second stop does nothing.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        stopAnsweringLaterCopies();
        model_->stop();
    });

    // The updater brings Ravolet to the front before it shows anything.
    if (auto activator =
            std::dynamic_pointer_cast<platform::LinuxApplicationActivator>(model_->dependencies().activator)) {
        activator->setHandler([this] { activate(); });
    }
}

AppShell::~AppShell() {
    if (auto activator =
            std::dynamic_pointer_cast<platform::LinuxApplicationActivator>(model_->dependencies().activator)) {
        activator->setHandler({});
    }
    // The icon goes before the menu it points to.
    delete tray_;
    delete menu_;
}

void AppShell::launch() {
    // Started after its stop, the model would run on past the end of the loop.
    if (quitting_) return;
    model_->start();
    if (tray_) tray_->show();
    if (!tray_) showSettings();
    if (!model_->preferences().hasCompletedOnboarding.value()) showSetUp();
}

void AppShell::quit() {
    quitting_ = true;
    // Before the save, which may take a while: a copy started meanwhile must
    // not take this one for running on.
    stopAnsweringLaterCopies();
    model_->stop();
    QCoreApplication::quit();
}

void AppShell::showSettings() {
    if (!settings_) {
        settings_ = std::make_unique<SettingsWindow>(model_, [this] { showSetUp(); });
        if (!tray_) connect(settings_.get(), &SettingsWindow::closed, this, &AppShell::quit);
    }
    settings_->show();
    settings_->raise();
    settings_->activateWindow();
}

void AppShell::showSetUp() { setUp_.show(model_); }

void AppShell::activate() {
    for (QWidget* window : {static_cast<QWidget*>(settings_.get()), static_cast<QWidget*>(setUp_.window())}) {
        if (window && window->isVisible()) {
            window->raise();
            window->activateWindow();
        }
    }
}

void AppShell::answerLaterCopies(platform::SingleInstance& instance) {
    if (instance.callDescriptor() < 0) return;
    instance_ = &instance;
    calls_ = new QSocketNotifier(instance.callDescriptor(), QSocketNotifier::Read, this);
    connect(calls_, &QSocketNotifier::activated, this, [this] {
        if (instance_->takeCalls() > 0) showSettings();
    });
}

void AppShell::stopAnsweringLaterCopies() {
    if (!instance_) return;
    // The notifier goes before the descriptor it watches.
    delete calls_;
    calls_ = nullptr;
    std::exchange(instance_, nullptr)->stopAnswering();
}

void AppShell::scheduleMenuRebuild() {
    // Never inside the menu's own action: rebuilding deletes the actions.
    if (menuRebuildPending_) return;
    menuRebuildPending_ = true;
    QTimer::singleShot(0, this, [this] {
        if (menuRebuildPending_) rebuildMenu();
    });
}

void AppShell::rebuildMenu() {
    menuRebuildPending_ = false;
    const MenuInputs inputs{
        .permissions = model_->permissions().value(),
        .isPausedByUser = model_->preferences().isPausedByUser.value(),
        .status = model_->status().value(),
        .loginItem = model_->launchAtLogin().status().value(),
        .canCheckForUpdates = model_->updater().updater().canCheckForUpdates(),
    };
    menu_->clear();
    for (const MenuItem& item : menuItems(inputs)) {
        if (item.kind == MenuItem::Kind::separator) {
            menu_->addSeparator();
            continue;
        }
        QAction* action = menu_->addAction(qtText(item.title));
        action->setEnabled(item.enabled);
        action->setCheckable(item.kind == MenuItem::Kind::toggle);
        action->setChecked(item.checked);
        if (!item.shortcut.empty()) action->setShortcut(QKeySequence(qtText(item.shortcut)));
        switch (item.role) {
        case MenuItem::Role::pause:
            connect(action, &QAction::triggered, this, [this](bool on) { model_->setPausedByUser(on); });
            break;
        case MenuItem::Role::startAtLogin:
            connect(action, &QAction::triggered, this, [this](bool on) {
                model_->launchAtLogin().setEnabled(on);
                // The check follows the status read back, which may be unchanged.
                scheduleMenuRebuild();
            });
            break;
        case MenuItem::Role::finishSetUp: connect(action, &QAction::triggered, this, &AppShell::showSetUp); break;
        case MenuItem::Role::settings: connect(action, &QAction::triggered, this, &AppShell::showSettings); break;
        case MenuItem::Role::checkForUpdates:
            connect(action, &QAction::triggered, this, [this] { model_->updater().checkForUpdates(); });
            break;
        case MenuItem::Role::quit:
            connect(action, &QAction::triggered, this, &AppShell::quit, Qt::QueuedConnection);
            break;
        default: break;
        }
    }
}

void AppShell::refreshTrayIcon() {
    if (!tray_) return;
    const MenuBarState& state = model_->menuBar().value();
    tray_->setIcon(outlinedTrayIcon(qtText(state.symbol)));
    tray_->setToolTip(qtText(trayToolTip(state)));
}

} // namespace ravolet
