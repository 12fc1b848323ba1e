#include "RavoletApp/UI/ValueSlider.hpp"

#include "RavoletApp/UI/Explain.hpp"
#include "RavoletApp/UI/ResetButton.hpp"
#include "RavoletApp/UI/StepperButtons.hpp"
#include "RavoletApp/UI/Style.hpp"

#include <QAccessible>
#include <QAccessibleWidget>
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

// The slider of a ValueSlider, known to assistive technology by its class.
class Track final : public QSlider {
public:
    explicit Track(ValueSlider* owner) : QSlider(Qt::Horizontal), owner_(owner) {}
    ValueSlider* owner() const { return owner_; }

private:
    ValueSlider* owner_;
};

// The track as a reader is given it: a slider whose value, bounds and least
// step are the setting's own, in the units the page shows, not the track's
// positions.
class SettingSliderInterface final : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit SettingSliderInterface(Track* track) : QAccessibleWidget(track, QAccessible::Slider) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Value) return owner()->options().format(owner()->value());
        return QAccessibleWidget::text(kind);
    }

    QVariant currentValue() const override { return owner()->value(); }
    void setCurrentValue(const QVariant& value) override {
        bool isNumber = false;
        const double chosen = value.toDouble(&isNumber);
        // An inert slider (its section switched off) takes no value either.
        if (isNumber && widget()->isEnabled()) owner()->chooseValue(chosen);
    }
    QVariant maximumValue() const override { return owner()->options().range.upper; }
    QVariant minimumValue() const override { return owner()->options().range.lower; }
    QVariant minimumStepSize() const override { return owner()->options().precisionStep; }

private:
    ValueSlider* owner() const { return static_cast<Track*>(widget())->owner(); }
};

QAccessibleInterface* trackFactory(const QString&, QObject* object) {
    if (auto* track = dynamic_cast<Track*>(object)) return new SettingSliderInterface(track);
    return nullptr;
}

} // namespace

ValueSlider::ValueSlider(Options options, QWidget* parent)
    : QWidget(parent), options_(std::move(options)), scale_(options_.range, options_.step),
      fineScale_(options_.range, options_.precisionStep), value_(options_.defaultValue),
      title_(new QLabel(options_.title)), valueText_(new QLabel), stepper_(new StepperButtons),
      reset_(new ResetButton(options_.title, [this] { edit(options_.defaultValue); })), slider_(nullptr),
      help_(new Explain(options_.help)) {
    // Before the track exists: its interface is made once, when first asked for.
    static const bool readsTheSetting = [] {
        QAccessible::installFactory(trackFactory);
        return true;
    }();
    (void)readsTheSetting;
    slider_ = new Track(this);
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

    stepper_->setNamesFor(options_.title);
    stepper_->setAccessibleName(options_.title);
    top->addWidget(stepper_, 0, Qt::AlignVCenter);
    top->addWidget(reset_, 0, Qt::AlignVCenter);
    reset_->reachFrom(this);
    column->addLayout(top);

    slider_->setRange(0, scale_.maximumPosition());
    slider_->setSingleStep(1);
    slider_->setPageStep(std::max(1, scale_.maximumPosition() / 10));
    slider_->setAccessibleName(options_.title);
    slider_->installEventFilter(this);
    column->addWidget(slider_);
    column->addWidget(help_);

    // Every change of the slider's position writes, however it was made: a
    // drag, keys, a click on the groove, the wheel of a focused slider. The
    // program's own fills are made under a signal blocker, so they never
    // write; a reader's values come through chooseValue.
    connect(slider_, &QSlider::valueChanged, this, [this](int position) { sliderMoved(position); });
    connect(stepper_->upButton(), &QToolButton::clicked, this,
            [this] { edit(scale_.nudged(value_, options_.precisionStep)); });
    connect(stepper_->downButton(), &QToolButton::clicked, this,
            [this] { edit(scale_.nudged(value_, -options_.precisionStep)); });

    display(value_);
}

QToolButton* ValueSlider::stepUpButton() const { return stepper_->upButton(); }

QToolButton* ValueSlider::stepDownButton() const { return stepper_->downButton(); }

void ValueSlider::setValue(double value) { display(value); }

void ValueSlider::chooseValue(double value) {
    if (std::isnan(value)) return;
    // On the slider's own grid where the fine step gives none.
    const SliderScale& grid = fineScale_.maximumPosition() > 0 ? fineScale_ : scale_;
    const double chosen = grid.maximumPosition() > 0 ? grid.valueAt(grid.positionOf(value)) : grid.clamped(value);
    if (chosen != value_) edit(chosen);
}

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
    QToolButton* step = direction > 0 ? stepUpButton() : stepDownButton();
    if (step->isEnabled()) step->click();
    return true;
}

void ValueSlider::display(double value) {
    const bool changed = value != value_;
    value_ = value;
    const QString text = options_.format(value);
    valueText_->setText(text);
    stepper_->setAccessibleDescription(text);
    slider_->setAccessibleDescription(text);
    const int position = scale_.positionOf(value);
    const bool moves = position != slider_->value();
    {
        const QSignalBlocker blocker(slider_);
        slider_->setValue(position);
    }
    // A track that moves tells readers itself; a fine step between two of
    // its positions is told here, so that the reader says the new value.
    if (changed && !moves) {
        QAccessibleValueChangeEvent event(slider_, value_);
        QAccessible::updateAccessibility(&event);
    }
    // The stepper stops at the ends of the range.
    const double clamped = scale_.clamped(value);
    stepper_->setLimits(clamped < options_.range.upper, clamped > options_.range.lower);
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
