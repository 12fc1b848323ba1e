#include "RavoletApp/UI/Explain.hpp"
#include "RavoletApp/UI/ExternalLink.hpp"
#include "RavoletApp/UI/FactRow.hpp"
#include "RavoletApp/UI/NoticeBanner.hpp"
#include "RavoletApp/UI/ResetButton.hpp"
#include "RavoletApp/UI/StatusDot.hpp"
#include "RavoletApp/UI/SymbolIcon.hpp"
#include "RavoletApp/UI/ValueSlider.hpp"

#include "UITestSupport.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <QAccessible>

namespace ravolet {
namespace {

// Every symbol the pages name, drawn by us and visible at small sizes.
TEST(SymbolIcon, EveryNamedSymbolHasADrawing) {
    const QStringList names = {
        "info.circle.fill", "exclamationmark.triangle.fill", "xmark.octagon.fill", "clock.arrow.circlepath",
        "checkmark.circle.fill", "circle.dashed", "questionmark.app.dashed", "arrow.up", "arrow.down", "trash",
        "computermouse", "computermouse.fill", "pause.circle", "keyboard", "square.stack.3d.up", "lock.shield",
        "arrow.up.and.down", "cursorarrow.click", "cursorarrow", "arrow.down.circle", "doc.on.doc",
    };
    EXPECT_EQ(symbolNames().size(), names.size());
    for (const QString& name : names) {
        const QImage image = symbolPixmap(name, 16, Qt::red).toImage();
        int covered = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                covered += qAlpha(image.pixel(x, y)) > 128 ? 1 : 0;
            }
        }
        EXPECT_GT(covered, 16) << name.toStdString();
        EXPECT_FALSE(symbolIcon(name).isNull()) << name.toStdString();
        EXPECT_FALSE(symbolIcon(name, Qt::red).pixmap(16).isNull()) << name.toStdString();
    }
    EXPECT_TRUE(symbolIcon(QStringLiteral("no.such.symbol")).isNull());
    EXPECT_TRUE(symbolPixmap(QStringLiteral("no.such.symbol"), 16, Qt::red).isNull());
}

TEST(StatusDot, DrawsTheDotInTheLevelsColourEvenWhenOff) {
    for (auto level : {StatusDot::Level::good, StatusDot::Level::waiting, StatusDot::Level::bad,
                       StatusDot::Level::off}) {
        StatusDot dot(level, QStringLiteral("Connected"));
        test::showAndSettle(dot, 200);
        const QImage image = dot.grab().toImage();
        const QColor drawn = image.pixelColor(dot.dotRect().center());
        QColor expected = StatusDot::color(level, dot.palette());
        // Blend the translucent colours over the window background, as painted.
        const QColor window = dot.palette().color(QPalette::Window);
        const float a = expected.alphaF();
        expected = QColor::fromRgbF(expected.redF() * a + window.redF() * (1 - a),
                                    expected.greenF() * a + window.greenF() * (1 - a),
                                    expected.blueF() * a + window.blueF() * (1 - a));
        EXPECT_NEAR(drawn.red(), expected.red(), 3);
        EXPECT_NEAR(drawn.green(), expected.green(), 3);
        EXPECT_NEAR(drawn.blue(), expected.blue(), 3);
        EXPECT_EQ(dot.dotRect().size(), QSize(8, 8));
        // Read once, as the status it is, and not as the dot's colour alone.
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(&dot);
        EXPECT_EQ(face->text(QAccessible::Name), QStringLiteral("Status"));
        EXPECT_EQ(face->text(QAccessible::Value), QStringLiteral("Connected"));
        EXPECT_FALSE(face->text(QAccessible::Description).isEmpty());
        EXPECT_EQ(face->childCount(), 0);
    }
}

TEST(FactRow, TheExplanationFollowsOnlyWhenGiven) {
    QWidget page;
    auto* layout = new QVBoxLayout(&page);
    auto* plain = new FactRow(QStringLiteral("Firmware"), QStringLiteral("U1 12.3.7"));
    auto* helped = new FactRow(QStringLiteral("Firmware"), QStringLiteral("U1 12.3.7"), QStringLiteral("As reported."));
    layout->addWidget(plain);
    layout->addWidget(helped);
    test::showAndSettle(page, 320);
    EXPECT_EQ(plain->helpLabel(), nullptr);
    EXPECT_EQ(plain->height(), plain->valueLabel()->height() + 2);
    ASSERT_NE(helped->helpLabel(), nullptr);
    EXPECT_EQ(helped->helpLabel()->geometry().top(), helped->valueLabel()->geometry().bottom() + 1 + 2);
    EXPECT_TRUE(helped->valueLabel()->textInteractionFlags() & Qt::TextSelectableByMouse);
    helped->setHelp(std::nullopt);
    EXPECT_EQ(helped->helpLabel(), nullptr);
}

