#pragma once

#include <QLabel>

namespace ravolet {

// One paragraph of explanation under a control: caption size, secondary
// colour, wrapped to as many lines as it needs.
class Explain : public QLabel {
    Q_OBJECT
public:
    explicit Explain(const QString& text, QWidget* parent = nullptr);
};

} // namespace ravolet
