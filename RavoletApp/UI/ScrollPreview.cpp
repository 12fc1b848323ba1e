#include "RavoletApp/UI/ScrollPreview.hpp"

#include <QApplication>
#include <QFontDatabase>
#include <QLabel>
#include <QPainter>
#include <QMouseEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <cstdlib>

#include "RavoletApp/UI/AccessibleName.hpp"
#include "RavoletApp/UI/Explain.hpp"
#include "RavoletApp/UI/GlideChart.hpp"
#include "RavoletApp/UI/InputMapping.hpp"
#include "RavoletApp/UI/ModelObserver.hpp"
#include "RavoletApp/UI/StatusDot.hpp"
#include "RavoletApp/UI/Style.hpp"
#include "RavoletApp/ViewModels/ScrollPreviewRules.hpp"

namespace ravolet {

namespace {

// The measures for the standard body text; a larger font scales them.
constexpr int rowCount = 60;
constexpr int designedRowHeight = 16;
constexpr int rowInsetX = 8;
constexpr int rowInsetY = 6;
constexpr int designedNumberWidth = 24;
constexpr int rowSpacing = 8;
constexpr int panelHeight = 120;
constexpr qreal cornerRadius = 6;

// Numbered rows with a rule each, a stronger one every fifth, so that the
// glide of the wheel can be watched against something.
class TestRows : public QWidget {
public:
    explicit TestRows(QWidget* parent)
        : QWidget(parent), rowHeight_(fontScaled(designedRowHeight, font())),
          numberWidth_(fontScaled(designedNumberWidth, font())) {
        QFont numbers = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        numbers.setPointSizeF(textFont(TextStyle::caption, font()).pointSizeF());
        setFont(numbers);
        setFixedHeight(2 * rowInsetY + rowCount * rowHeight_);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QColor numberColor = systemColor(SystemColor::tertiary, palette());
        const int lineStart = rowInsetX + numberWidth_ + rowSpacing;
        const int lineEnd = width() - rowInsetX;
        for (int row = 0; row < rowCount; ++row) {
            const int top = rowInsetY + row * rowHeight_;
            painter.setPen(numberColor);
            painter.drawText(QRect(rowInsetX, top, numberWidth_, rowHeight_), Qt::AlignRight | Qt::AlignVCenter,
                             QString::asprintf("%02d", row));
            const bool major = row % 5 == 0;
            painter.setPen(major ? QPen(systemColor(SystemColor::accent, palette(), 0.35F), 2)
                                 : QPen(systemColor(SystemColor::secondary, palette(), 0.18F), 1));
            const qreal middle = top + rowHeight_ / 2.0;
            if (lineEnd > lineStart) painter.drawLine(QPointF(lineStart, middle), QPointF(lineEnd, middle));
        }
    }

private:
    const int rowHeight_;
    const int numberWidth_;
};

// The plate of the test panel: a faint rounded fill outlined inside its edge.
// With a mouse to drive (the simulated machine's), the wheel turns and button
// presses made over the rows go to that mouse instead, and the rows scroll by
// what then reaches the system: the glide the engine made of them.
class TestPanel : public QWidget {
public:
    TestPanel(QWidget* parent, std::shared_ptr<MouseFeed> mouse, const std::shared_ptr<platform::Executor>& ui)
        : QWidget(parent), mouse_(std::move(mouse)) {
        setFixedHeight(fontScaled(panelHeight, font()));
        scroller_ = new QScrollArea(this);
        auto* scroller = scroller_;
        // A Tab stop of its own, whose keys scroll the rows.
        scroller->setAccessibleName(QStringLiteral("Rows to scroll"));
        scroller->setFrameShape(QFrame::NoFrame);
        scroller->setWidgetResizable(true);
        scroller->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scroller->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        scroller->viewport()->setAutoFillBackground(false);
        auto* rows = new TestRows(scroller);
        rows->setAutoFillBackground(false);
        scroller->setWidget(rows);
        focusAsOne(scroller);
        auto* layout = new QVBoxLayout(this);
        // Clear of the outline and the rounded corners.
        layout->setContentsMargins(1, 3, 3, 3);
        layout->addWidget(scroller);
        if (mouse_) {
            rows->installEventFilter(this);
            scrolling_ = mouse_->watchScrolling(ui, [this](const MouseFeed::Scroll& scroll) { follow(scroll); });
        }
    }

