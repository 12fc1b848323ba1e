#pragma once

#include "RavoletApp/UI/SliderScale.hpp"

#include <QString>
#include <QWidget>

#include <functional>

class QLabel;
class QSlider;
class QToolButton;

namespace ravolet {

class Explain;
class ResetButton;
class StepperButtons;

// A labelled number setting: the title, the value as text, a fine stepper and
// a reset button on top; a slider over the range below; the help under that.
//
// The program fills it with setValue(), which never reports back; only the
// user's own edits (dragging or keying the slider, a screen reader setting
// its value, the stepper's buttons, the reset button) emit valueEdited. The value it holds is exactly what was set,
// even outside the range: the slider shows the nearest position, the text
// shows format(value), and nothing is written until the user moves something.
//
// From the keyboard the slider is the one stop: its arrows move by the
// slider's step, with Shift by the stepper's fine step, and the reset key
// (ResetButton::key()) resets. The stepper's buttons and the reset are no Tab
// stops of their own; a reader finds them by name ("Increase <title>").
//
// A reader is given the setting itself, not the slider's positions: the
// value, its range and the fine step in the units the page shows (50 for
// "50 pt", 1.0 for "1.00×"), and a value it sets in those units is taken as
// the user's choice (chooseValue).
class ValueSlider : public QWidget {
    Q_OBJECT
public:
    using Format = std::function<QString(double)>;

    struct Options {
        QString title;
        QString help;
        ValueRange range;
        double step = 1;
        double defaultValue = 0;
        double precisionStep = 1;
        Format format;
    };

    explicit ValueSlider(Options options, QWidget* parent = nullptr);

    double value() const { return value_; }
    // Fills the controls from the program; emits nothing.
    void setValue(double value);
    // A value the user chose in the setting's own units (a screen reader sets
    // one): put within the range on the nearest fine step, then written as a
    // drag writes. A value that does not move the setting writes nothing.
    void chooseValue(double value);

    const Options& options() const { return options_; }
    const SliderScale& scale() const { return scale_; }

    QLabel* titleLabel() const { return title_; }
    QLabel* valueLabel() const { return valueText_; }
    QSlider* slider() const { return slider_; }
    QToolButton* stepUpButton() const;
    QToolButton* stepDownButton() const;
    ResetButton* resetButton() const { return reset_; }
    Explain* helpLabel() const { return help_; }

Q_SIGNALS:
    // A value the user chose; write it to the setting.
    void valueEdited(double value);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void display(double value);
    void edit(double value);
    void sliderMoved(int position);

    Options options_;
    SliderScale scale_;
    // The fine step's grid, on which a reader's values land.
    SliderScale fineScale_;
    double value_;
    QLabel* title_;
    QLabel* valueText_;
    StepperButtons* stepper_;
    ResetButton* reset_;
    QSlider* slider_;
    Explain* help_;
};

} // namespace ravolet
