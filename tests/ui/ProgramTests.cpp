#include <gtest/gtest.h>

#include <QFile>
#include <QProcessEnvironment>

#include <functional>
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

TEST(Program, WithTheSimulatedMouseItRunsAndQuitsCleanlyOnSIGTERMHavingWrittenItsSettings) {
    ProgramRun run([](QProcessEnvironment& env) { env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen")); });
    run.process.start(QStringLiteral(RAVOLET_PROGRAM), {QStringLiteral("--simulated-mouse")});
    ASSERT_TRUE(run.process.waitForStarted());
    EXPECT_TRUE(run.waitFor(QByteArrayLiteral("Ravolet — Active"))) << run.log.toStdString();
    run.process.terminate(); // SIGTERM
    ASSERT_TRUE(run.process.waitForFinished(30'000));
    run.log += run.process.readAll();
    EXPECT_EQ(run.process.exitStatus(), QProcess::NormalExit) << run.log.toStdString();
    EXPECT_EQ(run.process.exitCode(), 0) << run.log.toStdString();
    EXPECT_TRUE(QFile::exists(run.home.filePath(QStringLiteral("config/ravolet/config.json"))));
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

} // namespace
} // namespace ravolet
