#pragma once

#include <QKeySequence>
#include <QString>
#include <QToolButton>

#include <functional>

namespace ravolet {

// A small borderless button that puts one setting back to its factory value.
// It is shown whether or not the setting is already at its default, and hidden
// wherever the container-wide switch below says so.
class ResetButton : public QToolButton {
    Q_OBJECT
public:
    ResetButton(QString title, std::function<void()> action, QWidget* parent = nullptr);

    const QString& title() const { return title_; }
    // "Reset <title> to default": the tooltip and the accessible name.
    static QString helpText(const QString& title);

    // The key that resets the setting whose control has the focus.
    static QKeySequence key();
    // Makes the reset of the control in `area` no Tab stop of its own: the
    // key, pressed anywhere in the area, presses it instead (while it is
    // shown), and its tooltip names the key. The keyboard passes one stop per
    // setting, and a reader still finds the button by name.
    void reachFrom(QWidget* area);
    // The area whose key presses the button; none for a button that is a Tab
    // stop itself.
    QWidget* reachedFrom() const { return area_; }

    // Showing is subject to the switch: a button under a container that hides
    // resets stays hidden, and comes back when the switch is turned on again.
    void setVisible(bool visible) override;

protected:
    bool event(QEvent* event) override;

private:
    friend void setShowsSettingResets(QWidget*, bool);
    void followSwitch();

    QString title_;
    std::function<void()> action_;
    QWidget* area_ = nullptr;
    bool hiddenBySwitch_ = false;
};

// The container-wide switch: false hides every reset button below the
// container (inside value sliders and resettable rows as well), true shows
// them again; the other controls stay. The nearest container that sets it
// decides; where none does, resets are shown.
void setShowsSettingResets(QWidget* container, bool shows);
bool showsSettingResets(const QWidget* widget);

// A row holding the control, then a reset button with the title and action,
// centred vertically, 8 apart. The control takes the row's spare width, so the
// reset buttons of a page line up at its trailing edge. The button is reached
// from the control by the reset key, not by Tab.
QWidget* resettable(QWidget* control, const QString& title, std::function<void()> action);

} // namespace ravolet
