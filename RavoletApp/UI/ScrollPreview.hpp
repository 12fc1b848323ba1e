#pragma once

#include <QWidget>

#include <memory>

#include "Core/ScrollSettings.hpp"
#include "RavoletApp/Model/AppModel.hpp"

namespace ravolet {

class Explain;
class GlideChart;
class StatusDot;

// "Try It": what one wheel click does with the edited settings (the chart of
// its glide and a sentence with its numbers), a panel to scroll in with the
// real mouse, and a line saying whether the real wheel is reshaped right now.
// It only reads: the settings it is given and the model's grants, pause and
// engine status.
class ScrollPreview : public QWidget {
    Q_OBJECT
public:
    explicit ScrollPreview(std::shared_ptr<AppModel> model, QWidget* parent = nullptr);

    // Works the glide out afresh for these settings.
    void setSettings(const ScrollSettings& settings);

    GlideChart* chart() const { return chart_; }
    Explain* caption() const { return caption_; }
    QWidget* testPanel() const { return testPanel_; }
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
