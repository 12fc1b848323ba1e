#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QHash>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>
#include <QToolButton>

#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "RavoletApp/Model/SimulatedMachine.hpp"
#include "RavoletApp/UI/GlideChart.hpp"
#include "RavoletApp/UI/NoticeBanner.hpp"
#include "RavoletApp/UI/OnboardingWindow.hpp"
#include "RavoletApp/UI/SettingsTabBar.hpp"
#include "RavoletApp/UI/SettingsWindow.hpp"
#include "RavoletApp/UI/Style.hpp"
#include "RavoletApp/ViewModels/ScrollPreviewRules.hpp"
#include "UITestSupport.hpp"

namespace ravolet {
namespace {

// The desktop's look for the length of a test: a style, a palette and the
// body text at a share of its usual size; the usual ones come back after.
class Look {
public:
    Look(const QString& style, const QPalette& palette, double fontScale)
        : style_(QApplication::style()->name()), palette_(QApplication::palette()), font_(QApplication::font()) {
        QApplication::setStyle(QStyleFactory::create(style));
        QApplication::setPalette(palette);
        QFont larger = font_;
        larger.setPointSizeF(font_.pointSizeF() * fontScale);
        QApplication::setFont(larger);
    }
    ~Look() {
        QApplication::setFont(font_);
        QApplication::setStyle(QStyleFactory::create(style_));
        QApplication::setPalette(palette_);
    }
    Look(const Look&) = delete;
    Look& operator=(const Look&) = delete;

private:
    QString style_;
    QPalette palette_;
    QFont font_;
};

QString describe(const QWidget* widget, const QString& text, const QString& why) {
    return QStringLiteral("%1 \"%2\" (%3×%4): %5")
        .arg(QString::fromUtf8(widget->metaObject()->className()), text)
        .arg(widget->width())
        .arg(widget->height())
        .arg(why);
}

// Cut off at the side by a parent on the way up to the window (the pages
// never scroll sideways).
bool outsideItsParents(const QWidget* widget, const QWidget* window) {
    for (const QWidget* parent = widget->parentWidget(); parent != nullptr && widget != window;
         parent = parent->parentWidget()) {
        const int left = widget->mapTo(parent, QPoint(0, 0)).x();
        if (left < 0 || left + widget->width() > parent->width()) return true;
        if (parent == window) break;
    }
    return false;
}

// Every shown label and button of the window whose text is not shown whole:
// elided (the full text kept in the tooltip), wider than its box, cut at the
// side by a parent, or wrapped onto more lines than its height holds.
QStringList textsNotShownWhole(const QWidget& window) {
    QStringList cut;
    for (const QLabel* label : window.findChildren<QLabel*>()) {
        const QString text = label->text();
        if (!label->isVisible() || text.isEmpty()) continue;
        const QRect box = label->contentsRect().marginsRemoved(QMargins(label->margin(), label->margin(),
                                                                        label->margin(), label->margin()));
        const QFontMetrics metrics(label->font());
        QSize needed;
        if (label->wordWrap()) {
            needed = QSize(0, label->heightForWidth(label->width()));
        } else if (label->textFormat() == Qt::PlainText || !Qt::mightBeRichText(text)) {
            const QStringList lines = text.split(QLatin1Char('\n'));
            for (const QString& line : lines) needed.rwidth() = std::max(needed.width(), metrics.horizontalAdvance(line));
            needed.rheight() = metrics.height() * static_cast<int>(lines.size());
            needed += label->size() - box.size();
        } else {
            needed = label->sizeHint();
        }
        const QString shortened = text.endsWith(QChar(0x2026)) ? text.chopped(1) : QString();
        if (needed.width() > label->width() || needed.height() > label->height())
            cut << describe(label, text, QStringLiteral("needs %1×%2").arg(needed.width()).arg(needed.height()));
        else if (!shortened.isEmpty() && label->toolTip().size() > text.size() && label->toolTip().startsWith(shortened))
            cut << describe(label, text, QStringLiteral("elided"));
        else if (outsideItsParents(label, &window))
            cut << describe(label, text, QStringLiteral("cut at the side"));
    }
    for (const QAbstractButton* button : window.findChildren<QAbstractButton*>()) {
        QString text = button->text();
        if (!button->isVisible() || text.isEmpty()) continue;
        text.replace(QStringLiteral("&&"), QStringLiteral("\x01")).remove(QLatin1Char('&'));
        text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
        const int width = QFontMetrics(button->font()).horizontalAdvance(text);
        // The style's own measure of what the text, the icon and the frame need.
        const QSize needed = button->sizeHint();
        if (width > button->contentsRect().width() || button->width() < needed.width() ||
            button->height() < needed.height())
            cut << describe(button, text, QStringLiteral("needs %1×%2").arg(needed.width()).arg(needed.height()));
        else if (outsideItsParents(button, &window))
            cut << describe(button, text, QStringLiteral("cut at the side"));
    }
    return cut;
}

struct LargerTextTest : ::testing::Test {
    std::shared_ptr<SimulatedMachine> machine = SimulatedMachine::makeInVirtualTime();
    std::shared_ptr<AppModel> model = machine->makeModel();
    // Half again the usual text, on a dark theme.
    Look look{QStringLiteral("Fusion"), test::darkPalette(QColor(0x12, 0x60, 0x8a)), 1.5};

