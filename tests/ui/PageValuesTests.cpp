#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QRegularExpression>
#include <QWidget>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "RavoletApp/Model/SimulatedMachine.hpp"
#include "RavoletApp/UI/SettingsWindow.hpp"
#include "RavoletApp/ViewModels/DevicePageRules.hpp"
#include "RavoletApp/ViewModels/PointerPageRules.hpp"
#include "RavoletApp/ViewModels/SettingsTab.hpp"

namespace ravolet {
namespace {

// What a program's own debugging output looks like, as against the words and
// figures a person reads: a name given a value ("hiRes=true"), a call
// ("applied(dpi: 800)"), a raw enumeration or field name ("idle",
// "notPermitted", "true"), or a lone "-" for nothing.
const QRegularExpression debugText(QStringLiteral(
    "=|\\w\\(|\\b(true|false|idle|applying|applied|notPermitted|failed)\\b|\\b[a-z]+[A-Z]\\w*|^-$"));

// Every value the settings window's pages show in their rows and that a
// screen reader reads as an element's value or description, by the element's
// name.
class Values {
public:
    void addPage(QWidget& root) {
        std::vector<QWidget*> widgets{&root};
        for (QWidget* child : root.findChildren<QWidget*>()) widgets.push_back(child);
        for (QWidget* widget : widgets) {
            QAccessibleInterface* element = QAccessible::queryAccessibleInterface(widget);
            if (element == nullptr) continue;
            const QString name = element->text(QAccessible::Name);
            for (QAccessible::Text kind : {QAccessible::Value, QAccessible::Description}) {
                const QString text = element->text(kind);
                if (!text.isEmpty()) values_[name].insert(text);
            }
        }
    }
    void add(const std::vector<PageFact>& facts) {
        for (const PageFact& fact : facts) values_[QString::fromStdString(fact.label)].insert(QString::fromStdString(fact.value));
    }

    // The values that read as debugging output, with the name they are read under.
    std::vector<std::string> debugging() const {
        std::vector<std::string> found;
        for (const auto& [name, texts] : values_)
            for (const QString& text : texts)
                if (debugText.match(text).hasMatch()) found.push_back(name.toStdString() + ": " + text.toStdString());
        return found;
    }
    const std::set<QString>& of(const QString& name) { return values_[name]; }

private:
    std::map<QString, std::set<QString>> values_;
};

struct State {
    const char* name;
    // The machine made so before the program starts.
    std::function<void(SimulatedMachine&)> prepare;
};

TEST(PageValues, EveryValueOnEveryPageIsWordsOrFiguresAPersonReads) {
    const State states[] = {
        {"mouse read, high resolution and reversed", [](SimulatedMachine& m) { m.mouse->setWheelMode(0x06); }},
        {"no mouse",
         [](SimulatedMachine& m) {
             m.mouse->unplug();
             m.privateHID->detach(SimulatedMachine::mouseServiceID);
         }},
        {"mouse refused", [](SimulatedMachine& m) { m.mouse->refuseOpen(platform::kIOReturnNotPermitted); }},
        {"DPI write refused", [](SimulatedMachine& m) { m.mouse->failNext({.featureID = 0x2201, .function = std::nullopt}, 0x02, 8); }},
    };
    Values values;
    for (const State& state : states) {
        SCOPED_TRACE(state.name);
        const auto machine = SimulatedMachine::makeInVirtualTime();
        state.prepare(*machine);
        const auto model = machine->makeModel();
        model->start();
        machine->advance(std::chrono::seconds(3));
        {
            SettingsWindow window(model, [] {});
            for (SettingsTab tab : {SettingsTab::scroll, SettingsTab::buttons, SettingsTab::pointer,
                                    SettingsTab::profiles, SettingsTab::device, SettingsTab::updates}) {
                window.selectTab(tab);
                QApplication::processEvents();
                machine->settle();
                QApplication::processEvents();
                values.addPage(window);
            }
        }
        model->stop();
    }
    // The states no machine above holds for long, through the same rules.
    for (const SettingsApplyState& apply :
         {SettingsApplyState::idle(), SettingsApplyState::applying(), SettingsApplyState::applied(800),
          SettingsApplyState::applied(std::nullopt), SettingsApplyState::notPermitted(),
          SettingsApplyState::failed("timed out")}) {
        EngineStatus status;
        status.deviceSettings = apply;
        values.add(engineActivityFacts(status, false));
    }
    for (std::uint8_t raw = 0; raw < 8; ++raw) {
        DeviceMonitor::Snapshot snapshot;
        snapshot.wheelMode = HIDPPWheelMode::fromRawValue(raw);
        values.add(mouseSettingsFacts(snapshot));
        values.add({*wheelModeFact(snapshot.wheelMode)});
    }

    // The rows this is about were read, in the words of their states.
    EXPECT_TRUE(values.of(QStringLiteral("Wheel mode")).contains(QStringLiteral("Plain HID wheel, high resolution, reversed")));
    EXPECT_TRUE(values.of(QStringLiteral("Wheel is currently")).contains(QStringLiteral("Plain HID wheel, high resolution, reversed")));
    EXPECT_GE(values.of(QStringLiteral("Applying settings")).size(), 6u);
    EXPECT_TRUE(values.of(QStringLiteral("Distance per wheel click")).contains(QStringLiteral("50 pt")));
    EXPECT_EQ(values.debugging(), std::vector<std::string>{});
}

} // namespace
} // namespace ravolet
