#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>

#include <csignal>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>
#include <QProcess>
#include <QTemporaryDir>

namespace ravolet {
namespace {

// The program as a user starts it, with its settings in a folder of the test's own.
struct ProgramRun {
    QTemporaryDir home;
    QProcess process;
    QByteArray log;

    explicit ProgramRun(const std::function<void(QProcessEnvironment&)>& environment) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        environment(env);
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
    }
    // Reads the program's log until it holds `text` or the program ends.
    bool waitFor(const QByteArray& text) {
        for (int i = 0; i < 120 && !log.contains(text); ++i) {
            if (process.state() == QProcess::NotRunning) break;
            process.waitForReadyRead(500);
            log += process.readAll();
        }
        return log.contains(text);
    }
};

TEST(Program, WithTheSimulatedMouseItRunsAndQuitsCleanlyOnSIGTERMWritingNoSettingsItDidNotChange) {
    // Compact, where Ravolet writes its settings pretty-printed.
    const QByteArray byHand = QByteArrayLiteral(
        "{\"isEnabled\":true,\"profiles\":[],\"ruleSet\":{\"defaultProfileID\":\"default\",\"rules\":[]},"
        "\"schemaVersion\":1}\n");
    for (const bool hasFile : {false, true}) {
        SCOPED_TRACE(hasFile ? "a hand-formatted file" : "no file");
        ProgramRun run([](QProcessEnvironment& env) { env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen")); });
        const QString file = run.home.filePath(QStringLiteral("config/ravolet/config.json"));
        if (hasFile) {
            ASSERT_TRUE(QDir().mkpath(QFileInfo(file).path()));
            QFile put(file);
            ASSERT_TRUE(put.open(QIODevice::WriteOnly) && put.write(byHand) == byHand.size());
        }
        run.process.start(QStringLiteral(RAVOLET_PROGRAM), {QStringLiteral("--simulated-mouse")});
        ASSERT_TRUE(run.process.waitForStarted());
        EXPECT_TRUE(run.waitFor(QByteArrayLiteral("Ravolet — Active"))) << run.log.toStdString();
        run.process.terminate(); // SIGTERM
        ASSERT_TRUE(run.process.waitForFinished(30'000));
        run.log += run.process.readAll();
        EXPECT_EQ(run.process.exitStatus(), QProcess::NormalExit) << run.log.toStdString();
        EXPECT_EQ(run.process.exitCode(), 0) << run.log.toStdString();
        QFile after(file);
        EXPECT_EQ(after.exists(), hasFile);
        if (hasFile && after.open(QIODevice::ReadOnly)) {
            EXPECT_EQ(after.readAll(), byHand);
        }
    }
}

TEST(Program, WithoutADisplayItSaysSoAndFails) {
    ProgramRun run([](QProcessEnvironment& env) {
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(QString::fromLatin1(name));
    });
    run.process.start(QStringLiteral(RAVOLET_PROGRAM), {QStringLiteral("--simulated-mouse")});
    ASSERT_TRUE(run.process.waitForFinished(30'000));
    run.log += run.process.readAll();
    EXPECT_EQ(run.process.exitCode(), 1);
    EXPECT_TRUE(run.log.contains("there is no display")) << run.log.toStdString();
    EXPECT_FALSE(QFile::exists(run.home.filePath(QStringLiteral("config/ravolet/config.json"))));
}

QProcessEnvironment offscreen(QProcessEnvironment& env) {
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return env;
}

// Ends a program that is still running, as a user's SIGTERM does, and tells whether it ended well.
::testing::AssertionResult quitsCleanly(ProgramRun& run) {
    run.process.terminate();
    if (!run.process.waitForFinished(30'000)) return ::testing::AssertionFailure() << "still running";
    run.log += run.process.readAll();
    if (run.process.exitStatus() != QProcess::NormalExit || run.process.exitCode() != 0)
        return ::testing::AssertionFailure() << "ended badly: " << run.log.toStdString();
    return ::testing::AssertionSuccess();
}

TEST(Program, ALaterCopyCallsTheFirstAndEndsAtOnce) {
    ProgramRun first([](QProcessEnvironment& env) { offscreen(env); });
    first.process.start(QStringLiteral(RAVOLET_PROGRAM), {QStringLiteral("--simulated-mouse")});
    ASSERT_TRUE(first.waitFor(QByteArrayLiteral("Ravolet — Active"))) << first.log.toStdString();

    QProcess later;
    later.setProcessEnvironment(first.process.processEnvironment());
    later.setProcessChannelMode(QProcess::MergedChannels);
    later.start(QStringLiteral(RAVOLET_PROGRAM), {QStringLiteral("--simulated-mouse")});
    ASSERT_TRUE(later.waitForFinished(30'000));
    const QByteArray said = later.readAll();
    EXPECT_EQ(later.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(later.exitCode(), 0) << said.toStdString();
    EXPECT_TRUE(said.contains("Ravolet is already running; its settings window comes forward.")) << said.toStdString();
    EXPECT_EQ(first.process.state(), QProcess::Running);
    EXPECT_TRUE(quitsCleanly(first));
}

TEST(Program, AQuitSignalThatComesBeforeTheHandlerIsTakenByIt) {
    // Held back from before the program's first instruction (a blocked signal
    // stays pending across exec), the way one that comes in its first
    // milliseconds is held back by the program itself.
    ProgramRun run([](QProcessEnvironment& env) { offscreen(env); });
    run.process.setChildProcessModifier([] {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGTERM);
        ::sigprocmask(SIG_BLOCK, &set, nullptr);
    });
    run.process.start(QStringLiteral(RAVOLET_PROGRAM), {QStringLiteral("--simulated-mouse")});
    ASSERT_TRUE(run.process.waitForStarted());
    EXPECT_TRUE(quitsCleanly(run));
}

TEST(Program, HostileSettingsFilesNeitherHangNorExhaustItAndAreLeftAlone) {
    const std::string deep = "{\"a\": " + std::string(100000, '[') + std::string(100000, ']') + "}";
    const std::vector<std::pair<const char*, std::function<void(const QString& folder)>>> cases = {
        {"a named pipe", [](const QString& f) { ASSERT_EQ(::mkfifo(qPrintable(f + "/config.json"), 0600), 0); }},
        {"a link to /dev/zero", [](const QString& f) { ASSERT_TRUE(QFile::link("/dev/zero", f + "/config.json")); }},
        {"17 MiB", [](const QString& f) {
             QFile big(f + "/config.json");
             ASSERT_TRUE(big.open(QIODevice::WriteOnly) && big.resize(17 << 20));
         }},
        {"preferences 100,000 deep", [&](const QString& f) {
             QFile preferences(f + "/preferences.json");
             ASSERT_TRUE(preferences.open(QIODevice::WriteOnly));
             preferences.write(deep.data(), static_cast<qint64>(deep.size()));
         }},
    };
    for (const auto& [what, put] : cases) {
        SCOPED_TRACE(what);
        ProgramRun run([](QProcessEnvironment& env) { offscreen(env); });
        const QString folder = run.home.filePath(QStringLiteral("config/ravolet"));
        ASSERT_TRUE(QDir().mkpath(folder));
        put(folder);
        const QFileInfo before(folder + "/config.json");
        run.process.start(QStringLiteral(RAVOLET_PROGRAM), {QStringLiteral("--simulated-mouse")});
        EXPECT_TRUE(run.waitFor(QByteArrayLiteral("Ravolet — Active"))) << run.log.toStdString();
        EXPECT_TRUE(quitsCleanly(run));
        const QFileInfo after(folder + "/config.json");
        if (before.exists()) {
            EXPECT_EQ(after.isSymLink(), before.isSymLink());
            EXPECT_EQ(after.size(), before.size());
            EXPECT_EQ(after.lastModified(), before.lastModified());
        } else {
            EXPECT_FALSE(after.exists()) << "nothing changed, so nothing is written";
            QFile aside(folder + "/preferences.unreadable.json");
            ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
            EXPECT_EQ(aside.size(), static_cast<qint64>(deep.size()));
        }
    }
}

} // namespace
} // namespace ravolet