    static void settle(QWidget& window) {
        window.show();
        (void)QTest::qWaitForWindowExposed(&window);
        window.activateWindow();
        (void)QTest::qWaitForWindowActive(&window);
        QApplication::processEvents();
    }
    // Screenshots taken at twice the scale are kept beside the others.
    static QString named(const QString& name) {
        const QByteArray scale = qgetenv("QT_SCALE_FACTOR");
        return scale.isEmpty() || scale == "1" ? name : name + QStringLiteral("-at-") + QString::fromLatin1(scale) + "x";
    }
};

TEST_F(LargerTextTest, EveryPageAndSetUpStepShowsEveryLabelTabAndButtonWhole) {
    machine->grant(false, false);
    machine->probe->setClosedNodes({"/dev/uinput"}, {"/dev/input/event4", "/dev/hidraw1"});
    model->start();
    machine->settle();
    const auto check = [](QWidget& window, const QString& where) {
        // The layout work of a page just shown, level by level.
        for (int round = 0; round < 4; ++round) QApplication::processEvents();
        const QStringList cut = textsNotShownWhole(window);
        EXPECT_TRUE(cut.isEmpty()) << where.toStdString() << ":\n" << cut.join(QLatin1Char('\n')).toStdString();
        test::saveScreenshot(window, named(QStringLiteral("larger-text-dark-") + where));
    };

    SettingsWindow window(model, [] {});
    settle(window);
    for (SettingsTab tab : allSettingsTabs) {
        window.selectTab(tab);
        check(window, QString::fromUtf8(title(tab).data()).toLower());
    }
    // The Buttons page with a button that has a binding: its card and editor.
    window.selectTab(SettingsTab::buttons);
    auto* buttons = window.page(SettingsTab::buttons)->findChild<QListWidget*>();
    ASSERT_NE(buttons, nullptr);
    buttons->setCurrentRow(2);
    check(window, QStringLiteral("buttons-5"));
    window.close();

    // Every step of the set-up, with the permissions still missing.
    OnboardingWindow setUp(model);
    settle(setUp);
    for (const char* step : {"set-up-1-welcome", "set-up-2-mouse-access", "set-up-3-virtual-input", "set-up-4-done"}) {
        check(setUp, QString::fromUtf8(step));
        QTest::mouseClick(setUp.primaryButton(), Qt::LeftButton);
        if (!setUp.isVisible()) break;
    }
}

// Drawn four times as large, so that the middle of every line and stroke is
// the ink itself rather than its antialiased edge, over the given background.
QImage magnified(QWidget& widget, const QColor& under) {
    constexpr int scale = 4;
    QImage image(widget.size() * scale, QImage::Format_ARGB32);
    image.setDevicePixelRatio(scale);
    image.fill(under);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

QColor commonest(const QImage& image) {
    QHash<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) ++counts[image.pixel(x, y)];
    QRgb most = 0;
    int best = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > best) best = it.value(), most = it.key();
    return QColor::fromRgb(most);
}

// The accent's ink: the coloured pixel that stands out most from the
// background, the middle of a stroke.
std::optional<QColor> accentInkIn(const QImage& image, const QColor& background) {
    std::optional<QColor> ink;
    double best = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = QColor::fromRgb(image.pixel(x, y));
            if (pixel.hsvSaturationF() < 0.3F) continue;
            if (const double contrast = contrastRatio(pixel, background); contrast > best) best = contrast, ink = pixel;
        }
    return ink;
}

