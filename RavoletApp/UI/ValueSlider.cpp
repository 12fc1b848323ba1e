#include "RavoletApp/UI/ValueSlider.hpp"

#include "RavoletApp/UI/Explain.hpp"
#include "RavoletApp/UI/ResetButton.hpp"
#include "RavoletApp/UI/Style.hpp"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace ravolet {

namespace {

QToolButton* stepperButton(Qt::ArrowType arrow, const QString& name) {
    auto* button = new QToolButton;
    button->setArrowType(arrow);
    button->setAutoRepeat(true);
    button->setFixedSize(fontScaled(QSize(18, 11), button->font()));
    // Not a Tab stop of its own: the slider takes the fine step from the
    // keyboard (Shift with an arrow), and a reader presses the button by name.
    button->setFocusPolicy(Qt::NoFocus);
    button->setAccessibleName(name);
    return button;
}

} // namespace

ValueSlider::ValueSlider(Options options, QWidget* parent)
    : QWidget(parent), options_(std::move(options)), scale_(options_.range, options_.step),
      value_(options_.defaultValue), title_(new QLabel(options_.title)), valueText_(new QLabel),
      stepper_(new QWidget), stepUp_(stepperButton(Qt::UpArrow, QStringLiteral("Increase ") + options_.title)),
      stepDown_(stepperButton(Qt::DownArrow, QStringLiteral("Decrease ") + options_.title)),
      reset_(new ResetButton(options_.title, [this] { edit(options_.defaultValue); })),
      slider_(new QSlider(Qt::Horizontal)), help_(new Explain(options_.help)) {
    if (!options_.format) {
        options_.format = [](double value) { return QString::number(value); };
    }

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 2, 0, 2);
    column->setSpacing(4);

    auto* top = new QHBoxLayout;
    top->setContentsMargins(0, 0, 0, 0);
    title_->setTextFormat(Qt::PlainText);
    valueText_->setTextFormat(Qt::PlainText);
    valueText_->setAlignment(Qt::AlignTrailing | Qt::AlignVCenter);
    applyTextColor(valueText_, SystemColor::secondary);
    top->addWidget(title_);
    top->addStretch(1);
    top->addWidget(valueText_);

    auto* arrows = new QVBoxLayout(stepper_);
    arrows->setContentsMargins(0, 0, 0, 0);
    arrows->setSpacing(0);
    arrows->addWidget(stepUp_);
    arrows->addWidget(stepDown_);
    stepper_->setAccessibleName(options_.title);
    top->addWidget(stepper_, 0, Qt::AlignVCenter);
    top->addWidget(reset_, 0, Qt::AlignVCenter);
    column->addLayout(top);

    slider_->setRange(0, scale_.maximumPosition());
    slider_->setSingleStep(1);
    slider_->setPageStep(std::max(1, scale_.maximumPosition() / 10));
    slider_->setAccessibleName(options_.title);
    slider_->installEventFilter(this);
    column->addWidget(slider_);
    column->addWidget(help_);

    // Every change of the slider's value writes, however it was made: a drag,
    // keys, a click on the groove, the wheel of a focused slider, or a screen
    // reader setting the value. The program's own fills are made under a
    // signal blocker, so they never write.
    connect(slider_, &QSlider::valueChanged, this, [this](int position) { sliderMoved(position); });
    connect(stepUp_, &QToolButton::clicked, this,
            [this] { edit(scale_.nudged(value_, options_.precisionStep)); });
    connect(stepDown_, &QToolButton::clicked, this,
            [this] { edit(scale_.nudged(value_, -options_.precisionStep)); });

    display(value_);
}

void ValueSlider::setValue(double value) { display(value); }

bool ValueSlider::eventFilter(QObject* watched, QEvent* event) {
    if (watched != slider_ || event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::ShiftModifier) return false;
    // Shift with an arrow is the stepper's fine step, towards the end of the
    // range the arrow points to, as the slider's own arrows go.
    int direction = 0;
    switch (key->key()) {
    case Qt::Key_Up: direction = 1; break;
    case Qt::Key_Down: direction = -1; break;
    case Qt::Key_Right: direction = isRightToLeft() ? -1 : 1; break;
    case Qt::Key_Left: direction = isRightToLeft() ? 1 : -1; break;
    default: return false;
    }
    QToolButton* step = direction > 0 ? stepUp_ : stepDown_;
    if (step->isEnabled()) step->click();
    return true;
}

void ValueSlider::display(double value) {
    value_ = value;
    const QString text = options_.format(value);
    valueText_->setText(text);
    stepper_->setAccessibleDescription(text);
    slider_->setAccessibleDescription(text);
    {
        const QSignalBlocker blocker(slider_);
        slider_->setValue(scale_.positionOf(value));
    }
    // The stepper stops at the ends of the range.
    const double clamped = scale_.clamped(value);
    stepUp_->setEnabled(clamped < options_.range.upper);
    stepDown_->setEnabled(clamped > options_.range.lower);
}

void ValueSlider::edit(double value) {
    display(value);
    Q_EMIT valueEdited(value);
}

void ValueSlider::sliderMoved(int position) {
    // A position that is the one the value shows writes nothing, so a value
    // between positions survives a click on the handle.
    if (position == scale_.positionOf(value_)) {
        return;
    }
    edit(scale_.valueAt(position));
}

} // namespace ravolet
