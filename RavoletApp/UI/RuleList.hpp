#pragma once

#include <QWidget>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "Core/Profile.hpp"
#include "Core/Rule.hpp"
#include "RavoletApp/Model/AppModel.hpp"

class QFrame;

namespace ravolet {

class RuleRow;

// The per-application rules of the Profiles page: a rule row for each rule,
// each with a divider below. A document may hold thousands of rules and a row
// is a few dozen widgets, so rows are made only for the rules in view and a
// screenful either side, as they scroll into view, and let go again when they
// are well out of it (never the one that holds the keyboard focus). The rest
// of the list is blank space as high as its rows will be, so the page scrolls
// over the whole list. Nothing is made while the list is not on screen.
//
// Every row is given the same mechanisms as rows made with the page: the
// application-wide wheel guard holds for them, and Tab reaches them where
// they are drawn.
class RuleList : public QWidget {
    Q_OBJECT
public:
    explicit RuleList(std::shared_ptr<AppModel> model, QWidget* parent = nullptr);

    // The rules shown and the profiles their rows offer. Rows stay while the
    // rules keep their identifiers in their order, and take the new values (so
    // typing keeps its field and cursor); otherwise every row is made again.
    void setRules(const std::vector<Rule>& rules, const std::vector<Profile>& profiles);

    std::size_t ruleCount() const { return rules_.size(); }
    // The rows made now, in the order of their rules.
    std::vector<RuleRow*> rows() const;
    // The row of a rule, when it is made.
    RuleRow* rowAt(std::size_t index) const;
    // Where the row of a rule starts, in the list.
    int topOf(std::size_t index) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void ruleEdited(const ravolet::Rule& rule);
    void deleteRequested(const std::string& ruleID);
    // -1: up, +1: down.
    void moveRequested(const std::string& ruleID, int offset);

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    struct Slot {
        RuleRow* row = nullptr;
        QFrame* divider = nullptr;
        // The row's own height, once measured; until then the estimate.
        int rowHeight = 0;
    };

    // Makes the rows in view and lets go of those far from it.
    void realize();
    void scheduleRealize();
    void followScrollAreas();
    void make(std::size_t index);
    void release(Slot& slot);
    // Measures the made rows again; true when a height changed.
    bool measure();
    int rowHeightOf(std::size_t index) const;
    int slotHeight(std::size_t index) const;
    // Positions every made row and sets the list's height.
    void place();
    // The part of the list the window shows, in the list's coordinates.
    QRect visibleArea() const;
    std::size_t indexAt(int y) const;

    const std::shared_ptr<AppModel> model_;
    std::vector<Rule> rules_;
    std::vector<Profile> profiles_;
    std::vector<Slot> slots_;
    // Where each slot starts; one more entry for the end.
    std::vector<int> tops_{0};
    int estimatedRowHeight_ = 0;
    int minimumRowWidth_ = 0;
    bool realizePending_ = false;
    bool followingScrollAreas_ = false;
};

} // namespace ravolet
