#pragma once

class QObject;
class QWidget;

namespace ravolet {

// Keeps the wheel from editing settings it only passes over. The settings
// pages are long scrolling forms, and Qt's sliders, combo boxes and spin boxes
// change their value on the wheel by default: a wheel turned over one of them
// that does not have keyboard focus goes on to the scroll area around it and
// changes nothing, as desktop settings tools do; a control the user focused
// (by a click or by Tab) takes the wheel as usual.
//
// One filter on the application does it for every such control, also for
// those made after it was installed (rows added later, editors swapped in).
// It also takes the wheel out of their focus policy as they are polished, so
// turning the wheel over a control never gives it focus on the way.
void installWheelGuard();

// Whether the guard holds the wheel back from this widget: a slider (not a
// scroll bar), a combo box or a spin box.
bool isWheelGuarded(const QObject* object);

} // namespace ravolet
