#include "RavoletApp/UI/AccessibleName.hpp"

#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QComboBox>
#include <QEvent>
#include <QItemSelectionModel>
#include <QLabel>

namespace ravolet {

namespace {

// Clears the view's current entry as the focus leaves it and makes the
// selected entry current again as the focus comes back.
class CurrentEntryWithTheFocus final : public QObject {
public:
    explicit CurrentEntryWithTheFocus(QAbstractItemView* view) : QObject(view), view_(view) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        QItemSelectionModel* selection = view_->selectionModel();
        if (watched != view_ || selection == nullptr) return false;
        if (event->type() == QEvent::FocusIn && !selection->currentIndex().isValid()) {
            const QModelIndexList selected = selection->selectedIndexes();
            if (!selected.isEmpty()) selection->setCurrentIndex(selected.front(), QItemSelectionModel::NoUpdate);
        } else if (event->type() == QEvent::FocusOut) {
            selection->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
        }
        return false;
    }

private:
    QAbstractItemView* view_;
};

} // namespace

void labelForReaders(QLabel* label, QComboBox* list, const QString& readerName) {
    label->setBuddy(list);
    renameForReaders(label, readerName.isEmpty() ? label->text() : readerName);
    // Where a platform does read a combo box's own name, it is the same.
    renameForReaders(list, label->accessibleName());
}

QString inRow(const QString& title, const QString& row) { return row.isEmpty() ? title : title + QStringLiteral(", ") + row; }

void focusAsOne(QAbstractScrollArea* area) { area->viewport()->setFocusProxy(nullptr); }

void currentEntryOnlyWithTheFocus(QAbstractItemView* view) {
    view->installEventFilter(new CurrentEntryWithTheFocus(view));
}

void selectEntry(QAbstractItemView* view, const QModelIndex& entry) {
    QItemSelectionModel* selection = view->selectionModel();
    if (view->hasFocus()) {
        selection->setCurrentIndex(entry, QItemSelectionModel::ClearAndSelect);
        return;
    }
    selection->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    selection->select(entry, QItemSelectionModel::ClearAndSelect);
}

} // namespace ravolet
