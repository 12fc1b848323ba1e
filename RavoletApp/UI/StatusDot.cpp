#include "RavoletApp/UI/StatusDot.hpp"

#include "RavoletApp/UI/Style.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

namespace ravolet {

namespace {

constexpr int dotSize = 8;
constexpr int spacing = 6;

} // namespace

StatusDot::StatusDot(Level level, const QString& text, QWidget* parent)
    : QWidget(parent), level_(level), text_(new QLabel(text)) {
    auto* layout = new QHBoxLayout(this);
    // The dot occupies the leading margin.
    layout->setContentsMargins(dotSize + spacing, 0, 0, 0);
    layout->setSpacing(0);
    text_->setTextFormat(Qt::PlainText);
    layout->addWidget(text_, 0, Qt::AlignVCenter);
    layout->addStretch(1);
    readAsOneElement();
}

void StatusDot::setLevel(Level level) {
    if (level_ != level) {
        level_ = level;
        update();
    }
}

QString StatusDot::text() const { return text_->text(); }

void StatusDot::setText(const QString& text) {
    if (text == text_->text()) return;
    text_->setText(text);
    announceValueChange(this, text);
}

AccessibleReading StatusDot::accessibleReading() const {
    const auto meaning = [](Level level) {
        switch (level) {
        case Level::good: return QStringLiteral("Good");
        case Level::waiting: return QStringLiteral("Waiting");
        case Level::bad: return QStringLiteral("Problem");
        case Level::off: break;
        }
        return QStringLiteral("Off");
    };
    AccessibleReading reading;
    reading.name = caption_;
    reading.value = text_->text();
    reading.description = meaning(level_);
    return reading;
}

void StatusDot::setWordWrap(bool wraps) {
    text_->setWordWrap(wraps);
    auto* row = static_cast<QHBoxLayout*>(layout());
    row->setStretch(0, wraps ? 1 : 0);
    row->setStretch(1, wraps ? 0 : 1);
}

QColor StatusDot::color(Level level, const QPalette& palette) {
    switch (level) {
    case Level::good: return systemColor(SystemColor::green, palette);
    case Level::waiting: return systemColor(SystemColor::orange, palette);
    case Level::bad: return systemColor(SystemColor::red, palette);
    case Level::off: return systemColor(SystemColor::secondary, palette);
    }
    return systemColor(SystemColor::secondary, palette);
}

QRect StatusDot::dotRect() const {
    // Centred on the text's line, whatever the row's height.
    const QRect line = text_->geometry();
    const int centre = line.isValid() ? line.center().y() : height() / 2;
    return {0, centre - dotSize / 2, dotSize, dotSize};
}

void StatusDot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color(level_, palette()));
    painter.drawEllipse(dotRect());
}

} // namespace ravolet
