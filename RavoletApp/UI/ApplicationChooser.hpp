#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>

#include <optional>
#include <string>
#include <vector>

#include "Platform/ApplicationCatalogue.hpp"

class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QStyle;

namespace ravolet {

// The icon a desktop entry names (a file, or a name in the icon theme); the
// theme's generic program icon when neither gives one.
QIcon applicationIcon(const std::string& icon, const QStyle* style);

// Picking one of the installed applications: their icons and names from the
// desktop entries, in the order given, with a search field that keeps those
// whose name or identifier holds what is typed. A double click or "Choose"
// takes the selected one; Escape or "Cancel" takes none. The title and the
// sentence above the list say what the application is picked for.
class ApplicationChooser : public QDialog {
    Q_OBJECT
public:
    ApplicationChooser(std::vector<platform::DesktopApplication> applications, const QString& title,
                       const QString& prompt, QWidget* parent = nullptr);

    // The application chosen, once accepted; none otherwise.
    std::optional<QString> chosenBundleID() const;

    QLabel* promptLabel() const { return prompt_; }
    QLineEdit* searchField() const { return search_; }
    QListWidget* list() const { return list_; }
    QDialogButtonBox* buttons() const { return buttons_; }
    // The identifiers the list shows now, in order.
    QStringList shownBundleIDs() const;

private:
    void filter(const QString& text);
    void selectionChanged();

    QLabel* prompt_;
    QLineEdit* search_;
    QListWidget* list_;
    QDialogButtonBox* buttons_;
};

} // namespace ravolet
