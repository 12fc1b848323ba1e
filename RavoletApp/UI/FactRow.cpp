#include "RavoletApp/UI/FactRow.hpp"

#include "RavoletApp/UI/Explain.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace ravolet {

FactRow::FactRow(const QString& label, const QString& value, std::optional<QString> help, QWidget* parent)
    : QWidget(parent), label_(new QLabel(label)), value_(new QLabel(value)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 1, 0, 1);
    column->setSpacing(2);

    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    label_->setTextFormat(Qt::PlainText);
    value_->setTextFormat(Qt::PlainText);
    value_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    value_->setAlignment(Qt::AlignTrailing | Qt::AlignTop);
    value_->setWordWrap(true);
    row->addWidget(label_, 0, Qt::AlignTop);
    row->addWidget(value_, 1);
    column->addLayout(row);
    setHelp(help);
    readAsOneElement();
}

void FactRow::setValue(const QString& value) {
    if (value == value_->text()) return;
    value_->setText(value);
    announceValueChange(this, value);
}

AccessibleReading FactRow::accessibleReading() const {
    AccessibleReading reading;
    reading.name = label_->text();
    reading.value = value_->text();
    if (help_ != nullptr) reading.children.append(help_);
    return reading;
}

void FactRow::setHelp(const std::optional<QString>& help) {
    if (!help) {
        // Removed from the layout at once, so the row leaves no gap.
        delete help_;
        help_ = nullptr;
        return;
    }
    if (help_ == nullptr) {
        help_ = new Explain(*help);
        layout()->addWidget(help_);
    } else {
        help_->setText(*help);
    }
}

} // namespace ravolet
