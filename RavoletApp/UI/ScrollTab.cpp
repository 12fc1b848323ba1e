#include "RavoletApp/UI/ScrollTab.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

#include "RavoletApp/UI/AccessibleName.hpp"
#include "RavoletApp/UI/Explain.hpp"
#include "RavoletApp/UI/ProfileScope.hpp"
#include "RavoletApp/UI/ResetButton.hpp"
#include "RavoletApp/UI/ScrollPreview.hpp"
#include "RavoletApp/UI/Style.hpp"
#include "RavoletApp/UI/ValueSlider.hpp"

namespace ravolet {

namespace {

QString text(std::string_view view) { return QString::fromUtf8(view.data(), static_cast<qsizetype>(view.size())); }

// The rounded plate that holds one section's rows, as a grouped form draws it.
class FormGroup : public QWidget {
public:
    explicit FormGroup(QWidget* parent) : QWidget(parent) {
        rows_ = new QVBoxLayout(this);
        rows_->setContentsMargins(14, 12, 14, 12);
        rows_->setSpacing(8);
    }

    QVBoxLayout* rows() const { return rows_; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(systemColor(SystemColor::separator, palette()), 1));
        painter.setBrush(sectionFill(palette()));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    }

private:
    QVBoxLayout* rows_;
};

// A section: its header (a title, or the control that folds it) above its plate.
struct SectionParts {
    QWidget* section;
    FormGroup* group;
};

SectionParts makeSection(QWidget* header, QWidget* parent) {
    auto* section = new QWidget(parent);
    auto* column = new QVBoxLayout(section);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    header->setParent(section);
    column->addWidget(header);
    auto* group = new FormGroup(section);
    column->addWidget(group);
    return {section, group};
}

QLabel* sectionTitle(const QString& title) {
    auto* label = new QLabel(title);
    applyTextStyle(label, TextStyle::headline);
    return label;
}

// A title on the leading side and its picker on the trailing side.
QWidget* pickerRow(const QString& title, QComboBox* picker) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    auto* label = new QLabel(title, row);
    layout->addWidget(label);
    layout->addStretch(1);
    picker->setParent(row);
    labelForReaders(label, picker);
    layout->addWidget(picker);
    return row;
}

} // namespace

