#pragma once

#include <optional>
#include <string>
#include <vector>

#include <QWidget>
#include <QString>

#include "RavoletApp/UI/NoticeBanner.hpp"
#include "RavoletApp/UI/QtText.hpp"
#include "RavoletApp/UI/StatusDot.hpp"
#include "RavoletApp/ViewModels/PageFacts.hpp"

class QFrame;
class QLabel;
class QVBoxLayout;

namespace ravolet {

class Explain;
class FactRow;

// One titled group of a settings page: a header, its rows stacked in a framed
// box, and an optional footer line under the box; with no title, no header. Disabling the section makes every
// control in it inert.
class PageSection : public QWidget {
    Q_OBJECT
public:
    explicit PageSection(const QString& title, QWidget* parent = nullptr);
    // With a footer, unless it is empty.
    PageSection(const QString& title, const QString& footer, QWidget* parent = nullptr);

    void setTitle(const QString& title);
    QString title() const;
    // Appends a row and returns it.
    template <class W>
    W* add(W* row) {
        addRow(row);
        return row;
    }
    Explain* addExplain(const QString& text);
    // Shows, changes or (with nullopt) hides the footer.
    void setFooter(const std::optional<QString>& text);
    Explain* footer() const { return footer_; }
    // Where the rows go, for a page that lays out more than a plain stack.
    QVBoxLayout* rows() const { return rows_; }

private:
    void addRow(QWidget* row);

    QLabel* header_;
    QFrame* box_;
    QVBoxLayout* rows_;
    Explain* footer_;
};

// A run of fact rows that follows a list of facts: rows whose labels stay are
// updated in place, so a counter that changes does not rebuild the page.
class FactList : public QWidget {
    Q_OBJECT
public:
    explicit FactList(QWidget* parent = nullptr);

    void setFacts(const std::vector<PageFact>& facts);
    const std::vector<FactRow*>& rows() const { return rows_; }

private:
    std::vector<FactRow*> rows_;
};

StatusDot::Level statusDotLevel(PageStatusLevel level);
NoticeBanner::Kind noticeBannerKind(PageNoticeKind kind);
void showStatus(StatusDot* dot, const PageStatusLine& line);
// Fills the banner from the notice and shows it, or hides it for none.
void showNotice(NoticeBanner* banner, const std::optional<PageNotice>& notice);
// Sets the text and shows the label, or hides it for none.
void showOptionalText(QWidget* label, const std::optional<std::string>& text);

} // namespace ravolet
