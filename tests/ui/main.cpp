#include <QApplication>
#include <QLocale>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// A test that quits the program (the shell's Quit) leaves the application
// marked as quitting, and from then on every event loop, a dialog's too,
// returns at once. Each test runs in a process of its own under CTest, but
// scripts/screenshots.sh runs them all in one: an application loop run and
// ended after each test clears the mark.
class ClearsTheQuit : public testing::EmptyTestEventListener {
    void OnTestEnd(const testing::TestInfo&) override {
        QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
    }
};

} // namespace

// The widgets need an application object. Tests run on the offscreen platform
// unless the caller chose one (scripts/screenshots.sh runs them on xcb under a
// virtual display, so that screenshots are written).
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new ClearsTheQuit);
    return RUN_ALL_TESTS();
}
