#pragma once

#include <QString>
#include <QWidget>

#include <optional>

#include "RavoletApp/UI/AccessibleSummary.hpp"

class QLabel;

namespace ravolet {

class Explain;

// A read-only fact: its label on the leading side, its value (selectable,
// trailing-aligned, wrapped onto more lines when long) on the trailing side,
// and an explanation under it when there is one. Assistive technology reads it
// as one element named by the label, whose value is the value.
class FactRow : public QWidget, public AccessibleSummary {
    Q_OBJECT
public:
    FactRow(const QString& label, const QString& value, std::optional<QString> help = std::nullopt,
            QWidget* parent = nullptr);

    void setValue(const QString& value);
    // Shows, changes or (with nullopt) removes the explanation.
    void setHelp(const std::optional<QString>& help);

    QLabel* labelLabel() const { return label_; }
    QLabel* valueLabel() const { return value_; }
    // The explanation, or null when the row has none.
    Explain* helpLabel() const { return help_; }

    AccessibleReading accessibleReading() const override;

private:
    QLabel* label_;
    QLabel* value_;
    Explain* help_ = nullptr;
};

} // namespace ravolet
