#pragma once

#include <array>
#include <memory>

#include <QWidget>

#include "RavoletApp/Model/AppModel.hpp"
#include "RavoletApp/UI/ProfileScope.hpp"

class QCheckBox;
class QComboBox;
class QPushButton;

namespace ravolet {

class Explain;
class FactList;
class NoticeBanner;
class PageSection;
class StatusDot;
class ValueSlider;

// The Pointer page: whether Ravolet manages the mouse's own settings, the
// profile's DPI with presets, the report rate and wheel resolution, the
// desktop's acceleration for the mouse and what libinput believes of it, the profile's pointer
// speed and acceleration curve, and starting at login. It keeps no copy of
// the settings: every change of what it reads refills it (under signal
// blockers), and only the user's own edits write, the profile through the
// binding and the rest through the model, the tuner and the login item.
class PointerTab : public QWidget {
    Q_OBJECT
public:
    PointerTab(std::shared_ptr<AppModel> model, ProfileBinding& binding, QWidget* parent = nullptr);

    // The process's pointer tuner, or the one the model's engines are given.
    static std::shared_ptr<PointerHardwareTuning> tunerOf(const AppModel& model);

    PageSection* deviceControlSection() const { return deviceControl_; }
    PageSection* dpiSection() const { return dpiSection_; }
    PageSection* reportRateSection() const { return reportRateSection_; }
    PageSection* wheelSection() const { return wheelSection_; }
    PageSection* hardwareSection() const { return hardwareSection_; }
    PageSection* movementSection() const { return movementSection_; }
    PageSection* speedSection() const { return speedSection_; }
    PageSection* curveSection() const { return curveSection_; }
    PageSection* loginSection() const { return loginSection_; }

    QCheckBox* managesSwitch() const { return manages_; }
    ValueSlider* dpiSlider() const { return dpi_; }
    const std::vector<QPushButton*>& presetButtons() const { return presets_; }
    QComboBox* reportRatePicker() const { return reportRate_; }
    QComboBox* wheelPicker() const { return wheel_; }
    QCheckBox* tuningSwitch() const { return tuning_; }
    QCheckBox* pointerSwitch() const { return pointerEnabled_; }
    ValueSlider* speedSlider() const { return speed_; }
    QCheckBox* accelerationSwitch() const { return acceleration_; }
    ValueSlider* thresholdSlider() const { return threshold_; }
    ValueSlider* exponentSlider() const { return exponent_; }
    ValueSlider* maxGainSlider() const { return maxGain_; }
    StatusDot* pointerStatusLine() const { return status_; }
    QCheckBox* loginSwitch() const { return login_; }

protected:
    // Re-reads what the desktop does to the mouse each time the page comes on screen.
    void showEvent(QShowEvent* event) override;

private:
    void build();
    void buildDeviceSections();
    void buildHardwareSection();
    void buildPointerSections();
    void buildLoginSection();
    void watch();
    void refresh();
    void editPointer(const std::function<void(PointerSettings&)>& change);
    void setTuning(bool enabled);

    std::shared_ptr<AppModel> model_;
    ProfileBinding& binding_;
    std::shared_ptr<PointerHardwareTuning> tuner_;

    PageSection* deviceControl_ = nullptr;
    PageSection* dpiSection_ = nullptr;
    PageSection* reportRateSection_ = nullptr;
    PageSection* wheelSection_ = nullptr;
    PageSection* hardwareSection_ = nullptr;
    PageSection* movementSection_ = nullptr;
    PageSection* speedSection_ = nullptr;
    PageSection* curveSection_ = nullptr;
    PageSection* loginSection_ = nullptr;

    QCheckBox* manages_ = nullptr;
    ValueSlider* dpi_ = nullptr;
    std::vector<QPushButton*> presets_;
    FactList* acceptance_ = nullptr;
    Explain* acceptanceUnknown_ = nullptr;
    QComboBox* reportRate_ = nullptr;
    FactList* runningAt_ = nullptr;
    QComboBox* wheel_ = nullptr;
    FactList* wheelFacts_ = nullptr;

    FactList* beliefs_ = nullptr;
    Explain* beliefsUnknown_ = nullptr;
    QCheckBox* tuning_ = nullptr;
    QWidget* tuningRow_ = nullptr;
    std::array<Explain*, 2> tuningExplanations_{};
    NoticeBanner* othersWarning_ = nullptr;
    NoticeBanner* recovered_ = nullptr;
    FactList* applied_ = nullptr;
    NoticeBanner* failure_ = nullptr;

    QCheckBox* pointerEnabled_ = nullptr;
    ValueSlider* speed_ = nullptr;
    QCheckBox* acceleration_ = nullptr;
    StatusDot* status_ = nullptr;
    ValueSlider* threshold_ = nullptr;
    ValueSlider* exponent_ = nullptr;
    ValueSlider* maxGain_ = nullptr;

    QCheckBox* login_ = nullptr;
    Explain* loginSentence_ = nullptr;
    Explain* loginRefusal_ = nullptr;
};

} // namespace ravolet
