#include "RavoletApp/UI/AppShell.hpp"

#include <cstdio>
#include <utility>

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QKeySequence>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTimer>

#include "Platform/Linux/LinuxApplicationActivator.hpp"
#include "Platform/Linux/SingleInstance.hpp"
#include "RavoletApp/UI/ModelObserver.hpp"
#include "RavoletApp/UI/QtText.hpp"
#include "RavoletApp/UI/SettingsWindow.hpp"
#include "RavoletApp/UI/Style.hpp"
#include "RavoletApp/UI/SymbolIcon.hpp"
#include "RavoletApp/UI/TrayIcon.hpp"
#include "RavoletApp/ViewModels/MenuContent.hpp"
#include "RavoletApp/ViewModels/ShellRules.hpp"

namespace ravolet {

namespace {

// A small window with the note's icon, title and message and an OK button;
// the message wraps at a comfortable reading width.
QDialog* noteWindow(const ShellRules::Note& note, const QString& name = QStringLiteral("keeps-running-note"),
                    const QString& symbol = QStringLiteral("info.circle.fill"), SystemColor tint = SystemColor::accent) {
    auto* window = new QDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setObjectName(name);
    window->setWindowTitle(QStringLiteral("Ravolet"));
    auto* row = new QHBoxLayout(window);
    row->setContentsMargins(20, 20, 20, 16);
    row->setSpacing(14);
    auto* icon = new QLabel(window);
    icon->setPixmap(symbolPixmap(symbol, 32, systemColor(tint, window->palette()), window->devicePixelRatioF()));
    icon->setAccessibleName(QString());
    row->addWidget(icon, 0, Qt::AlignTop);
    auto* column = new QVBoxLayout();
    column->setSpacing(8);
    auto* title = new QLabel(qtText(note.title), window);
    applyTextStyle(title, TextStyle::headline);
    auto* message = new QLabel(qtText(note.message), window);
    message->setWordWrap(true);
    message->setFixedWidth(fontScaled(380, message->font()));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, window);
    QObject::connect(buttons, &QDialogButtonBox::accepted, window, &QDialog::accept);
    column->addWidget(title);
    column->addWidget(message);
    column->addSpacing(6);
    column->addWidget(buttons);
    row->addLayout(column);
    window->setFixedSize(window->sizeHint());
    return window;
}

} // namespace

void showUnreachableCopyNote(const ShellRules::Note& note) {
    QDialog* window = noteWindow(note, QStringLiteral("unreachable-copy-note"), QStringLiteral("exclamationmark.triangle.fill"),
                                 SystemColor::orange);
    window->exec();
}

AppShell::AppShell(std::shared_ptr<AppModel> model, Options options, QObject* parent)
    : QObject(parent), model_(std::move(model)), options_(std::move(options)), menu_(new QMenu()) {
    if (!options_.hasTray) options_.hasTray = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    lookForTray();
    // Made and shown even with no tray: Qt docks it when one comes up.
    tray_ = new QSystemTrayIcon(this);
    tray_->setContextMenu(menu_);
    // A plain click drops the menu down too, as the right button does.
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) menu_->popup(QCursor::pos());
    });
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
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { finish(true); });

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
    if (const auto& aside = model_->storageNotices().value().unsavedChangesAt) {
        std::fprintf(stderr, "ravolet: the changes Ravolet could not save when it was last ended are in %s\n",
                     aside->c_str());
    }
    tray_->show();
    const ShellRules::LaunchWindows windows = ShellRules::windowsAtLaunch(
        lookForTray(), options_.startedAtLogin, model_->preferences().hasCompletedOnboarding.value());
    if (windows.settings) showSettings();
    if (windows.setUp) showSetUp();
}

bool AppShell::lookForTray() {
    // Asking is a round trip to the display, which a quit never waits on.
    if (quitting_) return model_->hasTray().value();
    const bool hasTray = options_.hasTray();
    model_->setHasTray(hasTray);
    return hasTray;
}