TEST(Links, TheSupportLinkIsOneMailAddress) {
    EXPECT_EQ(ExternalLink::support().scheme(), QStringLiteral("mailto"));
    EXPECT_EQ(&ExternalLink::support(), &ExternalLink::support());
}

// Builds a page holding every widget of the kit, and saves its picture.
TEST(WidgetKit, GalleryBuildsAndIsPhotographed) {
    QWidget gallery;
    auto* layout = new QVBoxLayout(&gallery);
    layout->setContentsMargins(16, 12, 16, 12);
    layout->setSpacing(8);

    auto* problem = new NoticeBanner(
        NoticeBanner::Kind::problem, QStringLiteral("Ravolet cannot read its settings file"),
        QStringLiteral("The file is not valid JSON. Your file is still on disk at "
                       "/home/someone/.config/ravolet/config.json."));
    problem->addButton(QStringLiteral("Try Reading It Again"));
    problem->addButton(QStringLiteral("Move It Aside And Start Fresh"));
    problem->addButton(QStringLiteral("Show In Folder"));
    layout->addWidget(problem);
    auto* warning = new NoticeBanner(NoticeBanner::Kind::warning,
                                     QStringLiteral("Ravolet is not allowed to touch your input yet"),
                                     QStringLiteral("Everything on these pages is saved, but nothing takes effect "
                                                    "until your computer grants Ravolet permission."));
    warning->addButton(QStringLiteral("Finish Setting Up…"));
    layout->addWidget(warning);
    layout->addWidget(new NoticeBanner(NoticeBanner::Kind::informational, QStringLiteral("Ravolet is paused"),
                                       QStringLiteral("Your mouse behaves exactly as your desktop ships it.")));

    auto* distance = new ValueSlider(
        {.title = QStringLiteral("Distance per wheel click"),
         .help = QStringLiteral("How far one click of the wheel moves the page, before acceleration."),
         .range = {10, 400},
         .step = 5,
         .defaultValue = 50,
         .precisionStep = 1,
         .format = [](double value) { return QString::number(static_cast<long long>(value)) + " pt"; }});
    distance->setValue(49.9);
    layout->addWidget(distance);
    auto* smooth = new QCheckBox(QStringLiteral("Smooth the scroll wheel"));
    smooth->setChecked(true);
    layout->addWidget(resettable(smooth, smooth->text(), [] {}));
    auto* shape = new QComboBox;
    shape->addItem(QStringLiteral("Ease out — fast start, gentle stop"));
    layout->addWidget(resettable(shape, QStringLiteral("Glide shape"), [] {}));
    layout->addWidget(new Explain(QStringLiteral("How the movement is spread over the glide.")));
    layout->addWidget(new FactRow(QStringLiteral("Report rate"), QStringLiteral("1,000 Hz"),
                                  QStringLiteral("How often the mouse reports its movement.")));
    layout->addWidget(new FactRow(QStringLiteral("Serial number"), QStringLiteral("ABCD1234")));

    auto* dots = new QHBoxLayout;
    dots->addWidget(new StatusDot(StatusDot::Level::good, QStringLiteral("Connected")));
    dots->addWidget(new StatusDot(StatusDot::Level::waiting, QStringLiteral("Waiting")));
    dots->addWidget(new StatusDot(StatusDot::Level::bad, QStringLiteral("Failed")));
    dots->addWidget(new StatusDot(StatusDot::Level::off, QStringLiteral("Off")));
    layout->addLayout(dots);

    auto* disabled = new QPushButton(QStringLiteral("Check Again"));
    disabled->setEnabled(false);
    layout->addWidget(disabled, 0, Qt::AlignLeading);

    // Every symbol, large enough to judge its drawing, with its name.
    auto* symbols = new QGridLayout;
    const QStringList names = symbolNames();
    for (int index = 0; index < names.size(); ++index) {
        auto* icon = new QLabel;
        icon->setPixmap(symbolIcon(names[index]).pixmap(32));
        symbols->addWidget(icon, (index / 4) * 2, index % 4, Qt::AlignCenter);
        symbols->addWidget(new Explain(names[index]), (index / 4) * 2 + 1, index % 4, Qt::AlignCenter);
    }
    layout->addLayout(symbols);
    layout->addStretch(1);

    test::showAndSettle(gallery, 640);
    EXPECT_EQ(gallery.findChildren<ResetButton*>().size(), 3);
    for (const QWidget* child : gallery.findChildren<QWidget*>()) {
        EXPECT_LE(child->mapTo(&gallery, QPoint(child->width(), 0)).x(), gallery.width()) << child->metaObject()->className();
    }
    test::saveScreenshot(gallery, QStringLiteral("widget-kit"));
    setShowsSettingResets(&gallery, false);
    test::saveScreenshot(gallery, QStringLiteral("widget-kit-without-resets"));
}

} // namespace
} // namespace ravolet
