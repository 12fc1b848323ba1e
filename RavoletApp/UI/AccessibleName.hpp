#pragma once

#include <QString>
#include <QWidget>

namespace ravolet {

// Names the widget for assistive technology only when the name differs:
// every setAccessibleName() tells readers the name changed, and a reader may
// say the focused control again for each, at every refill of a page.
inline void renameForReaders(QWidget* widget, const QString& name) {
    if (widget->accessibleName() != name) widget->setAccessibleName(name);
}

} // namespace ravolet