void AppShell::settingsClosed() {
    // A quit closes the windows too (Qt closes them as its loop ends): that
    // is no close of the user's, and the note stays for the first real one.
    if (quitting_) return;
    const auto note =
        ShellRules::noteOnClosingSettings(lookForTray(), model_->preferences().keepsRunningNoteShown.value());
    if (!note) return;
    model_->preferences().keepsRunningNoteShown.set(true);
    auto* box = noteWindow(*note);
    note_ = box;
    connect(box, &QObject::destroyed, this, [this] { note_ = nullptr; });
    box->show();
}

void AppShell::quit() {
    if (quitting_) return;
    const auto prompt = quitPrompt(model_->hasUnsavedChanges(), model_->store().problem().value(),
                                   model_->store().lastSaveError().value());
    if (!prompt) return finish(true);
    // Kept running, nothing changes; quitting anyway, the user let the changes go.
    if (asksToQuitAnyway(*prompt)) finish(false);
}

void AppShell::endNow() { finish(true); }

void AppShell::endAtExit() { finish(true, false); }

void AppShell::finish(bool keepsUnsavedChanges, bool endsLoop) {
    if (quitting_) return;
    quitting_ = true;
    // Before the save, which may take a while: a copy started meanwhile must
    // not take this one for running on.
    stopAnsweringLaterCopies();
    model_->stop();
    if (keepsUnsavedChanges && model_->hasUnsavedChanges()) keepUnsavedChanges();
    if (options_.stopped) options_.stopped();
    if (endsLoop) QCoreApplication::quit();
}

bool AppShell::asksToQuitAnyway(const QuitPrompt& prompt) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Ravolet"), qtText(prompt.text), QMessageBox::NoButton,
                    settings_ && settings_->isVisible() ? settings_.get() : nullptr);
    box.setInformativeText(qtText(prompt.detail));
    QPushButton* keep = box.addButton(qtText(prompt.keepRunning), QMessageBox::RejectRole);
    QPushButton* leave = box.addButton(qtText(prompt.quitAnyway), QMessageBox::DestructiveRole);
    box.setDefaultButton(keep);
    box.setEscapeButton(keep);
    box.exec();
    return box.clickedButton() == leave;
}

void AppShell::keepUnsavedChanges() {
    const auto aside = model_->keepUnsavedChanges();
    if (aside) {
        std::fprintf(stderr, "ravolet: your latest changes could not be saved; they are kept in %s\n", aside->c_str());
        return;
    }
    // Nowhere on disk takes them: the document itself, for whoever reads the program's log.
    const auto bytes = model_->config().value().encoded();
    std::fprintf(stderr,
                 "ravolet: your latest changes could not be saved, nor kept beside your settings (%s); here they "
                 "are:\n%s\n",
                 aside.error().c_str(), bytes ? bytes->c_str() : bytes.error().description().c_str());
}

void AppShell::showSettings() {
    lookForTray();
    if (!settings_) {
        settings_ = std::make_unique<SettingsWindow>(model_, [this] { showSetUp(); });
        // Once the window has gone, not from inside its closing.
        connect(settings_.get(), &SettingsWindow::closed, this, &AppShell::settingsClosed, Qt::QueuedConnection);
        connect(settings_.get(), &SettingsWindow::quitRequested, this, &AppShell::quit, Qt::QueuedConnection);
    }
    settings_->show();
    settings_->raise();
    settings_->activateWindow();
}

void AppShell::showSetUp() {
    lookForTray();
    setUp_.show(model_);
}

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
        .updatesItself = model_->updater().updater().updatesItself(),
        .fromPackage = model_->updater().bundle().fromPackage,
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
    const MenuBarState& state = model_->menuBar().value();
    tray_->setIcon(outlinedTrayIcon(qtText(state.symbol)));
    tray_->setToolTip(qtText(trayToolTip(state)));
}

} // namespace ravolet
