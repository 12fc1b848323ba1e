#include "RavoletApp/UI/TrayIcon.hpp"

#include <QImage>
#include <QPainter>

#include <algorithm>

#include "RavoletApp/UI/SymbolIcon.hpp"

namespace ravolet {

namespace {

const QColor outline(0x1C, 0x1C, 0x1E);
const QColor warning(0xFF, 0x9F, 0x0A);

// The sizes trays ask for, from a small panel to a high-density one.
constexpr int traySizes[] = {16, 22, 24, 32, 48, 64};

} // namespace

QPixmap outlinedTrayPixmap(const QString& symbol, int size, qreal devicePixelRatio) {
    const int pixels = std::max(1, qRound(size * devicePixelRatio));
    const int ring = std::max(1, pixels / 14);
    const int inner = pixels - 2 * ring;
    const QColor fill = symbol == QStringLiteral("exclamationmark.triangle.fill") ? warning : QColor(Qt::white);
    const QPixmap glyph = symbolPixmap(symbol, inner, fill);
    const QPixmap shadow = symbolPixmap(symbol, inner, outline);
    if (glyph.isNull() || shadow.isNull()) return {};
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        // The outline: the shape spread by `ring` pixels every way, under it.
        for (int dy = -ring; dy <= ring; ++dy)
            for (int dx = -ring; dx <= ring; ++dx)
                if (dx * dx + dy * dy <= ring * ring + ring) painter.drawPixmap(ring + dx, ring + dy, shadow);
        painter.drawPixmap(ring, ring, glyph);
    }
    image.setDevicePixelRatio(devicePixelRatio);
    return QPixmap::fromImage(std::move(image));
}

QIcon outlinedTrayIcon(const QString& symbol) {
    QIcon icon;
    for (const int size : traySizes) {
        const QPixmap pixmap = outlinedTrayPixmap(symbol, size);
        if (!pixmap.isNull()) icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace ravolet
