#pragma once

#include <QWidget>

#include <vector>

namespace ravolet {

// Cells in as many columns of at least the minimum width as fit, filled row
// by row; the height follows the width.
class AdaptiveGrid : public QWidget {
public:
    static constexpr int minimumColumnWidth = 130;
    static constexpr int columnSpacing = 8;
    static constexpr int rowSpacing = 4;

    explicit AdaptiveGrid(QWidget* parent = nullptr);

    void addCell(QWidget* cell);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    // As for wrapped text, the height a width needs comes from heightForWidth;
    // the minimum is one row, so that a window is not held at the height of
    // its narrowest arrangement.
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    static int columnCount(int width);
    int rowCount(int width) const;
    int cellHeight() const;

    std::vector<QWidget*> cells_;
};

} // namespace ravolet
