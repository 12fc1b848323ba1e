#pragma once

#include <QWidget>

#include <optional>

#include "Core/ScrollPlan.hpp"

namespace ravolet {

// A small drawing of one glide: how much of the click's travel has been
// delivered (bottom none, top all) as its time goes by (left to right), over a
// baseline. Without a plan only the baseline is drawn.
class GlideChart : public QWidget {
    Q_OBJECT
public:
    explicit GlideChart(QWidget* parent = nullptr);

    const std::optional<ScrollPlan>& plan() const { return plan_; }
    void setPlan(std::optional<ScrollPlan> plan);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<ScrollPlan> plan_;
};

} // namespace ravolet
