// The ravolet program: a tray application over the application model.

#include <QApplication>
#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <pthread.h>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <sys/socket.h>
#include <unistd.h>

#include "Platform/Linux/LinuxFileSystem.hpp"
#include "Platform/Linux/SingleInstance.hpp"
#include "Platform/Thread.hpp"
#include "RavoletApp/Main/Guard.hpp"
#include "RavoletApp/Model/AppModel.hpp"
#include "RavoletApp/Model/BundleInfo.hpp"
#include "RavoletApp/Model/LinuxProgram.hpp"
#include "RavoletApp/Model/SimulatedMachine.hpp"
#include "RavoletApp/UI/AppShell.hpp"
#include "RavoletApp/UI/QtScheduler.hpp"
#include "RavoletApp/ViewModels/MenuContent.hpp"
#include "RavoletApp/ViewModels/ShellRules.hpp"
#include "Support/Observable.hpp"

namespace {

constexpr std::string_view usage =
    "Usage: ravolet [--simulated-mouse] [--at-login]\n"
    "       ravolet --version\n"
    "  --simulated-mouse  run on a simulated event system with a simulated G502 X attached\n"
    "  --at-login         started by the desktop at login: open no window where there is no tray\n"
    "  --version          print the version (as the Updates page shows it) and exit\n";

// SIGTERM, SIGINT and SIGHUP (the terminal Ravolet was started from closing,
// or the session ending) end the program as the menu's Quit does, without
// asking: changes that could not be saved are written beside the settings.
// The handler only writes a byte; the event loop reads it and does the work.
// The signals are held back from the first instruction of main() until the
// handler is there, so one that comes early takes the same path, once the
// loop runs.
int signalPipe[2] = {-1, -1};

sigset_t quitSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

void onQuitSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

bool installQuitSignals() {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0) return false;
    struct sigaction action {};
    action.sa_handler = &onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        if (::sigaction(signal, &action, nullptr) != 0) return false;
    // Any signal that came before is delivered now, to the handler. Threads
    // started earlier keep them blocked, so this thread takes them.
    const sigset_t signals = quitSignals();
    return ::pthread_sigmask(SIG_UNBLOCK, &signals, nullptr) == 0;
}

// Qt would abort with a core dump when it cannot reach a display.
bool hasDisplay() {
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && (std::string_view(platform).starts_with("offscreen") || std::string_view(platform).starts_with("minimal")))
        return true;
    return set("DISPLAY") || set("WAYLAND_DISPLAY");
}

// Once a quit has saved and put back what it owes, what is left (letting go
// of the mouse, closing the windows, Qt's teardown of its display
// connection) may each wait on a display that no longer answers (an X server
// or a compositor stopped) for as long as it is stopped, with the process,
// its guard and its single-instance lock left behind. So the end has a
// limit: once it has passed, the process ends where it stands, with the code
// it would have ended with. Nothing is written after the model's stop but
// the wheel's mode, which the guard puts back as after any end. Once the
// application object and its display connection are gone, nothing is left
// that waits on the display, and the rest of the end has no limit.
constexpr auto lettingGoLimit = std::chrono::milliseconds(1500);
constexpr auto teardownLimit = std::chrono::milliseconds(500);
std::atomic<int> endingCode{0};
std::atomic<bool> displayReleased{false};

