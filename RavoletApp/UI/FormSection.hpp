#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QVBoxLayout;

namespace ravolet {

class Explain;

// One section of a settings page: a plain-text header, a framed group that
// holds the section's rows, and an optional explanation under the group.
class FormSection : public QWidget {
    Q_OBJECT
public:
    explicit FormSection(const QString& title, const QString& footer = QString(), QWidget* parent = nullptr);

    // Where the section's rows go.
    QVBoxLayout* rows() const { return rows_; }
    QLabel* header() const { return header_; }
    Explain* footer() const { return footer_; }

private:
    QLabel* header_ = nullptr;
    QVBoxLayout* rows_ = nullptr;
    Explain* footer_ = nullptr;
};

} // namespace ravolet
