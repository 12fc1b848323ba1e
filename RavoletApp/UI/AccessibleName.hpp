#pragma once

#include <QString>
#include <QWidget>

class QAbstractItemView;
class QAbstractScrollArea;
class QComboBox;
class QLabel;
class QModelIndex;

namespace ravolet {

// Names the widget for assistive technology only when the name differs:
// every setAccessibleName() tells readers the name changed, and a reader may
// say the focused control again for each, at every refill of a page.
inline void renameForReaders(QWidget* widget, const QString& name) {
    if (widget->accessibleName() != name) widget->setAccessibleName(name);
}

// Links a drop-down list to the label that says what it sets. On Linux Qt
// names a combo box by its current choice and passes over the name given to
// it, so a reader learns what the list sets only from its label (AT-SPI's
// labelled-by relation), which Qt looks for among the list's siblings: the
// two must share a parent. The label is read as `readerName` where its text
// alone does not say which row it is in ("Use profile for rule 2"), else as
// its text.
void labelForReaders(QLabel* label, QComboBox* list, const QString& readerName = {});
// The setting's title with the row it is in, as a label of a repeated row is
// read: "Does, step 2 of binding 1"; the title alone outside a row.
QString inRow(const QString& title, const QString& row);

// A scrolling area that is a Tab stop of its own (its keys scroll it) is read
// as the one object in focus while it has it: its viewport no longer stands
// in for it, so that it no longer reports the focus too.
void focusAsOne(QAbstractScrollArea* area);

// A list (or any item view) tells assistive technology that its current entry
// has the focus whether or not the list has it. The view keeps a current entry
// only while it holds the focus, and makes its selected entry current again
// when the focus comes back, so that the keys go on from there.
void currentEntryOnlyWithTheFocus(QAbstractItemView* view);
// Selects the entry as a click would, making it current only while the view
// has the focus (see above).
void selectEntry(QAbstractItemView* view, const QModelIndex& entry);

} // namespace ravolet
