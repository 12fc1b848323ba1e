#include "RavoletApp/UI/ScreenFit.hpp"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace ravolet {

namespace {

// What a window manager's title bar and borders usually take, for a window
// not framed yet.
constexpr QMargins assumedFrame{2, 40, 2, 2};

} // namespace

QSize fittedToScreen(QSize designed, QSize minimum, const QRect& available, const QMargins& frame) {
    const int width = std::min(designed.width(), available.width() - frame.left() - frame.right());
    const int height = std::min(designed.height(), available.height() - frame.top() - frame.bottom());
    return {std::max(width, minimum.width()), std::max(height, minimum.height())};
}

QSize fittedToScreen(const QWidget& window, QSize designed, QSize minimum) {
    const QScreen* screen = window.screen() != nullptr ? window.screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) return designed.expandedTo(minimum);
    const QRect frame = window.frameGeometry();
    const QRect inside = window.geometry();
    const bool framed = window.isVisible() && frame != inside;
    const QMargins margins = framed ? QMargins(inside.left() - frame.left(), inside.top() - frame.top(),
                                               frame.right() - inside.right(), frame.bottom() - inside.bottom())
                                    : assumedFrame;
    return fittedToScreen(designed, minimum, screen->availableGeometry(), margins);
}

} // namespace ravolet