// Fusion's own light palette; the style made to ask is not the application's.
QPalette fusionLightPalette() {
    const std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
    return fusion->standardPalette();
}

TEST(Readability, TheAccentReadsOnLightAndDarkPalettes) {
    auto machine = SimulatedMachine::makeInVirtualTime();
    auto model = machine->makeModel();
    const struct {
        const char* name;
        QPalette palette;
    } palettes[] = {
        {"light", fusionLightPalette()},
        {"dark with a deep highlight", test::darkPalette(QColor(0x12, 0x60, 0x8a))},
        {"dark with a bright highlight", test::darkPalette(QColor(0x35, 0x84, 0xe4))},
        {"light with a highlight that reads",
         [] {
             QPalette light = fusionLightPalette();
             light.setColor(QPalette::Highlight, QColor(0x1a, 0x5f, 0xb4));
             return light;
         }()},
    };
    // Where the accent is drawn, and what it must reach: text 4.5:1, lines
    // and icons 3:1.
    const struct {
        const char* name;
        double minimum;
        std::function<QWidget*(std::vector<std::unique_ptr<QWidget>>&)> show;
    } uses[] = {
        {"the selected tab's title and icon", minimumTextContrast,
         [](auto& keep) -> QWidget* {
             auto* bar = keep.emplace_back(std::make_unique<SettingsTabBar>()).get();
             bar->show();
             bar->activateWindow();
             (void)QTest::qWaitForWindowActive(bar);
             QApplication::processEvents();
             return static_cast<SettingsTabBar*>(bar)->button(SettingsTab::scroll);
         }},
        {"the glide chart's curve", minimumGraphicContrast,
         [](auto& keep) -> QWidget* {
             auto* chart = static_cast<GlideChart*>(keep.emplace_back(std::make_unique<GlideChart>()).get());
             ScrollSettings smooth;
             smooth.isEnabled = true;
             chart->setPlan(previewPlan(smooth));
             chart->resize(320, chart->height());
             return chart;
         }},
        {"the set-up's icons", minimumGraphicContrast,
         [&model](auto& keep) -> QWidget* {
             auto* window = keep.emplace_back(std::make_unique<OnboardingWindow>(model)).get();
             window->show();
             QApplication::processEvents();
             return window;
         }},
        {"the informational banner's icon", minimumGraphicContrast,
         [](auto& keep) -> QWidget* {
             return keep.emplace_back(std::make_unique<NoticeBanner>(NoticeBanner::Kind::informational,
                                                                     QStringLiteral("Title"), QStringLiteral("Message")))
                 .get();
         }},
    };
    for (const auto& look : palettes) {
        const QPalette usual = QApplication::palette();
        QApplication::setPalette(look.palette);
        const QColor highlight = look.palette.color(QPalette::Active, QPalette::Highlight);
        const QColor window = look.palette.color(QPalette::Active, QPalette::Window);
        for (const auto& use : uses) {
            const std::string where = std::string(use.name) + " on the " + look.name + " palette";
            std::vector<std::unique_ptr<QWidget>> keep;
            QWidget* drawn = use.show(keep);
            // The set-up's icons are labels of their own; elsewhere the widget is the drawing.
            std::vector<QWidget*> drawings;
            for (QLabel* label : drawn->findChildren<QLabel*>())
                if (!label->pixmap().isNull() && label->isVisible()) drawings.push_back(label);
            if (drawings.empty()) drawings.push_back(drawn);
            int inked = 0;
            for (QWidget* drawing : drawings) {
                const QImage image = magnified(*drawing, window);
                const QColor background = commonest(image);
                const std::optional<QColor> ink = accentInkIn(image, background);
                if (!ink) continue;
                ++inked;
                EXPECT_GE(contrastRatio(*ink, background), use.minimum - 0.05)
                    << where << ": " << ink->name().toStdString() << " on " << background.name().toStdString();
                // The palette's own hue, and its own colour wherever that already reads.
                EXPECT_NEAR(ink->hslHueF(), highlight.hslHueF(), 0.03) << where;
                if (contrastRatio(highlight, background) >= std::max(use.minimum, minimumTextContrast) + 0.05) {
                    EXPECT_NEAR(contrastRatio(*ink, highlight), 1.0, 0.05) << where;
                }
            }
            EXPECT_GT(inked, 0) << where << ": nothing drawn in the accent";
        }
        QApplication::setPalette(usual);
    }
}

} // namespace
} // namespace ravolet
