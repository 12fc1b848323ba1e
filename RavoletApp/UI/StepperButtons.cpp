#include "RavoletApp/UI/StepperButtons.hpp"

#include <QHBoxLayout>
#include <QToolButton>

#include "RavoletApp/UI/Style.hpp"

namespace ravolet {

namespace {

QToolButton* arrowButton(Qt::ArrowType arrow, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setArrowType(arrow);
    button->setAutoRepeat(true);
    button->setFocusPolicy(Qt::NoFocus);
    const int side = fontScaled(StepperButtons::minimumSide, button->font());
    button->setFixedSize(side, side);
    return button;
}

} // namespace

StepperButtons::StepperButtons(QWidget* parent)
    : QWidget(parent), up_(arrowButton(Qt::UpArrow, this)), down_(arrowButton(Qt::DownArrow, this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    row->addWidget(down_);
    row->addWidget(up_);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void StepperButtons::setNamesFor(const QString& what) {
    up_->setAccessibleName(QStringLiteral("Increase ") + what);
    down_->setAccessibleName(QStringLiteral("Decrease ") + what);
}

void StepperButtons::setLimits(bool canStepUp, bool canStepDown) {
    up_->setEnabled(canStepUp);
    down_->setEnabled(canStepDown);
}

} // namespace ravolet
