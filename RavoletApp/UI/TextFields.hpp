#pragma once

#include <QLineEdit>
#include <QSignalBlocker>

#include <algorithm>

namespace ravolet {

// Shows the document's text in a field the user may be typing in: written
// only when it differs (so typing that reads back unchanged is left alone),
// without announcing an edit, and keeping the cursor where it was.
inline void showTextKeepingCursor(QLineEdit* field, const QString& shown) {
    if (field->text() == shown) return;
    const QSignalBlocker blocker(field);
    const int cursor = field->cursorPosition();
    field->setText(shown);
    field->setCursorPosition(std::min(cursor, static_cast<int>(shown.size())));
}

} // namespace ravolet
