#include "RavoletApp/UI/FormSection.hpp"

#include <QFrame>
#include <QLabel>
#include <QVBoxLayout>

#include "RavoletApp/UI/Explain.hpp"
#include "RavoletApp/UI/Style.hpp"

namespace ravolet {

FormSection::FormSection(const QString& title, const QString& footer, QWidget* parent) : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    header_ = new QLabel(title, this);
    header_->setTextFormat(Qt::PlainText);
    applyTextStyle(header_, TextStyle::headline);
    column->addWidget(header_);

    auto* group = new QFrame(this);
    group->setFrameShape(QFrame::StyledPanel);
    rows_ = new QVBoxLayout(group);
    rows_->setContentsMargins(12, 10, 12, 10);
    rows_->setSpacing(10);
    column->addWidget(group);

    if (!footer.isEmpty()) {
        footer_ = new Explain(footer, this);
        column->addWidget(footer_);
    }
}

} // namespace ravolet
