#include "RavoletApp/UI/NoticeBanner.hpp"

#include "RavoletApp/UI/CommandLine.hpp"
#include "RavoletApp/UI/QtText.hpp"
#include "RavoletApp/UI/Style.hpp"
#include "RavoletApp/UI/SymbolIcon.hpp"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace ravolet {

namespace {

constexpr int padding = 12;
constexpr qreal cornerRadius = 8;
constexpr qreal backgroundOpacity = 0.08;
constexpr qreal borderOpacity = 0.25;

QColor withOpacity(QColor color, qreal opacity) {
    color.setAlphaF(static_cast<float>(color.alphaF() * opacity));
    return color;
}

} // namespace

NoticeBanner::NoticeBanner(Kind kind, const QString& title, const QString& message, QWidget* parent)
    : QWidget(parent), kind_(kind), icon_(new QLabel), title_(new QLabel(title)),
      message_(new QLabel(unbrokenPaths(message))), messageText_(message), commands_(new CommandList(this)),
      actions_(new QHBoxLayout) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(padding, padding, padding, padding);
    row->setSpacing(10);

    icon_->setAlignment(Qt::AlignCenter);
    row->addWidget(icon_, 0, Qt::AlignTop);

    auto* column = new QVBoxLayout;
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    title_->setTextFormat(Qt::PlainText);
    applyTextStyle(title_, TextStyle::headline);
    title_->setWordWrap(true);
    message_->setTextFormat(Qt::PlainText);
    message_->setWordWrap(true);
    applyTextStyle(message_, TextStyle::callout);
    applyTextColor(message_, SystemColor::secondary);
    column->addWidget(title_);
    column->addWidget(message_);
    column->addWidget(commands_);
    actions_->setContentsMargins(0, 0, 0, 0);
    actions_->setSpacing(8);
    actions_->addStretch(1);
    column->addLayout(actions_);
    // The text column takes the banner's width; the content stays leading.
    row->addLayout(column, 1);

    refreshIcon();
    readAsOneElement();
}

void NoticeBanner::setKind(Kind kind) {
    if (kind_ != kind) {
        kind_ = kind;
        refreshIcon();
        update();
    }
}

void NoticeBanner::setTitle(const QString& title) { title_->setText(title); }

void NoticeBanner::setMessage(const QString& message) {
    if (message == messageText_) return;
    messageText_ = message;
    message_->setText(unbrokenPaths(message));
    announceValueChange(this, message);
}

void NoticeBanner::setCommands(const QStringList& commands) { commands_->setCommands(commands); }

const std::vector<CommandLine*>& NoticeBanner::commandLines() const { return commands_->lines(); }

AccessibleReading NoticeBanner::accessibleReading() const {
    const auto meaning = [](Kind kind) {
        switch (kind) {
        case Kind::warning: return QStringLiteral("Warning");
        case Kind::problem: return QStringLiteral("Problem");
        case Kind::informational: break;
        }
        return QStringLiteral("Information");
    };
    AccessibleReading reading;
    reading.role = QAccessible::Grouping;
    reading.name = title_->text();
    reading.value = messageText_;
    reading.description = meaning(kind_);
    for (const CommandLine* line : commands_->lines()) reading.children << line->textLabel() << line->copyButton();
    for (int i = 0; i < actions_->count(); ++i)
        if (QWidget* control = actions_->itemAt(i)->widget()) reading.children.append(control);
    return reading;
}

void NoticeBanner::addAction(QWidget* control) {
    // Before the trailing stretch, so the buttons stay leading.
    actions_->insertWidget(actions_->count() - 1, control, 0, Qt::AlignVCenter);
}

QPushButton* NoticeBanner::addButton(const QString& text) {
    auto* button = new QPushButton(text);
    addAction(button);
    return button;
}

QColor NoticeBanner::tint(Kind kind, const QPalette& palette) {
    switch (kind) {
    case Kind::informational: return systemColor(SystemColor::accent, palette);
    case Kind::warning: return systemColor(SystemColor::orange, palette);
    case Kind::problem: return systemColor(SystemColor::red, palette);
    }
    return systemColor(SystemColor::accent, palette);
}

QString NoticeBanner::symbolName(Kind kind) {
    switch (kind) {
    case Kind::informational: return QStringLiteral("info.circle.fill");
    case Kind::warning: return QStringLiteral("exclamationmark.triangle.fill");
    case Kind::problem: return QStringLiteral("xmark.octagon.fill");
    }
    return {};
}

void NoticeBanner::refreshIcon() {
    // A large symbol: a good deal taller than the title's line.
    const int side = QFontMetrics(title_->font()).height() * 4 / 3;
    icon_->setFixedSize(side, side);
    icon_->setPixmap(symbolPixmap(symbolName(kind_), side, tint(kind_, palette()), devicePixelRatioF()));
}

void NoticeBanner::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange) {
        refreshIcon();
    }
    QWidget::changeEvent(event);
}

void NoticeBanner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor color = tint(kind_, palette());
    // The border is stroked inside the shape: inset by half its width.
    const QRectF shape = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(shape, cornerRadius - 0.5, cornerRadius - 0.5);
    painter.fillPath(path, withOpacity(color, backgroundOpacity));
    painter.setPen(QPen(withOpacity(color, borderOpacity), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
}

} // namespace ravolet
