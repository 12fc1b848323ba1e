#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QTest>

#include "RavoletApp/Model/SimulatedMachine.hpp"
#include "RavoletApp/UI/SettingsWindow.hpp"

namespace ravolet {
namespace {

// Every element under `face` that assistive technology is given.
void collect(QAccessibleInterface* face, std::vector<QAccessibleInterface*>& into) {
    if (face == nullptr) return;
    into.push_back(face);
    for (int i = 0; i < face->childCount(); ++i) collect(face->child(i), into);
}

std::vector<QAccessibleInterface*> elements(QWidget* widget) {
    std::vector<QAccessibleInterface*> all;
    collect(QAccessible::queryAccessibleInterface(widget), all);
    return all;
}

// What a reader of the text interface (AT-SPI's Text) is given.
QString readText(QAccessibleInterface* face) {
    QAccessibleTextInterface* text = face->textInterface();
    return text ? text->text(0, text->characterCount()) : QString();
}

TEST(Accessibility, EveryFigureStatusAndBannerIsOneElementNamedByItsCaptionWithItsValue) {
    const auto machine = SimulatedMachine::makeInVirtualTime();
    const auto model = machine->makeModel();
    machine->workspace->install({"com.adobe.Photoshop", "Photoshop", "/usr/share/applications/ps.desktop"});
    model->start();
    machine->workspace->activate("com.adobe.Photoshop");
    machine->advance(std::chrono::seconds(3));
    model->setPausedByUser(true);
    SettingsWindow window(model, [] {});
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    for (SettingsTab tab : {SettingsTab::device, SettingsTab::profiles}) {
        window.selectTab(tab); // a page reads what it shows as it comes on screen
        machine->settle();
    }
    QApplication::processEvents();
    const DeviceMonitor::Snapshot& mouse = model->deviceMonitor().snapshot().value();
    ASSERT_TRUE(mouse.dpi && mouse.identity && mouse.identity->product);
    const EngineStatus& status = model->status().value();
    ASSERT_FALSE(status.activeProfileName.empty());

    const auto page = [&](SettingsTab tab) { return window.page(tab); };
    struct Row {
        QWidget* where;
        QString caption;
        QString value;
        QAccessible::Role role = QAccessible::StaticText;
    };
    const std::vector<Row> rows{
        {page(SettingsTab::profiles), "Frontmost app", "Photoshop"},
        {page(SettingsTab::profiles), "Profile in use", QString::fromStdString(status.activeProfileName)},
        {page(SettingsTab::device), "DPI", QString::number(mouse.dpi->current)},
        {page(SettingsTab::device), "USB identifiers", "046D:C099"},
        {page(SettingsTab::device), "Connection status", "Connected to " + QString::fromStdString(*mouse.identity->product)},
        {page(SettingsTab::device), "Event stream", "Watching your mouse"},
        {page(SettingsTab::updates), "This version", QString::fromStdString(model->updater().currentVersionDescription())},
        {&window, "Ravolet is paused", {}, QAccessible::Grouping},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.caption.toStdString());
        std::vector<QAccessibleInterface*> named;
        for (QAccessibleInterface* face : elements(row.where))
            if (face->text(QAccessible::Name) == row.caption) named.push_back(face);
        // The caption is said once, by the element that holds the value.
        ASSERT_EQ(named.size(), 1u);
        EXPECT_EQ(named[0]->role(), row.role);
        const QString value = named[0]->text(QAccessible::Value);
        if (row.value.isEmpty()) {
            EXPECT_FALSE(value.isEmpty());
        } else {
            EXPECT_EQ(value, row.value);
        }
        EXPECT_EQ(readText(named[0]), value);
    }
    model->stop();
}

} // namespace
} // namespace ravolet