ScrollTab::ScrollTab(std::shared_ptr<AppModel> model, ProfileBinding& binding, QWidget* parent)
    : QWidget(parent), model_(std::move(model)), binding_(binding) {
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(20, 16, 20, 20);
    page->setSpacing(18);

    const auto addSection = [&](Section which, QWidget* header) {
        const SectionParts parts = makeSection(header, this);
        sections_.at(static_cast<std::size_t>(which)) = parts.section;
        page->addWidget(parts.section);
        return parts.group->rows();
    };
    const auto makeSlider = [this](ScrollSlider which) {
        const ScrollSliderShape& shape = scrollSlider(which);
        auto* slider = new ValueSlider({.title = text(shape.title),
                                        .help = text(shape.help),
                                        .range = {shape.lower, shape.upper},
                                        .step = shape.step,
                                        .defaultValue = shape.defaultValue,
                                        .precisionStep = shape.fineStep,
                                        .format = [readOut = shape.readOut](double value) {
                                            return QString::fromStdString(readOut(value));
                                        }});
        // Written exactly as the widget gives it: no clamping or rounding here.
        connect(slider, &ValueSlider::valueEdited, this, [this, field = shape.field](double value) {
            editScroll([&](ScrollSettings& scroll) { scroll.*field = value; });
        });
        sliders_.at(static_cast<std::size_t>(which)) = slider;
        return slider;
    };
    const auto makeToggle = [this](const QString& title, const std::function<void(ScrollSettings&, bool)>& write) {
        auto* toggle = new QCheckBox(title);
        // toggled, however the switch is flipped (a click, the space bar, a
        // screen reader); refill() sets it under a signal blocker.
        connect(toggle, &QCheckBox::toggled, this,
                [this, write](bool on) { editScroll([&](ScrollSettings& scroll) { write(scroll, on); }); });
        return toggle;
    };
    const auto resetting = [this](QWidget* control, const QString& title,
                                  const std::function<void(ScrollSettings&)>& reset) {
        return resettable(control, title, [this, reset] { editScroll(reset); });
    };

    // Smooth Scrolling
    {
        QVBoxLayout* rows = addSection(Section::smoothScrolling, sectionTitle(QStringLiteral("Smooth Scrolling")));
        const QString title = QStringLiteral("Smooth the scroll wheel");
        smoothing_ = makeToggle(title, [](ScrollSettings& scroll, bool on) { scroll.isEnabled = on; });
        rows->addWidget(resetting(smoothing_, title, [](ScrollSettings& scroll) { scroll.isEnabled = true; }));
        rows->addWidget(new Explain(QStringLiteral(
            "Your mouse reports one big jump per wheel click. With this on, Ravolet swallows that jump and plays it "
            "back as a short, smooth glide — the way a touchpad scrolls. Turn it off and the wheel behaves exactly "
            "as your desktop ships it.")));
    }

    // Which Directions
    {
        QVBoxLayout* rows = addSection(Section::directions, sectionTitle(QStringLiteral("Which Directions")));
        const auto addAxis = [&](ScrollAxis axis, const QString& title, const QString& explanation) {
            QCheckBox* toggle =
                makeToggle(title, [axis](ScrollSettings& scroll, bool on) { setAxis(scroll, axis, on); });
            rows->addWidget(resetting(toggle, title, [axis](ScrollSettings& scroll) { setAxis(scroll, axis, true); }));
            rows->addWidget(new Explain(explanation));
            return toggle;
        };
        vertical_ = addAxis(ScrollAxis::vertical, QStringLiteral("Up and down"),
                            QStringLiteral("The normal wheel. Leave this on unless you only want the tilt wheel "
                                           "smoothed."));
        horizontal_ = addAxis(ScrollAxis::horizontal, QStringLiteral("Left and right"),
                              QStringLiteral("The tilt wheel, if your mouse has one."));
    }

    // Feel
    {
        QVBoxLayout* rows = addSection(Section::feel, sectionTitle(QStringLiteral("Feel")));
        const QString activationTitle = QStringLiteral("Smooth scrolling applies");
        activation_ = new QComboBox;
        for (ActivationChoice choice : allActivationChoices)
            activation_->addItem(text(title(choice)), static_cast<int>(choice));
        connect(activation_, &QComboBox::activated, this, [this](int index) {
            const auto choice = static_cast<ActivationChoice>(activation_->itemData(index).toInt());
            editScroll([&](ScrollSettings& scroll) { scroll.activationModifiers = activationModifiers(choice); });
        });
        rows->addWidget(resetting(pickerRow(activationTitle, activation_), activationTitle,
                                  [](ScrollSettings& scroll) { scroll.activationModifiers = std::nullopt; }));
        rows->addWidget(new Explain(QStringLiteral(
            "In GIMP, Krita and Inkscape, Ctrl + wheel is zoom, and that is where the staircase is worst. Pick a "
            "modifier here if you want ordinary document scrolling left exactly as your desktop does it and only "
            "zoom smoothed.")));
        rows->addWidget(makeSlider(ScrollSlider::distance));
        rows->addWidget(makeSlider(ScrollSlider::glideLength));

        const QString shapeTitle = QStringLiteral("Glide shape");
        glideShape_ = new QComboBox;
        for (Easing easing : glideShapeOrder) glideShape_->addItem(text(glideShapeTitle(easing)), static_cast<int>(easing));
        connect(glideShape_, &QComboBox::activated, this, [this](int index) {
            const auto easing = static_cast<Easing>(glideShape_->itemData(index).toInt());
            editScroll([&](ScrollSettings& scroll) { scroll.easing = easing; });
        });
        rows->addWidget(resetting(pickerRow(shapeTitle, glideShape_), shapeTitle,
                                  [](ScrollSettings& scroll) { scroll.easing = Easing::easeOut; }));
        rows->addWidget(new Explain(QStringLiteral(
            "How the movement is spread over the glide. Ease out responds instantly and settles; ease in and out is "
            "gentler at both ends, which reads better when the wheel is driving a zoom.")));

        const QString reverseTitle = QStringLiteral("Reverse the direction");
        reverse_ = makeToggle(reverseTitle, [](ScrollSettings& scroll, bool on) { scroll.isInverted = on; });
        rows->addWidget(resetting(reverse_, reverseTitle, [](ScrollSettings& scroll) { scroll.isInverted = false; }));
        rows->addWidget(new Explain(QStringLiteral(
            "Flips the wheel direction for smoothed scrolling only. This is independent of the system-wide "
            "“Natural scrolling” setting, so you can have one direction on the wheel and another on a touchpad.")));
    }

    // Acceleration
    {
        QVBoxLayout* rows = addSection(Section::acceleration, sectionTitle(QStringLiteral("Acceleration")));
        const QString title = QStringLiteral("Speed up when you spin the wheel quickly");
        acceleration_ = makeToggle(title, [](ScrollSettings& scroll, bool on) { scroll.accelerationEnabled = on; });
        rows->addWidget(
            resetting(acceleration_, title, [](ScrollSettings& scroll) { scroll.accelerationEnabled = true; }));
        rows->addWidget(new Explain(QStringLiteral(
            "Wheel clicks that arrive in quick succession travel further each time, so a long document takes a "
            "flick rather than a minute of clicking.")));
        rows->addWidget(makeSlider(ScrollSlider::gain));
        rows->addWidget(makeSlider(ScrollSlider::speedLimit));
    }

    // Try It
    {
        QVBoxLayout* rows = addSection(Section::tryIt, sectionTitle(QStringLiteral("Try It")));
        preview_ = new ScrollPreview(model_);
        rows->addWidget(preview_);
    }

    // Advanced, folded until the user opens it
    {
        advancedDisclosure_ = new QToolButton;
        advancedDisclosure_->setText(QStringLiteral("Advanced"));
        advancedDisclosure_->setAutoRaise(true);
        advancedDisclosure_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        advancedDisclosure_->setFont(textFont(TextStyle::headline, font()));
        const SectionParts parts = makeSection(advancedDisclosure_, this);
        sections_.at(static_cast<std::size_t>(Section::advanced)) = parts.section;
        page->addWidget(parts.section);
        advancedContent_ = parts.group;
        QVBoxLayout* rows = parts.group->rows();
        rows->addWidget(makeSlider(ScrollSlider::frameInterval));
        rows->addWidget(makeSlider(ScrollSlider::maxInFlight));
        fullReset_ = new QPushButton(QStringLiteral("Reset this profile's scrolling to Ravolet's defaults"));
        connect(fullReset_, &QPushButton::clicked, this,
                [this] { editScroll([](ScrollSettings& scroll) { scroll = factoryScrollSettings(); }); });
        rows->addWidget(fullReset_, 0, Qt::AlignLeading);
        connect(advancedDisclosure_, &QToolButton::clicked, this, [this] { setShowsAdvanced(!showsAdvanced_); });
        setShowsAdvanced(false);
    }
    page->addStretch(1);

    refill();
    connect(&binding_, &ProfileBinding::changed, this, &ScrollTab::refill);
}

