#pragma once

#include <QWidget>

#include <memory>

#include "Core/ScrollSettings.hpp"
#include "RavoletApp/Model/AppModel.hpp"

class QScrollArea;

namespace ravolet {

class Explain;
class GlideChart;
class StatusDot;

// "Try It": what one wheel click does with the edited settings (the chart of
// its glide and a sentence with its numbers), a panel to scroll in with the
// real mouse, and a line saying whether the real wheel is reshaped right now.
// It only reads: the settings it is given and the model's grants, pause and
// engine status. On the simulated machine, the wheel and the buttons used over
// the panel drive the simulated mouse (the model's tryItMouse), and the panel
// scrolls by the glide the engine makes of them.
class ScrollPreview : public QWidget {
    Q_OBJECT
public:
    explicit ScrollPreview(std::shared_ptr<AppModel> model, QWidget* parent = nullptr);

    // Works the glide out afresh for these settings.
    void setSettings(const ScrollSettings& settings);

    GlideChart* chart() const { return chart_; }
    Explain* caption() const { return caption_; }
    QWidget* testPanel() const { return testPanel_; }
    // The panel's rows, where the wheel is turned.
    QScrollArea* testPanelScroller() const;
    StatusDot* liveStatus() const { return liveStatus_; }

private:
    void refreshLiveStatus();

    std::shared_ptr<AppModel> model_;
    GlideChart* chart_;
    Explain* caption_;
    QWidget* testPanel_;
    StatusDot* liveStatus_;
};

} // namespace ravolet
