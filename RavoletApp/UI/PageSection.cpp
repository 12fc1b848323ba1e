#include "RavoletApp/UI/PageSection.hpp"

#include <QFrame>
#include <QLabel>
#include <QVBoxLayout>

#include "RavoletApp/UI/Explain.hpp"
#include "RavoletApp/UI/FactRow.hpp"
#include "RavoletApp/UI/Style.hpp"

namespace ravolet {

PageSection::PageSection(const QString& title, QWidget* parent) : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    header_ = new QLabel(this);
    applyTextStyle(header_, TextStyle::headline);
    column->addWidget(header_);
    setTitle(title);
    box_ = new QFrame(this);
    box_->setFrameShape(QFrame::StyledPanel);
    rows_ = new QVBoxLayout(box_);
    rows_->setContentsMargins(12, 8, 12, 10);
    rows_->setSpacing(8);
    column->addWidget(box_);
    footer_ = new Explain(QString(), this);
    footer_->hide();
    column->addWidget(footer_);
}

PageSection::PageSection(const QString& title, const QString& footer, QWidget* parent) : PageSection(title, parent) {
    if (!footer.isEmpty()) setFooter(footer);
}

void PageSection::setTitle(const QString& title) {
    header_->setText(title);
    header_->setVisible(!title.isEmpty());
}

QString PageSection::title() const { return header_->text(); }

void PageSection::addRow(QWidget* row) { rows_->addWidget(row); }

Explain* PageSection::addExplain(const QString& text) { return add(new Explain(text)); }

void PageSection::setFooter(const std::optional<QString>& text) {
    footer_->setText(text.value_or(QString()));
    footer_->setVisible(text.has_value());
}

FactList::FactList(QWidget* parent) : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
}

void FactList::setFacts(const std::vector<PageFact>& facts) {
    const auto help = [](const PageFact& fact) {
        return fact.help ? std::optional<QString>(qtText(*fact.help)) : std::nullopt;
    };
    std::size_t kept = 0;
    while (kept < facts.size() && kept < rows_.size() &&
           rows_[kept]->labelLabel()->text() == qtText(facts[kept].label)) {
        rows_[kept]->setValue(qtText(facts[kept].value));
        rows_[kept]->setHelp(help(facts[kept]));
        ++kept;
    }
    while (rows_.size() > kept) {
        delete rows_.back();
        rows_.pop_back();
    }
    for (std::size_t i = kept; i < facts.size(); ++i) {
        auto* row = new FactRow(qtText(facts[i].label), qtText(facts[i].value), help(facts[i]), this);
        layout()->addWidget(row);
        rows_.push_back(row);
    }
    setVisible(!facts.empty());
}

StatusDot::Level statusDotLevel(PageStatusLevel level) {
    switch (level) {
    case PageStatusLevel::good: return StatusDot::Level::good;
    case PageStatusLevel::waiting: return StatusDot::Level::waiting;
    case PageStatusLevel::bad: return StatusDot::Level::bad;
    case PageStatusLevel::off: break;
    }
    return StatusDot::Level::off;
}

NoticeBanner::Kind noticeBannerKind(PageNoticeKind kind) {
    switch (kind) {
    case PageNoticeKind::warning: return NoticeBanner::Kind::warning;
    case PageNoticeKind::problem: return NoticeBanner::Kind::problem;
    case PageNoticeKind::informational: break;
    }
    return NoticeBanner::Kind::informational;
}

void showStatus(StatusDot* dot, const PageStatusLine& line) {
    dot->setLevel(statusDotLevel(line.level));
    dot->setText(qtText(line.text));
}

void showNotice(NoticeBanner* banner, const std::optional<PageNotice>& notice) {
    if (notice) {
        banner->setKind(noticeBannerKind(notice->kind));
        banner->setTitle(qtText(notice->title));
        banner->setMessage(qtText(notice->message));
        banner->setCommands(qtTexts(notice->commands));
    }
    banner->setVisible(notice.has_value());
}

void showOptionalText(QWidget* label, const std::optional<std::string>& text) {
    if (auto* plain = qobject_cast<QLabel*>(label)) plain->setText(text ? qtText(*text) : QString());
    label->setVisible(text.has_value());
}

} // namespace ravolet
