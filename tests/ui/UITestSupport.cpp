#include "UITestSupport.hpp"

#include <QApplication>
#include <QDir>
#include <QLayout>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QWidget>

namespace ravolet::test {

void showAndSettle(QWidget& widget, int width) {
    widget.setFixedWidth(width);
    if (QLayout* layout = widget.layout(); layout != nullptr && layout->hasHeightForWidth()) {
        widget.resize(width, layout->totalHeightForWidth(width));
    } else {
        widget.resize(width, widget.sizeHint().height());
    }
    widget.show();
    (void)QTest::qWaitForWindowExposed(&widget);
    QApplication::processEvents();
}

void pressIn(QWidget* control, const QKeySequence& keys) {
    QWidget* window = control->window();
    window->activateWindow();
    (void)QTest::qWaitForWindowActive(window);
    control->setFocus(Qt::TabFocusReason);
    QTest::keySequence(control, keys);
}

Config withBindingsOfEveryKind(Config config) {
    for (Profile& profile : config.profiles) {
        profile.buttons.push_back({3, {}, Action::repeatWhileHeld(MacroStep::key(0, {}), 120), true});
        profile.buttons.push_back({3, ModifierFlags::control, Action::keyStroke(1, {}), true});
    }
    return config;
}

QPalette darkPalette(const QColor& highlight) {
    QPalette dark(QColor(0x3a, 0x3a, 0x3a), QColor(0x2b, 0x2b, 0x2b));
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        dark.setColor(group, QPalette::WindowText, QColor(0xee, 0xee, 0xee));
        dark.setColor(group, QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
        dark.setColor(group, QPalette::Text, QColor(0xee, 0xee, 0xee));
        dark.setColor(group, QPalette::ButtonText, QColor(0xee, 0xee, 0xee));
        dark.setColor(group, QPalette::Highlight, highlight);
        dark.setColor(group, QPalette::HighlightedText, Qt::white);
    }
    return dark;
}

bool screenshotsEnabled() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") && QApplication::platformName() == QStringLiteral("xcb");
}

QString saveRefittedScreenshot(QWidget& widget, const QString& name, int width) {
    QApplication::processEvents(); // the layout work of rows that came and went
    showAndSettle(widget, width);
    return saveScreenshot(widget, name);
}

QString saveScreenshot(QWidget& widget, const QString& name) {
    if (!screenshotsEnabled()) {
        return {};
    }
    const QDir folder(QStringLiteral(RAVOLET_SCREENSHOT_DIR));
    if (!folder.mkpath(QStringLiteral("."))) {
        return {};
    }
    // Let pending layout and paint work finish, so the picture shows the
    // widget as it now is.
    QApplication::processEvents();
    const QString path = folder.filePath(name + QStringLiteral(".png"));
    return widget.grab().save(path) ? path : QString();
}

QPoint sliderHandleCentre(const QSlider& slider) {
    QStyleOptionSlider option;
    option.initFrom(&slider);
    option.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderHandle;
    option.orientation = slider.orientation();
    option.minimum = slider.minimum();
    option.maximum = slider.maximum();
    option.sliderPosition = slider.sliderPosition();
    option.sliderValue = slider.value();
    option.singleStep = slider.singleStep();
    option.pageStep = slider.pageStep();
    option.upsideDown = slider.orientation() == Qt::Horizontal
                            ? slider.invertedAppearance() != (option.direction == Qt::RightToLeft)
                            : !slider.invertedAppearance();
    return slider.style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, &slider).center();
}

} // namespace ravolet::test
