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

    // What the lines are drawn on: the plate over the Try It section's own
    // plate over the page, where the Scroll page shows the chart, and the
    // plate over the page alone, where it stands by itself. Each line says
    // something, so it stands out from both as a graphic must.
    const QColor page = palette().color(QPalette::Window);
    const std::initializer_list<QColor> under{composited(plate, composited(sectionFill(palette()), page)),
                                              composited(plate, page)};

    const GlideChartGeometry geometry =
        glideChartGeometry(plan_ ? &*plan_ : nullptr, static_cast<double>(width()), static_cast<double>(height()));

    // The baseline, a hairline laid on whole pixels so that it is drawn in
    // its colour rather than smeared over two rows at half of it.
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(quietInk(palette(), under, minimumGraphicContrast), 1));
    painter.drawLine(point(geometry.baselineStart), point(geometry.baselineEnd));
    painter.setRenderHint(QPainter::Antialiasing);

    if (geometry.curve.size() < 2) return;
    QPainterPath curve(point(geometry.curve.front()));
    for (auto at = geometry.curve.begin() + 1; at != geometry.curve.end(); ++at) curve.lineTo(point(*at));
    QPen pen(accentInk(palette(), under, minimumGraphicContrast), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    pen.setMiterLimit(10);
    painter.strokePath(curve, pen);
}

} // namespace ravolet
