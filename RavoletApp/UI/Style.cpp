#include "RavoletApp/UI/Style.hpp"

#include <QWidget>

#include <algorithm>

namespace ravolet {

namespace {

// Sizes relative to a 13-unit body, the proportions of the classic desktop
// type scale.
double relativeSize(TextStyle style) {
    switch (style) {
    case TextStyle::body: return 1.0;
    case TextStyle::headline: return 1.0;
    case TextStyle::callout: return 12.0 / 13.0;
    case TextStyle::caption: return 10.0 / 13.0;
    case TextStyle::title2: return 17.0 / 13.0;
    case TextStyle::title3: return 15.0 / 13.0;
    }
    return 1.0;
}

bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightnessF() < 0.5;
}

// The text colour, fainter.
QColor textShade(const QPalette& palette, float alpha) {
    QColor text = palette.color(QPalette::Active, QPalette::WindowText);
    text.setAlphaF(alpha);
    return text;
}

} // namespace

QFont textFont(TextStyle style, const QFont& body) {
    QFont font = body;
    const double factor = relativeSize(style);
    if (body.pointSizeF() > 0) {
        font.setPointSizeF(body.pointSizeF() * factor);
    } else if (body.pixelSize() > 0) {
        font.setPixelSize(std::max(1, static_cast<int>(body.pixelSize() * factor + 0.5)));
    }
    if (style == TextStyle::headline || style == TextStyle::title2) {
        font.setWeight(QFont::Bold);
    }
    return font;
}

void applyTextStyle(QWidget* widget, TextStyle style) {
    widget->setFont(textFont(style, widget->font()));
}

QColor systemColor(SystemColor color, const QPalette& palette) {
    const bool dark = isDark(palette);
    switch (color) {
    case SystemColor::accent: return palette.color(QPalette::Active, QPalette::Highlight);
    case SystemColor::green: return dark ? QColor(0x30, 0xD1, 0x58) : QColor(0x28, 0xA7, 0x45);
    case SystemColor::orange: return dark ? QColor(0xFF, 0x9F, 0x0A) : QColor(0xF0, 0x8A, 0x00);
    case SystemColor::red: return dark ? QColor(0xFF, 0x45, 0x3A) : QColor(0xE0, 0x30, 0x26);
    case SystemColor::secondary: return textShade(palette, 0.55F);
    case SystemColor::tertiary: return textShade(palette, 0.35F);
    case SystemColor::quaternary: return textShade(palette, 0.18F);
    case SystemColor::separator: return textShade(palette, 0.14F);
    }
    return palette.color(QPalette::WindowText);
}

QColor systemColor(SystemColor color, const QPalette& palette, float opacity) {
    QColor shade = systemColor(color, palette);
    shade.setAlphaF(shade.alphaF() * opacity);
    return shade;
}

void applyTextColor(QWidget* widget, SystemColor color) {
    QPalette palette = widget->palette();
    const QColor shade = systemColor(color, palette);
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::WindowText, shade);
        palette.setColor(group, QPalette::Text, shade);
    }
    widget->setPalette(palette);
}

void applyProminentStyle(QWidget* button) {
    button->setStyleSheet(QStringLiteral(
        "QPushButton { background-color: palette(highlight); color: palette(highlighted-text); border: none; "
        "border-radius: 5px; padding: 5px 14px; }"
        "QPushButton:pressed { background-color: palette(dark); }"
        "QPushButton:disabled { background-color: palette(midlight); color: palette(mid); }"));
}

} // namespace ravolet