void ScrollTab::editScroll(const std::function<void(ScrollSettings&)>& change) {
    binding_.edit([&](Profile& profile) { change(profile.scroll); });
}

void ScrollTab::setShowsAdvanced(bool shows) {
    showsAdvanced_ = shows;
    advancedDisclosure_->setArrowType(shows ? Qt::DownArrow : Qt::RightArrow);
    advancedContent_->setVisible(shows);
}

void ScrollTab::refill() {
    const ScrollSettings scroll = binding_.value().scroll;
    const auto fill = [](auto* widget, auto&& set) {
        const QSignalBlocker blocker(widget);
        set(widget);
    };
    fill(smoothing_, [&](QCheckBox* box) { box->setChecked(scroll.isEnabled); });
    fill(vertical_, [&](QCheckBox* box) { box->setChecked(isAxisOn(scroll, ScrollAxis::vertical)); });
    fill(horizontal_, [&](QCheckBox* box) { box->setChecked(isAxisOn(scroll, ScrollAxis::horizontal)); });
    fill(activation_, [&](QComboBox* box) {
        box->setCurrentIndex(box->findData(static_cast<int>(activationChoice(scroll.activationModifiers))));
    });
    fill(glideShape_, [&](QComboBox* box) { box->setCurrentIndex(box->findData(static_cast<int>(scroll.easing))); });
    fill(reverse_, [&](QCheckBox* box) { box->setChecked(scroll.isInverted); });
    fill(acceleration_, [&](QCheckBox* box) { box->setChecked(scroll.accelerationEnabled); });
    for (std::size_t index = 0; index < sliders_.size(); ++index)
        sliders_[index]->setValue(scroll.*(scrollSlider(static_cast<ScrollSlider>(index)).field));

    const ScrollPageEnablement enabled = scrollPageEnablement(scroll);
    section(Section::directions)->setEnabled(enabled.directions);
    section(Section::feel)->setEnabled(enabled.feel);
    section(Section::acceleration)->setEnabled(enabled.acceleration);
    section(Section::advanced)->setEnabled(enabled.advanced);
    slider(ScrollSlider::gain)->setEnabled(enabled.accelerationSliders);
    slider(ScrollSlider::speedLimit)->setEnabled(enabled.accelerationSliders);

    preview_->setSettings(scroll);
}

} // namespace ravolet
