#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

class QWidget;

namespace ravolet {

// Text sizes of the settings pages, relative to the application's body font so
// that they follow the desktop's font setting.
enum class TextStyle { body, headline, callout, caption, title2, title3 };

QFont textFont(TextStyle style, const QFont& body);
// Gives the widget the font of the style, derived from its current font.
void applyTextStyle(QWidget* widget, TextStyle style);

// The colours the pages use: the accent of the palette, the fixed signal
// colours (a lighter set on dark palettes), the quieter text levels, and the
// faint shade of plates and dividers.
enum class SystemColor { accent, green, orange, red, secondary, tertiary, quaternary, separator };

QColor systemColor(SystemColor color, const QPalette& palette);
// The colour at a share of its own opacity (0.35 draws it 35 % as opaque).
QColor systemColor(SystemColor color, const QPalette& palette, float opacity);
// Draws the widget's text in the secondary or tertiary level; a disabled
// widget keeps the palette's own disabled colour.
void applyTextColor(QWidget* widget, SystemColor color);

// The filled accent button of the one action a banner or a page leads to.
void applyProminentStyle(QWidget* button);

} // namespace ravolet
