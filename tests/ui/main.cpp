#include <QApplication>
#include <QLocale>

#include <gtest/gtest.h>

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
    return RUN_ALL_TESTS();
}
