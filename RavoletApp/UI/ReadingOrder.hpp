#pragma once

#include <vector>

class QWidget;

namespace ravolet {

// Tab and Shift+Tab in the order a reader meets the controls: from top to
// bottom, and left to right within a row; a column beside another is read
// whole before the next. The order is worked out from where the widgets are
// at the moment of the key press, not from the order they were made in, so
// banners that appear above a page and rows a page adds later take their
// place where they are drawn.
//
// The stops are the visible, enabled widgets that take focus by Tab, as Qt
// counts them (a widget with a focus proxy is reached through the proxy).
std::vector<QWidget*> tabStopsInReadingOrder(QWidget* window);

// Moves the keyboard focus to the next (or previous) stop after the focused
// widget, going round at the ends, and scrolls every scroll area around the
// new stop so that it shows. False when the window has no stop.
bool moveFocusInReadingOrder(QWidget* window, bool forward);

} // namespace ravolet
