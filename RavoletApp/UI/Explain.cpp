#include "RavoletApp/UI/Explain.hpp"

#include "RavoletApp/UI/Style.hpp"

namespace ravolet {

Explain::Explain(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setAlignment(Qt::AlignLeading | Qt::AlignTop);
    applyTextStyle(this, TextStyle::caption);
    applyTextColor(this, SystemColor::secondary);
}

} // namespace ravolet
