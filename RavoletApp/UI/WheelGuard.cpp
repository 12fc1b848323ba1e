#include "RavoletApp/UI/WheelGuard.hpp"

#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QPointer>
#include <QScrollBar>
#include <QWheelEvent>
#include <QWidget>

namespace ravolet {

namespace {

void keepWheelFromFocusing(QWidget* control) {
    if (control->focusPolicy() == Qt::WheelFocus) control->setFocusPolicy(Qt::StrongFocus);
}

// Hands the wheel to the nearest scroll area around the control that can
// still move that way, as if the control had not been there.
void passToScrollArea(QWidget* control, const QWheelEvent& wheel) {
    for (QWidget* outer = control->parentWidget(); outer != nullptr; outer = outer->parentWidget()) {
        auto* area = qobject_cast<QAbstractScrollArea*>(outer);
        if (area == nullptr) {
            if (outer->isWindow()) return;
            continue;
        }
        QWidget* viewport = area->viewport();
        // A control in the area's own margins (a corner widget) is not on its page.
        if (!viewport->isAncestorOf(control)) continue;
        QWheelEvent passed(viewport->mapFromGlobal(wheel.globalPosition()), wheel.globalPosition(),
                           wheel.pixelDelta(), wheel.angleDelta(), wheel.buttons(), wheel.modifiers(),
                           wheel.phase(), wheel.inverted(), wheel.source(), wheel.pointingDevice());
        passed.setAccepted(false);
        QCoreApplication::sendEvent(viewport, &passed);
        // A scroll area at its end ignores the wheel: the one around it may move.
        if (passed.isAccepted() || area->isWindow()) return;
    }
}

class WheelGuard final : public QObject {
public:
    explicit WheelGuard(QObject* parent) : QObject(parent) {
        // Controls polished before the guard came keep no wheel focus either.
        for (QWidget* widget : QApplication::allWidgets())
            if (isWheelGuarded(widget)) keepWheelFromFocusing(widget);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::Polish:
            if (isWheelGuarded(watched)) keepWheelFromFocusing(static_cast<QWidget*>(watched));
            return false;
        case QEvent::Wheel: {
            if (!isWheelGuarded(watched)) return false;
            auto* control = static_cast<QWidget*>(watched);
            if (control->hasFocus()) return false;
            passToScrollArea(control, *static_cast<QWheelEvent*>(event));
            // Handled: the control never sees it, and Qt does not pass it on a second time.
            event->accept();
            return true;
        }
        default: return false;
        }
    }
};

} // namespace

bool isWheelGuarded(const QObject* object) {
    if (qobject_cast<const QComboBox*>(object) != nullptr || qobject_cast<const QAbstractSpinBox*>(object) != nullptr)
        return true;
    return qobject_cast<const QAbstractSlider*>(object) != nullptr && qobject_cast<const QScrollBar*>(object) == nullptr;
}

void installWheelGuard() {
    // One guard per application object (tests make only one, the program too).
    static QPointer<WheelGuard> installed;
    auto* application = QCoreApplication::instance();
    if (application == nullptr || installed != nullptr) return;
    installed = new WheelGuard(application);
    application->installEventFilter(installed);
}

} // namespace ravolet
