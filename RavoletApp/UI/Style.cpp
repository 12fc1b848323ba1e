#include "RavoletApp/UI/Style.hpp"

#include <QApplication>
#include <QFontInfo>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace ravolet {

namespace {

// The smallest share of the body size that text meant to be read gets.
constexpr double smallestReadableShare = 0.9;

// The desktop's own small text, as a share of the body size: its small font
// where the platform names one, never below what reads comfortably.
double captionShare() {
    const QFont body = QApplication::font();
    const QFont small = QApplication::font("QSmallFont");
    if (small == body || body.pointSizeF() <= 0 || small.pointSizeF() <= 0) return smallestReadableShare;
    return std::clamp(small.pointSizeF() / body.pointSizeF(), smallestReadableShare, 1.0);
}

// Sizes relative to a 13-unit body, the proportions of the classic desktop
// type scale; the caption is the desktop's small text.
double relativeSize(TextStyle style) {
    switch (style) {
    case TextStyle::body: return 1.0;
    case TextStyle::headline: return 1.0;
    case TextStyle::callout: return 12.0 / 13.0;
    case TextStyle::caption: return captionShare();
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

double shareOf(SystemColor level) {
    switch (level) {
    case SystemColor::secondary: return 0.55;
    case SystemColor::tertiary: return 0.35;
    case SystemColor::quaternary: return 0.18;
    case SystemColor::separator: return 0.14;
    default: return 1.0;
    }
}

QColor blended(const QColor& over, const QColor& under, double share) {
    const auto mix = [share](int top, int bottom) {
        return static_cast<int>(std::lround(bottom + (top - bottom) * share));
    };
    return QColor(mix(over.red(), under.red()), mix(over.green(), under.green()), mix(over.blue(), under.blue()));
}

// The text colour faded towards `towards`, from `share` of it up, as far as
// the contrast allows on every background; the text colour itself where no
// share does.
QColor fadedText(const QPalette& palette, const QColor& towards, double share,
                 std::initializer_list<QColor> backgrounds, double minimum) {
    const QColor text = palette.color(QPalette::Active, QPalette::WindowText);
    for (; share < 1.0; share += 0.01) {
        const QColor shade = blended(text, towards, share);
        if (std::ranges::all_of(backgrounds, [&](const QColor& under) { return contrastRatio(shade, under) >= minimum; }))
            return shade;
    }
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

int fontScaled(int measure, const QFont& font) {
    // The body size the measures were drawn up for, in pixels.
    constexpr double designedBody = 13.0;
    const double body = QFontInfo(font).pixelSize();
    return static_cast<int>(std::lround(measure * std::max(1.0, body / designedBody)));
}

QSize fontScaled(QSize measure, const QFont& font) {
    return {fontScaled(measure.width(), font), fontScaled(measure.height(), font)};
}

QColor systemColor(SystemColor color, const QPalette& palette) {
    const bool dark = isDark(palette);
    switch (color) {
    case SystemColor::accent:
        return accentInk(palette,
                         {palette.color(QPalette::Active, QPalette::Window), palette.color(QPalette::Active, QPalette::Base)},
                         minimumTextContrast);
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

double contrastRatio(const QColor& first, const QColor& second) {
    const auto luminance = [](const QColor& color) {
        const auto linear = [](double channel) {
            return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) + 0.0722 * linear(color.blueF());
    };
    const double a = luminance(first);
    const double b = luminance(second);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

QColor composited(const QColor& over, const QColor& under) {
    return blended(over, under, over.alphaF());
}

QColor accentInk(const QPalette& palette, std::initializer_list<QColor> backgrounds, double minimum) {
    const QColor highlight = palette.color(QPalette::Active, QPalette::Highlight).toHsl();
    const auto reads = [&](const QColor& ink) {
        return std::ranges::all_of(backgrounds, [&](const QColor& under) { return contrastRatio(ink, under) >= minimum; });
    };
    if (reads(highlight)) return highlight.toRgb();
    // Away from the first background: towards black on a light one, towards
    // white on a dark one, whichever of the two stands out more from it.
    const QColor page = backgrounds.size() > 0 ? *backgrounds.begin() : palette.color(QPalette::Active, QPalette::Window);
    const bool darken = contrastRatio(Qt::black, page) >= contrastRatio(Qt::white, page);
    const float hue = std::max(0.0F, highlight.hslHueF());
    const float saturation = highlight.hslSaturationF();
    for (float lightness = highlight.lightnessF(); lightness >= 0.0F && lightness <= 1.0F;
         lightness += darken ? -0.01F : 0.01F) {
        const QColor ink = QColor::fromHslF(hue, saturation, lightness).toRgb();
        if (reads(ink)) return ink;
    }
    return palette.color(QPalette::Active, QPalette::WindowText);
}

QColor quietInk(const QPalette& palette, std::initializer_list<QColor> backgrounds, double minimum) {
    const QColor page = backgrounds.size() > 0 ? *backgrounds.begin() : palette.color(QPalette::Active, QPalette::Window);
    return fadedText(palette, page, 0.0, backgrounds, minimum);
}

QColor sectionFill(const QPalette& palette) { return systemColor(SystemColor::quaternary, palette, 0.5F); }

QColor textColor(SystemColor level, const QPalette& palette) {
    // As faint as the level asks, darkened (or lightened) only as far as
    // reading needs, on the page and on a field alike.
    const QColor window = palette.color(QPalette::Active, QPalette::Window);
    return fadedText(palette, window, shareOf(level), {window, palette.color(QPalette::Active, QPalette::Base)},
                     minimumTextContrast);
}

QColor systemColor(SystemColor color, const QPalette& palette, float opacity) {
    QColor shade = systemColor(color, palette);
    shade.setAlphaF(shade.alphaF() * opacity);
    return shade;
}

void applyTextColor(QWidget* widget, SystemColor color) {
    QPalette palette = widget->palette();
    const QColor shade = textColor(color, palette);
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
