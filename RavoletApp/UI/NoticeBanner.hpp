#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

#include "RavoletApp/UI/AccessibleSummary.hpp"

#include <vector>

class QHBoxLayout;
class QLabel;
class QPushButton;

namespace ravolet {

class CommandLine;
class CommandList;

// A tinted notice above a page: the kind's icon, a title, a message that wraps
// to as many lines as it needs (it is never cut, and never inside a path),
// the shell commands the message speaks of, each whole with its copy button,
// and a row of the caller's buttons, on a rounded background in the kind's
// tint. Assistive technology reads it as one element named by its title, the
// message its value, with its commands and buttons inside.
class NoticeBanner : public QWidget, public AccessibleSummary {
    Q_OBJECT
public:
    enum class Kind { informational, warning, problem };

    NoticeBanner(Kind kind, const QString& title, const QString& message, QWidget* parent = nullptr);

    Kind kind() const { return kind_; }
    void setKind(Kind kind);
    void setTitle(const QString& title);
    void setMessage(const QString& message);
    const QString& message() const { return messageText_; }
    // Shows these commands under the message, in place of the ones before.
    void setCommands(const QStringList& commands);
    const std::vector<CommandLine*>& commandLines() const;

    // Appends a control to the actions row (the banner takes ownership).
    void addAction(QWidget* control);
    // Appends a push button with the text and returns it for connecting.
    QPushButton* addButton(const QString& text);

    // The accent colour, orange or red.
    static QColor tint(Kind kind, const QPalette& palette);
    // "info.circle.fill", "exclamationmark.triangle.fill", "xmark.octagon.fill".
    static QString symbolName(Kind kind);

    QLabel* titleLabel() const { return title_; }
    QLabel* messageLabel() const { return message_; }
    QLabel* iconLabel() const { return icon_; }
    QHBoxLayout* actionsRow() const { return actions_; }

    AccessibleReading accessibleReading() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void refreshIcon();

    Kind kind_;
    QLabel* icon_;
    QLabel* title_;
    QLabel* message_;
    QString messageText_;
    CommandList* commands_;
    QHBoxLayout* actions_;
};

} // namespace ravolet
