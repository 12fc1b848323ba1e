#pragma once

#include <QColor>
#include <QPalette>
#include <QPoint>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Core/Config.hpp"
#include "Platform/FrontmostExtension.hpp"

class QKeySequence;
class QSlider;
class QWidget;

namespace ravolet::test {

// Shows the widget as a window at the given width (its height from the
// layout), waits until it is exposed and processes the pending layout work.
void showAndSettle(QWidget& widget, int width = 480);

// Presses the keys in the control as a user does: its window active and the
// control focused, so that the window's shortcuts see them as well.
void pressIn(QWidget* control, const QKeySequence& keys);

// The document with button 3 of every profile bound twice: repeating a key
// (its card holds a slider) and, with Ctrl held, pressing one; so that the
// Buttons page shows every kind of control.
Config withBindingsOfEveryKind(Config config);

// A dark desktop theme (as qt6ct's dark schemes give it) with the given
// highlight; its light, dark and mid shades worked out from the button and
// window colours.
QPalette darkPalette(const QColor& highlight);

// True on a real display (DISPLAY set and the xcb platform): screenshots are
// written only then.
bool screenshotsEnabled();

// Saves the shown widget as <build>/screenshots/<name>.png when screenshots
// are enabled; returns the file written, else an empty string.
QString saveScreenshot(QWidget& widget, const QString& name);

// For a page whose rows come and go as the model is read: lays it out again at
// the given width, fitted to what it now holds, then saves it as above.
QString saveRefittedScreenshot(QWidget& widget, const QString& name, int width);

// The centre of the slider's handle, in the slider's coordinates.
QPoint sliderHandleCentre(const QSlider& slider);

// The GNOME Shell extension as the workspace offers it: every press is
// recorded and answered when the test says.
struct RecordingExtension final : platform::FrontmostExtension {
    void install(std::shared_ptr<platform::Executor> executor, Completion done) override {
        record("install", std::move(executor), std::move(done));
    }
    void remove(std::shared_ptr<platform::Executor> executor, Completion done) override {
        record("remove", std::move(executor), std::move(done));
    }
    void record(std::string call, std::shared_ptr<platform::Executor> executor, Completion done) {
        calls.push_back(std::move(call));
        pending = [executor, done](std::optional<std::string> error) { executor->post([done, error] { done(error); }); };
    }
    std::vector<std::string> calls;
    std::function<void(std::optional<std::string>)> pending;
};

} // namespace ravolet::test
