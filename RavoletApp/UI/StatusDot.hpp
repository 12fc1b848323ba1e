#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

#include "RavoletApp/UI/AccessibleSummary.hpp"

class QLabel;

namespace ravolet {

// A coloured 8 × 8 dot followed by a short text. Assistive technology reads
// it as one element: named by its caption ("Status" unless the page names
// it), the text its value, and the dot's meaning its description.
class StatusDot : public QWidget, public AccessibleSummary {
    Q_OBJECT
public:
    enum class Level { good, waiting, bad, off };

    StatusDot(Level level, const QString& text, QWidget* parent = nullptr);

    Level level() const { return level_; }
    void setLevel(Level level);
    QString text() const;
    void setText(const QString& text);
    // A long sentence wraps and takes the row's whole width; by default the
    // text stays on one line.
    void setWordWrap(bool wraps);
    QLabel* label() const { return text_; }
    // What the line is the status of, for assistive technology.
    void setCaption(const QString& caption) { caption_ = caption; }

    AccessibleReading accessibleReading() const override;

    // green, orange, red, and the secondary text colour for off.
    static QColor color(Level level, const QPalette& palette);
    // Where the dot is drawn, in the widget's coordinates.
    QRect dotRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Level level_;
    QLabel* text_;
    QString caption_ = QStringLiteral("Status");
};

} // namespace ravolet
