#pragma once

#include <QFrame>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <vector>

class QLabel;
class QToolButton;

namespace ravolet {

// A shell command to run, shown apart from the sentences around it: in the
// fixed-pitch font on a plate, selectable, broken only at blanks (the broken
// lines carry the shell's continuation mark, so a selection of all of them
// still pastes as the one command), with a button that copies it as one line.
class CommandLine : public QFrame {
    Q_OBJECT
public:
    explicit CommandLine(const QString& command = {}, QWidget* parent = nullptr);

    void setCommand(const QString& command);
    const QString& command() const { return command_; }

    QLabel* textLabel() const { return text_; }
    QToolButton* copyButton() const { return copy_; }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // The command's lines when the whole widget is `width` wide.
    QStringList linesFor(int width) const;
    int chrome() const;
    void layOut();

    QString command_;
    QLabel* text_;
    QToolButton* copy_;
};

// The commands a remedy speaks of, one CommandLine each, stacked; nothing
// while there are none. Setting the same commands again keeps the lines, so a
// selection in one survives a refresh.
class CommandList : public QWidget {
    Q_OBJECT
public:
    explicit CommandList(QWidget* parent = nullptr);
    void setCommands(const QStringList& commands);
    const std::vector<CommandLine*>& lines() const { return lines_; }

private:
    std::vector<CommandLine*> lines_;
};

} // namespace ravolet
