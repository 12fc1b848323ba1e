#pragma once

#include <QString>
#include <QWidget>

class QToolButton;

namespace ravolet {

// The two arrows of a stepper, side by side: the one that steps down, then
// the one that steps up. Each is at least 24 pixels square (more in a larger
// font), so that a hand can hit it, and repeats while held. Neither is a Tab
// stop: the control beside them takes the same steps from the keyboard, and
// a reader presses them by name.
class StepperButtons : public QWidget {
public:
    static constexpr int minimumSide = 24;

    explicit StepperButtons(QWidget* parent = nullptr);

    QToolButton* upButton() const { return up_; }
    QToolButton* downButton() const { return down_; }

    // The names a reader hears, "Increase <what>" and "Decrease <what>".
    void setNamesFor(const QString& what);
    // Each arrow is enabled while the value can still move its way.
    void setLimits(bool canStepUp, bool canStepDown);

private:
    QToolButton* up_;
    QToolButton* down_;
};

} // namespace ravolet
