#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>

class QWidget;

namespace ravolet {

// The size a window opens at: the size it was designed for, made smaller
// where the screen's free area (without panels and docks), less the window
// manager's frame, is smaller; never below `minimum`, which wins over the
// screen.
QSize fittedToScreen(QSize designed, QSize minimum, const QRect& available, const QMargins& frame);

// The same for a window on the screen it is (or will be) shown on. Before the
// window manager has framed it, a title bar's height is allowed for.
QSize fittedToScreen(const QWidget& window, QSize designed, QSize minimum = {});

} // namespace ravolet
