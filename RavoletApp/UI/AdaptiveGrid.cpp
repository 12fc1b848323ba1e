#include "RavoletApp/UI/AdaptiveGrid.hpp"

#include <algorithm>

namespace ravolet {

AdaptiveGrid::AdaptiveGrid(QWidget* parent) : QWidget(parent) {
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void AdaptiveGrid::addCell(QWidget* cell) {
    cell->setParent(this);
    cells_.push_back(cell);
    updateGeometry();
}

int AdaptiveGrid::heightForWidth(int width) const {
    const int rows = rowCount(width);
    return rows * cellHeight() + std::max(0, rows - 1) * rowSpacing;
}

QSize AdaptiveGrid::sizeHint() const {
    const int width = static_cast<int>(cells_.size()) * (minimumColumnWidth + columnSpacing) - columnSpacing;
    return {width, heightForWidth(width)};
}

QSize AdaptiveGrid::minimumSizeHint() const { return {minimumColumnWidth, cellHeight()}; }

void AdaptiveGrid::resizeEvent(QResizeEvent*) {
    const int columns = columnCount(width());
    const int cellWidth = (width() - (columns - 1) * columnSpacing) / columns;
    for (std::size_t i = 0; i < cells_.size(); ++i) {
        const int row = static_cast<int>(i) / columns;
        const int column = static_cast<int>(i) % columns;
        cells_[i]->setGeometry(column * (cellWidth + columnSpacing), row * (cellHeight() + rowSpacing), cellWidth,
                               cellHeight());
    }
}

int AdaptiveGrid::columnCount(int width) {
    return std::max(1, (width + columnSpacing) / (minimumColumnWidth + columnSpacing));
}

int AdaptiveGrid::rowCount(int width) const {
    const int columns = columnCount(width);
    return (static_cast<int>(cells_.size()) + columns - 1) / columns;
}

int AdaptiveGrid::cellHeight() const {
    int height = 0;
    for (const QWidget* cell : cells_) height = std::max(height, cell->sizeHint().height());
    return height;
}

} // namespace ravolet
