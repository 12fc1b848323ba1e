#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QSize>

#include <initializer_list>

class QWidget;

namespace ravolet {

// Text sizes of the settings pages, relative to the application's body font so
// that they follow the desktop's font setting. The caption, the size of every
// explanation, is the desktop's small text and never below 0.9 of the body.
enum class TextStyle { body, headline, callout, caption, title2, title3 };

QFont textFont(TextStyle style, const QFont& body);
// Gives the widget the font of the style, derived from its current font.
void applyTextStyle(QWidget* widget, TextStyle style);

// A measure of the layout (a box, an icon, a column) given for a 13-pixel body
// text, grown in proportion with the font's size so that what it holds still
// fits a larger font. Never smaller than given.
int fontScaled(int measure, const QFont& font);
QSize fontScaled(QSize measure, const QFont& font);

// The colours the pages use: the accent of the palette, the fixed signal
// colours (a lighter set on dark palettes), the quieter text levels, and the
// faint shade of plates and dividers.
enum class SystemColor { accent, green, orange, red, secondary, tertiary, quaternary, separator };

QColor systemColor(SystemColor color, const QPalette& palette);
// The colour at a share of its own opacity (0.35 draws it 35 % as opaque).
QColor systemColor(SystemColor color, const QPalette& palette, float opacity);

// The least contrast of text against the page: WCAG's AA for body text.
inline constexpr double minimumTextContrast = 4.5;
// The least contrast of a line or an icon that carries meaning: WCAG's AA for
// graphics.
inline constexpr double minimumGraphicContrast = 3.0;
// WCAG's contrast ratio of two opaque colours, from 1 to 21.
double contrastRatio(const QColor& first, const QColor& second);
// The opaque colour a translucent one gives when painted over an opaque one.
QColor composited(const QColor& over, const QColor& under);
// The palette's accent (its highlight) as ink on the given backgrounds: the
// same hue, darkened on a light background or lightened on a dark one only as
// far as the contrast asks. A highlight that already reads is kept as it is.
// SystemColor::accent is this for text on the page (Window) and on a field
// (Base).
QColor accentInk(const QPalette& palette, std::initializer_list<QColor> backgrounds, double minimum);
// A quiet line (an axis, a rule) that still carries meaning: the text colour
// faded towards the first background as far as the contrast allows on all of
// them. Opaque.
QColor quietInk(const QPalette& palette, std::initializer_list<QColor> backgrounds, double minimum);
// The fill of a section's rounded plate on the settings pages, translucent
// over the page (Window).
QColor sectionFill(const QPalette& palette);
// Text in a quieter level: the text colour faded towards the page as far as
// the level asks, but never below minimumTextContrast against the page
// (Window) or a field (Base). Opaque.
QColor textColor(SystemColor level, const QPalette& palette);
// Draws the widget's text in the secondary or tertiary level (textColor); a
// disabled widget keeps the palette's own disabled colour.
void applyTextColor(QWidget* widget, SystemColor color);

// The filled accent button of the one action a banner or a page leads to.
void applyProminentStyle(QWidget* button);

} // namespace ravolet
