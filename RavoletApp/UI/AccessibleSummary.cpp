#include "RavoletApp/UI/AccessibleSummary.hpp"

#include <QAccessibleWidget>
#include <QWidget>

namespace ravolet {

namespace {

// The element a summarising widget is read as. Its value is also offered as
// the element's text, which is where AT-SPI readers look for a label's words.
class SummaryInterface final : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    SummaryInterface(QWidget* widget, const AccessibleSummary& summary)
        : QAccessibleWidget(widget), summary_(summary) {}

    QAccessible::Role role() const override { return reading().role; }

    QString text(QAccessible::Text kind) const override {
        const AccessibleReading now = reading();
        switch (kind) {
        case QAccessible::Name: return now.name;
        case QAccessible::Value: return now.value;
        case QAccessible::Description: return now.description;
        default: return QAccessibleWidget::text(kind);
        }
    }

    int childCount() const override { return static_cast<int>(reading().children.size()); }
    QAccessibleInterface* child(int index) const override {
        const QList<QWidget*> children = reading().children;
        if (index < 0 || index >= children.size()) return nullptr;
        return QAccessible::queryAccessibleInterface(children[index]);
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        if (child == nullptr) return -1;
        return static_cast<int>(reading().children.indexOf(qobject_cast<QWidget*>(child->object())));
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        for (QWidget* kid : reading().children) {
            QAccessibleInterface* face = QAccessible::queryAccessibleInterface(kid);
            if (face && face->rect().contains(x, y)) return face;
        }
        return nullptr;
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    // Read-only text: the value, with no caret and no selection.
    QString text(int start, int end) const override { return reading().value.mid(start, end - start); }
    int characterCount() const override { return static_cast<int>(reading().value.size()); }
    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int* start, int* end) const override {
        *start = *end = offset;
        return {};
    }

private:
    AccessibleReading reading() const { return summary_.accessibleReading(); }

    const AccessibleSummary& summary_;
};

QAccessibleInterface* summaryFactory(const QString&, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    const auto* summary = dynamic_cast<const AccessibleSummary*>(object);
    if (widget == nullptr || summary == nullptr) return nullptr;
    return new SummaryInterface(widget, *summary);
}

} // namespace

void AccessibleSummary::readAsOneElement() {
    static const bool installed = [] {
        QAccessible::installFactory(summaryFactory);
        return true;
    }();
    (void)installed;
}

void AccessibleSummary::announceValueChange(QWidget* widget, const QString& value) {
    if (!QAccessible::isActive()) return;
    QAccessibleValueChangeEvent event(widget, value);
    QAccessible::updateAccessibility(&event);
}

} // namespace ravolet
