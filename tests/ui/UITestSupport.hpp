#pragma once

#include <QPoint>
#include <QString>

class QSlider;
class QWidget;

namespace ravolet::test {

// Shows the widget as a window at the given width (its height from the
// layout), waits until it is exposed and processes the pending layout work.
void showAndSettle(QWidget& widget, int width = 480);

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

} // namespace ravolet::test
