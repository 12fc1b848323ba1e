#include "RavoletApp/UI/SymbolIcon.hpp"

#include <QApplication>
#include <QDir>
#include <QHash>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QSvgRenderer>

#include <memory>

// Resources of a static library are registered by hand, outside any namespace.
static void registerSymbolResources() { Q_INIT_RESOURCE(Symbols); }

namespace ravolet {

namespace {

const QString& resourceFolder() {
    static const QString folder = [] {
        registerSymbolResources();
        return QStringLiteral(":/symbols/");
    }();
    return folder;
}

// One parsed renderer per symbol, kept for the life of the process (main thread).
QSvgRenderer* renderer(const QString& name) {
    static QHash<QString, std::shared_ptr<QSvgRenderer>> renderers;
    if (auto found = renderers.find(name); found != renderers.end()) {
        return found->get();
    }
    auto created = std::make_shared<QSvgRenderer>(resourceFolder() + name + QStringLiteral(".svg"));
    if (!created->isValid()) {
        created.reset();
    }
    renderers.insert(name, created);
    return created.get();
}

QImage renderTinted(QSvgRenderer& svg, QSize pixels, const QColor& color) {
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const int side = std::min(pixels.width(), pixels.height());
    const QRect square((pixels.width() - side) / 2, (pixels.height() - side) / 2, side, side);
    svg.render(&painter, square);
    // The drawings are single-colour shapes: keep their coverage, take the colour.
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), color);
    painter.end();
    return image;
}

// Draws one of our symbols at any size, in the tint when one is given, else in
// the application palette's colour for the icon's mode.
class SymbolIconEngine final : public QIconEngine {
public:
    SymbolIconEngine(QString name, QColor tint) : name_(std::move(name)), tint_(tint) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        QSvgRenderer* svg = renderer(name_);
        if (svg == nullptr || rect.isEmpty()) {
            return;
        }
        const qreal ratio = painter->device() != nullptr ? painter->device()->devicePixelRatioF() : 1.0;
        QImage image = renderTinted(*svg, (QSizeF(rect.size()) * ratio).toSize(), colorFor(mode));
        image.setDevicePixelRatio(ratio);
        painter->drawImage(rect, image);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State, qreal scale) override {
        QSvgRenderer* svg = renderer(name_);
        if (svg == nullptr || size.isEmpty()) {
            return {};
        }
        QImage image = renderTinted(*svg, (QSizeF(size) * scale).toSize(), colorFor(mode));
        image.setDevicePixelRatio(scale);
        return QPixmap::fromImage(std::move(image));
    }

    QIconEngine* clone() const override { return new SymbolIconEngine(name_, tint_); }
    QString key() const override { return QStringLiteral("ravolet-symbol"); }
    QString iconName() override { return name_; }
    bool isNull() override { return renderer(name_) == nullptr; }

private:
    QColor colorFor(QIcon::Mode mode) const {
        const QPalette palette = QApplication::palette();
        if (tint_.isValid()) {
            QColor color = tint_;
            if (mode == QIcon::Disabled) {
                color.setAlphaF(color.alphaF() * 0.4F);
            }
            return color;
        }
        switch (mode) {
        case QIcon::Disabled: return palette.color(QPalette::Disabled, QPalette::WindowText);
        case QIcon::Selected: return palette.color(QPalette::Active, QPalette::HighlightedText);
        case QIcon::Normal:
        case QIcon::Active: break;
        }
        return palette.color(QPalette::Active, QPalette::WindowText);
    }

    QString name_;
    QColor tint_;
};

} // namespace

QString themeIconName(const QString& name) {
    // Only where the theme's icon says the same thing; the mouse, pause and
    // layer symbols stay ours so that the icons of one place match.
    static const QHash<QString, QString> names = {
        {QStringLiteral("info.circle.fill"), QStringLiteral("dialog-information")},
        {QStringLiteral("exclamationmark.triangle.fill"), QStringLiteral("dialog-warning")},
        {QStringLiteral("xmark.octagon.fill"), QStringLiteral("dialog-error")},
        {QStringLiteral("clock.arrow.circlepath"), QStringLiteral("document-revert")},
        {QStringLiteral("arrow.up"), QStringLiteral("go-up")},
        {QStringLiteral("arrow.down"), QStringLiteral("go-down")},
        {QStringLiteral("trash"), QStringLiteral("edit-delete")},
        {QStringLiteral("keyboard"), QStringLiteral("input-keyboard")},
        {QStringLiteral("doc.on.doc"), QStringLiteral("edit-copy")},
    };
    return names.value(name);
}

QIcon symbolIcon(const QString& name) {
    const QString themed = themeIconName(name);
    if (!themed.isEmpty() && QIcon::hasThemeIcon(themed)) {
        return QIcon::fromTheme(themed);
    }
    return symbolIcon(name, QColor());
}

QIcon symbolIcon(const QString& name, const QColor& tint) {
    if (renderer(name) == nullptr) {
        return {};
    }
    return QIcon(new SymbolIconEngine(name, tint));
}

QPixmap symbolPixmap(const QString& name, int size, const QColor& color, qreal devicePixelRatio) {
    QSvgRenderer* svg = renderer(name);
    if (svg == nullptr || size <= 0) {
        return {};
    }
    QImage image = renderTinted(*svg, QSize(size, size) * devicePixelRatio, color);
    image.setDevicePixelRatio(devicePixelRatio);
    return QPixmap::fromImage(std::move(image));
}

QStringList symbolNames() {
    QStringList names;
    const QStringList files = QDir(resourceFolder()).entryList({QStringLiteral("*.svg")}, QDir::Files, QDir::Name);
    for (const QString& file : files) {
        names.append(file.chopped(4));
    }
    return names;
}

} // namespace ravolet