// Ends the process `limit` from now unless it has ended or let go of the
// display by then. A thread of its own, outside the program's threads: it
// touches nothing that ending the process would destroy, and nobody waits
// for it.
void endWithin(std::chrono::milliseconds limit) {
    timespec deadline{};
    ::clock_gettime(CLOCK_MONOTONIC, &deadline);
    const auto nanoseconds = deadline.tv_nsec + std::chrono::nanoseconds(limit).count();
    deadline.tv_sec += static_cast<time_t>(nanoseconds / 1'000'000'000);
    deadline.tv_nsec = static_cast<long>(nanoseconds % 1'000'000'000);
    try {
        std::thread([deadline] {
            while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
            }
            if (displayReleased.load()) return;
            constexpr std::string_view said = "ravolet: the display does not let Ravolet end; it ends without it\n";
            [[maybe_unused]] const auto written = ::write(STDERR_FILENO, said.data(), said.size());
            ::_exit(endingCode.load());
        }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: the end runs without a limit, as it would anyway.
    }
}

// Qt ends the process itself, with exit(), when it loses the display (the X
// server ending with the session). The shell then ends as a signal ends it,
// from the exit handler, before the threads finish and without the windows:
// the last change is saved and the desktop's setting put back.
ravolet::AppShell* endingShell = nullptr;

void endOnExit() {
    // Qt's own code for a display lost.
    endingCode = 1;
    if (endingShell) std::exchange(endingShell, nullptr)->endAtExit();
}

int run(int argc, char** argv, bool simulatedMouse, bool atLogin, ravolet::platform::SingleInstance& instance) {
    QApplication application(argc, argv);
    // Qt has taken its own options (-platform, ...) out; anything else is unknown.
    for (const QString& argument : QApplication::arguments().mid(1)) {
        if (argument != QStringLiteral("--simulated-mouse") && argument != QStringLiteral("--at-login")) {
            std::fprintf(stderr, "ravolet: unknown option %s\n%s", qPrintable(argument), usage.data());
            return 2;
        }
    }
    QApplication::setApplicationName(QStringLiteral("Ravolet"));
    QApplication::setDesktopFileName(QStringLiteral("ravolet"));
    // Ravolet keeps working when its windows close, tray or no tray.
    QApplication::setQuitOnLastWindowClosed(false);

    auto scheduler = std::make_shared<ravolet::QtScheduler>();
    std::shared_ptr<ravolet::SimulatedMachine> machine;
    std::shared_ptr<ravolet::AppModel> model;
    ravolet::ObserverConnection wheelResolution;
    if (simulatedMouse) {
        machine = ravolet::SimulatedMachine::make(scheduler, ravolet::SimulatedMachine::Storage::thisMachine);
        model = machine->makeModel();
    } else {
        ravolet::LinuxProgram program = ravolet::makeLinuxProgram(scheduler);
        // Puts the mouse and the desktop's pointer setting back should this process end without doing so.
        if (!ravolet::guard::start())
            std::fputs("ravolet: could not start the process that puts the mouse and the desktop's pointer setting "
                       "back after a crash\n",
                       stderr);
        if (program.outputError)
            std::fprintf(stderr, "ravolet: no virtual pointer and keyboard yet (%s)\n", program.outputError->c_str());
        model = program.model;
        wheelResolution = std::move(program.wheelResolution);
    }

    // The state as the tray shows it, for whoever reads the program's log.
    const auto report = [](const ravolet::MenuBarState& state) {
        std::fprintf(stderr, "%s\n", ravolet::trayToolTip(state).c_str());
    };
    report(model->menuBar().value());
    ravolet::ObserverConnection reporting = model->menuBar().observe(report);

    // Registered after the threads' own exit handler, so it runs before it.
    std::atexit(&endOnExit);
    int exitCode = 0;
    {
        ravolet::AppShell shell(model, {.hasTray = {},
                                        .startedAtLogin = atLogin,
                                        .stopped = [] { endWithin(lettingGoLimit + teardownLimit); }});
        QSocketNotifier quitSignals(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(&quitSignals, &QSocketNotifier::activated, &shell, [&shell] {
            char bytes[16];
            while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
            }
            shell.endNow();
        });
        shell.answerLaterCopies(instance);
        QTimer::singleShot(0, &shell, [&shell] { shell.launch(); });
        endingShell = &shell;
        exitCode = QApplication::exec();
        model->stop();
        // The mouse goes back as Ravolet found it (its wheel's mode) before
        // the process ends. With the desktop's setting put back within 3 s,
        // a quit ends within 5 s whatever does not answer.
        const auto letGo = std::make_shared<bool>(false);
        model->deviceMonitor().whenLetGo([letGo] { *letGo = true; });
        for (QDeadlineTimer limit(lettingGoLimit.count()); !*letGo && !limit.hasExpired();)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        endingShell = nullptr;
        // Everything owed is done: the windows and the display connection
        // go next, and are not waited on for long.
        endWithin(teardownLimit);
    }
    reporting.disconnect();
    wheelResolution.disconnect();
    model.reset();
    machine.reset();
    scheduler->discardPending();
    return exitCode;
}

} // namespace

int main(int argc, char** argv) {
    // The program's guard: no display, no window, no settings of its own.
    if (argc == 3 && argv[1] == ravolet::guard::option) {
        const int status = ravolet::guard::run(argv[2]);
        ravolet::platform::finishThreads();
        return status;
    }
    const sigset_t signals = quitSignals();
    ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    bool simulatedMouse = false;
    bool atLogin = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--simulated-mouse") {
            simulatedMouse = true;
        } else if (argument == "--at-login") {
            atLogin = true;
        } else if (argument == "--help" || argument == "-h") {
            std::fputs(usage.data(), stdout);
            return 0;
        } else if (argument == "--version") {
            std::printf("Ravolet %s\n", ravolet::BundleInfo::main().versionDescription().c_str());
            return 0;
        }
    }
    if (!hasDisplay()) {
        std::fputs("ravolet: there is no display to show the tray icon and windows on (neither DISPLAY nor "
                   "WAYLAND_DISPLAY is set).\n",
                   stderr);
        return 1;
    }
    if (!installQuitSignals()) {
        std::fprintf(stderr, "ravolet: cannot watch for quit signals: %s\n", std::strerror(errno));
        return 1;
    }
    // One copy per settings folder: a later one brings the first forward.
    const auto settingsFolder = ravolet::platform::LinuxFileSystem::shared()->settingsFolder();
    const auto instance = ravolet::platform::SingleInstance::claim(settingsFolder);
    if (instance->role() == ravolet::platform::SingleInstance::Role::second) {
        // The copy there may be quitting: then this one waits for it to end, and runs.
        const auto called = instance->callFirst();
        if (!called) {
            // Started from a menu, nobody reads standard error: said in a window too.
            const auto note = ravolet::ShellRules::noteOnUnreachableCopy(settingsFolder.string(), called.error());
            std::fprintf(stderr, "ravolet: %s. %s\n", note.title.c_str(), note.message.c_str());
            QApplication application(argc, argv);
            QApplication::setApplicationName(QStringLiteral("Ravolet"));
            ravolet::showUnreachableCopyNote(note);
            return 1;
        }
        if (*called == ravolet::platform::SingleInstance::Call::answered) {
            std::fputs("ravolet: Ravolet is already running; its settings window comes forward.\n", stderr);
            return 0;
        }
    }
    const int exitCode = run(argc, argv, simulatedMouse, atLogin, *instance);
    displayReleased = true;
    ravolet::platform::finishThreads();
    return exitCode;
}
