#pragma once

#include <QAccessible>
#include <QList>
#include <QString>

class QWidget;

namespace ravolet {

// How a composite widget is read by assistive technology: as one element with
// its own name and value, in place of the labels it is drawn from (which would
// otherwise be read one by one, the caption as often as it is repeated), and
// with only the children that stay separate (its buttons, an explanation).
struct AccessibleReading {
    QAccessible::Role role = QAccessible::StaticText;
    QString name;
    QString value;
    QString description;
    QList<QWidget*> children;
};

// Implemented by a widget that is read as one element. Its constructor calls
// readAsOneElement() so that Qt asks it for its reading.
class AccessibleSummary {
public:
    virtual ~AccessibleSummary() = default;
    virtual AccessibleReading accessibleReading() const = 0;

protected:
    // Makes Qt read every such widget through its reading (once per process).
    static void readAsOneElement();
    // Tells assistive technology that the element's value changed.
    static void announceValueChange(QWidget* widget, const QString& value);
};

} // namespace ravolet
