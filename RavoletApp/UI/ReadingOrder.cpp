#include "RavoletApp/UI/ReadingOrder.hpp"

#include <QScrollArea>
#include <QWidget>

#include <algorithm>

namespace ravolet {

namespace {

bool isTabStop(const QWidget* widget) {
    return (widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && widget->isEnabled() &&
           widget->focusProxy() == nullptr;
}

// For two children of one parent: a wholly higher one first; of two that
// share some height (a row, or columns side by side), the leading one.
bool readsBefore(const QWidget* a, const QWidget* b) {
    const QRect first = a->geometry();
    const QRect second = b->geometry();
    if (first.bottom() < second.top()) return true;
    if (second.bottom() < first.top()) return false;
    if (first.left() != second.left()) {
        const bool leftFirst = first.left() < second.left();
        return a->isRightToLeft() ? !leftFirst : leftFirst;
    }
    return first.top() < second.top();
}

void collectStops(const QWidget* parent, std::vector<QWidget*>& stops) {
    std::vector<QWidget*> children;
    for (QObject* object : parent->children()) {
        auto* child = qobject_cast<QWidget*>(object);
        if (child != nullptr && !child->isWindow() && child->isVisible()) children.push_back(child);
    }
    // An insertion sort: stable, and sound although "reads before" is no
    // strict order for every arrangement of rectangles.
    for (std::size_t i = 1; i < children.size(); ++i) {
        QWidget* child = children[i];
        std::size_t j = i;
        for (; j > 0 && readsBefore(child, children[j - 1]); --j) children[j] = children[j - 1];
        children[j] = child;
    }
    for (QWidget* child : children) {
        if (isTabStop(child)) stops.push_back(child);
        collectStops(child, stops);
    }
}

} // namespace

std::vector<QWidget*> tabStopsInReadingOrder(QWidget* window) {
    std::vector<QWidget*> stops;
    if (window != nullptr && window->isVisible()) collectStops(window, stops);
    return stops;
}

bool moveFocusInReadingOrder(QWidget* window, bool forward) {
    const std::vector<QWidget*> stops = tabStopsInReadingOrder(window);
    if (stops.empty()) return false;
    // The stop that holds the focus: the focused widget, or the stop it is part of.
    auto holder = stops.end();
    for (QWidget* widget = window->focusWidget(); widget != nullptr && widget != window && holder == stops.end();
         widget = widget->parentWidget()) {
        holder = std::ranges::find(stops, widget);
    }
    const std::size_t count = stops.size();
    std::size_t next = forward ? 0 : count - 1;
    if (holder != stops.end()) {
        const auto at = static_cast<std::size_t>(holder - stops.begin());
        next = forward ? (at + 1) % count : (at + count - 1) % count;
    }
    QWidget* target = stops[next];
    target->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    for (QWidget* outer = target->parentWidget(); outer != nullptr && outer != window; outer = outer->parentWidget()) {
        if (auto* area = qobject_cast<QScrollArea*>(outer)) area->ensureWidgetVisible(target);
    }
    return true;
}

} // namespace ravolet
