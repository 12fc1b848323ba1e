#include "RavoletApp/UI/GlideChart.hpp"

#include <QPainter>
#include <QPainterPath>

#include "RavoletApp/UI/Style.hpp"
#include "RavoletApp/ViewModels/ScrollPreviewRules.hpp"

namespace ravolet {

namespace {

constexpr int chartHeight = 90;

QPointF point(const ChartPoint& p) { return {p.x, p.y}; }

} // namespace

GlideChart::GlideChart(QWidget* parent) : QWidget(parent) {
    setFixedHeight(chartHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(QStringLiteral("Chart of how far one wheel click travels over time"));
}

void GlideChart::setPlan(std::optional<ScrollPlan> plan) {
    if (plan_ == plan) return;
    plan_ = std::move(plan);
    update();
}

QSize GlideChart::sizeHint() const { return {240, chartHeight}; }

void GlideChart::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    // The plate the chart sits on: the faintest fill, rounded.
    const QColor plate = systemColor(SystemColor::quaternary, palette(), 0.35F);
    painter.setPen(Qt::NoPen);
    painter.setBrush(plate);
    painter.drawRoundedRect(QRectF(rect()), 6, 6);
    painter.setBrush(Qt::NoBrush);

    const GlideChartGeometry geometry =
        glideChartGeometry(plan_ ? &*plan_ : nullptr, static_cast<double>(width()), static_cast<double>(height()));

    painter.setPen(QPen(systemColor(SystemColor::secondary, palette(), 0.35F), 1));
    painter.drawLine(point(geometry.baselineStart), point(geometry.baselineEnd));

    if (geometry.curve.size() < 2) return;
    QPainterPath curve(point(geometry.curve.front()));
    for (auto at = geometry.curve.begin() + 1; at != geometry.curve.end(); ++at) curve.lineTo(point(*at));
    // The curve is the chart's one line that says something: it stands out
    // from the plate as a graphic must.
    const QColor ink = accentInk(palette(), {composited(plate, palette().color(QPalette::Window))}, minimumGraphicContrast);
    QPen pen(ink, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    pen.setMiterLimit(10);
    painter.strokePath(curve, pen);
}

} // namespace ravolet