    QScrollArea* scroller() const { return scroller_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::Wheel: {
            // Qt counts a wheel click as 120; finer wheels add up to whole clicks.
            const QPoint angle = static_cast<QWheelEvent*>(event)->angleDelta();
            pendingAngle_ += angle;
            const auto clicks = [](int& pending) {
                const int whole = pending / 120;
                pending -= whole * 120;
                return whole;
            };
            const int vertical = clicks(pendingAngle_.ry());
            const int horizontal = clicks(pendingAngle_.rx());
            // One turn a click, as the mouse would send them.
            for (int i = 0; i < std::abs(vertical); ++i) mouse_->turnWheel(vertical > 0 ? 1 : -1, 0);
            for (int i = 0; i < std::abs(horizontal); ++i) mouse_->turnWheel(0, horizontal > 0 ? 1 : -1);
            event->accept();
            return true;
        }
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease: {
            const auto* press = static_cast<QMouseEvent*>(event);
            if (const auto number = mouseButtonNumber(press->button()))
                mouse_->pressButton(*number, event->type() == QEvent::MouseButtonPress);
            event->accept();
            return true;
        }
        default: return QWidget::eventFilter(watched, event);
        }
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF inside = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        painter.setPen(QPen(systemColor(SystemColor::separator, palette()), 1));
        painter.setBrush(systemColor(SystemColor::quaternary, palette(), 0.25F));
        painter.drawRoundedRect(inside, cornerRadius, cornerRadius);
    }

private:
    void follow(const MouseFeed::Scroll& scroll) {
        QScrollBar* bar = scroller_->verticalScrollBar();
        // Positive scrolls up, towards the first row; a plain click moves lines as Qt's wheel does.
        const std::int64_t pixels = scroll.isContinuous
                                        ? scroll.vertical
                                        : scroll.vertical * QApplication::wheelScrollLines() * bar->singleStep();
        bar->setValue(bar->value() - static_cast<int>(pixels));
    }

    const std::shared_ptr<MouseFeed> mouse_;
    QScrollArea* scroller_ = nullptr;
    QPoint pendingAngle_;
    platform::Subscription scrolling_;
};

StatusDot::Level dotLevel(LiveScrollStatus::Level level) {
    switch (level) {
    case LiveScrollStatus::Level::good: return StatusDot::Level::good;
    case LiveScrollStatus::Level::waiting: return StatusDot::Level::waiting;
    case LiveScrollStatus::Level::bad: return StatusDot::Level::bad;
    case LiveScrollStatus::Level::off: return StatusDot::Level::off;
    }
    return StatusDot::Level::off;
}

} // namespace

ScrollPreview::ScrollPreview(std::shared_ptr<AppModel> model, QWidget* parent)
    : QWidget(parent),
      model_(std::move(model)),
      chart_(new GlideChart(this)),
      caption_(new Explain(QString(), this)),
      testPanel_(new TestPanel(this, model_->dependencies().tryItMouse, model_->dependencies().ui)),
      liveStatus_(new StatusDot(StatusDot::Level::off, QString(), this)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 4, 0, 4);
    column->setSpacing(10);
    column->addWidget(chart_);
    column->addWidget(caption_);
    column->addWidget(testPanel_);
    column->addWidget(liveStatus_);

    applyTextStyle(liveStatus_, TextStyle::caption);
    // The sentences are long: they wrap, using the whole width of the section.
    liveStatus_->setWordWrap(true);
    liveStatus_->setCaption(QStringLiteral("Live scrolling"));
    applyTextColor(liveStatus_->label(), SystemColor::secondary);

    setSettings(ScrollSettings{});
    refreshLiveStatus();
    observeWhileAlive(this, model_->permissions(), [this](const PermissionState&) { refreshLiveStatus(); });
    observeWhileAlive(this, model_->status(), [this](const EngineStatus&) { refreshLiveStatus(); });
    modelConnections(this).keep(model_->preferences().isPausedByUser.observe([this](bool) { refreshLiveStatus(); }));
}

QScrollArea* ScrollPreview::testPanelScroller() const { return static_cast<TestPanel*>(testPanel_)->scroller(); }

void ScrollPreview::setSettings(const ScrollSettings& settings) {
    std::optional<ScrollPlan> plan = previewPlan(settings);
    caption_->setText(QString::fromStdString(previewCaption(plan)));
    chart_->setPlan(std::move(plan));
}

void ScrollPreview::refreshLiveStatus() {
    const LiveScrollStatus live = liveScrollStatus(model_->permissions().value(),
                                                   model_->preferences().isPausedByUser.value(),
                                                   model_->status().value());
    liveStatus_->setLevel(dotLevel(live.level));
    liveStatus_->setText(QString::fromStdString(live.text));
}

} // namespace ravolet
