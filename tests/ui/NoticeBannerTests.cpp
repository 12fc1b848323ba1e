#include "RavoletApp/UI/NoticeBanner.hpp"
#include "RavoletApp/UI/Style.hpp"

#include "UITestSupport.hpp"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace ravolet {
namespace {

TEST(NoticeBanner, EachKindHasItsSymbolAndTint) {
    struct Row {
        NoticeBanner::Kind kind;
        const char* symbol;
        SystemColor tint;
    };
    const Row rows[] = {
        {NoticeBanner::Kind::informational, "info.circle.fill", SystemColor::accent},
        {NoticeBanner::Kind::warning, "exclamationmark.triangle.fill", SystemColor::orange},
        {NoticeBanner::Kind::problem, "xmark.octagon.fill", SystemColor::red},
    };
    for (const Row& row : rows) {
        NoticeBanner banner(row.kind, QStringLiteral("Title"), QStringLiteral("Message"));
        EXPECT_EQ(NoticeBanner::symbolName(row.kind), QLatin1String(row.symbol));
        EXPECT_EQ(NoticeBanner::tint(row.kind, banner.palette()), systemColor(row.tint, banner.palette()));
        EXPECT_FALSE(banner.iconLabel()->pixmap().isNull()) << row.symbol;
    }
}

TEST(NoticeBanner, ALongMessageWrapsAndTheBannerGrows) {
    const QString sentence = QStringLiteral("Everything on these pages is saved, but nothing takes effect until your "
                                            "computer grants Ravolet permission. ");
    const QString longMessage = sentence.repeated(8);

    QWidget page;
    auto* layout = new QVBoxLayout(&page);
    auto* shortBanner = new NoticeBanner(NoticeBanner::Kind::warning, QStringLiteral("Ravolet is paused"),
                                         QStringLiteral("Short."));
    auto* longBanner = new NoticeBanner(NoticeBanner::Kind::problem, QStringLiteral("Unreadable settings"), longMessage);
    longBanner->addButton(QStringLiteral("Try Reading It Again"));
    layout->addWidget(shortBanner);
    layout->addWidget(longBanner);
    layout->addStretch(1);
    test::showAndSettle(page, 420);

    QLabel* message = longBanner->messageLabel();
    const int lineHeight = message->fontMetrics().lineSpacing();
    EXPECT_EQ(message->text(), longMessage);
    EXPECT_GE(message->height(), 8 * lineHeight);
    // The label has all the height its text needs at its width: nothing cut.
    EXPECT_GE(message->height(), message->heightForWidth(message->width()));
    EXPECT_LE(message->geometry().bottom(), longBanner->height());
    EXPECT_LE(longBanner->width(), 420);

    // Without actions the row takes no room: padding, title, gap, message.
    const int expected = 12 + shortBanner->titleLabel()->height() + 6 + shortBanner->messageLabel()->height() + 12;
    EXPECT_EQ(shortBanner->height(), expected);
    test::saveScreenshot(page, QStringLiteral("notice-banners"));
}

} // namespace
} // namespace ravolet
