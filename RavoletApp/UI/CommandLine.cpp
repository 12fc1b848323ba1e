#include "RavoletApp/UI/CommandLine.hpp"

#include <QClipboard>
#include <QEvent>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

#include "RavoletApp/UI/SymbolIcon.hpp"
#include "RavoletApp/ViewModels/AccessRemedy.hpp"

namespace ravolet {

namespace {

constexpr int horizontalMargin = 8;
constexpr int verticalMargin = 4;
constexpr int spacing = 6;
// Narrower than this the command is still shown, a word to a line.
constexpr int fewestColumns = 16;

QString copyTitle() { return QStringLiteral("Copy"); }

// The fixed-pitch font at the size of the text around it.
QFont commandFont(const QFont& around) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (around.pointSizeF() > 0) font.setPointSizeF(around.pointSizeF());
    return font;
}

} // namespace

CommandLine::CommandLine(const QString& command, QWidget* parent)
    : QFrame(parent), text_(new QLabel(this)), copy_(new QToolButton(this)) {
    setFrameShape(QFrame::StyledPanel);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
    // Laid out by hand: the height follows the lines the width allows, which
    // a layout of the two children cannot tell.
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    text_->setTextFormat(Qt::PlainText);
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    text_->setCursor(Qt::IBeamCursor);
    text_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    copy_->setIcon(symbolIcon(QStringLiteral("doc.on.doc")));
    copy_->setText(copyTitle());
    copy_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    copy_->setAutoRaise(true);
    copy_->setToolTip(QStringLiteral("Copy this command"));
    connect(copy_, &QToolButton::clicked, this, [this] {
        QGuiApplication::clipboard()->setText(command_);
        copy_->setText(QStringLiteral("Copied"));
        QTimer::singleShot(2000, copy_, [this] { copy_->setText(copyTitle()); });
    });
    setCommand(command);
}

void CommandLine::setCommand(const QString& command) {
    if (command == command_ && !text_->text().isEmpty()) return;
    command_ = command;
    // Read whole, as one line, whatever the lines on screen.
    text_->setAccessibleName(command_);
    // A page may list several: each button says which it copies.
    copy_->setAccessibleName(QStringLiteral("Copy the command “%1”").arg(command_));
    text_->setFont(commandFont(font()));
    layOut();
    updateGeometry();
}

int CommandLine::chrome() const { return horizontalMargin + verticalMargin + spacing + copy_->sizeHint().width() + 2 * frameWidth(); }

QStringList CommandLine::linesFor(int width) const {
    const int advance = std::max(1, QFontMetrics(text_->font()).horizontalAdvance(QLatin1Char('M')));
    const int columns = std::max(fewestColumns, (width - chrome()) / advance);
    QStringList lines;
    for (const std::string& line : AccessRemedy::commandLines(command_.toStdString(), static_cast<std::size_t>(columns)))
        lines.append(QString::fromStdString(line));
    return lines;
}

int CommandLine::heightForWidth(int width) const {
    const auto lines = static_cast<int>(linesFor(width).size());
    const int text = std::max(1, lines) * QFontMetrics(text_->font()).lineSpacing();
    return std::max(text, copy_->sizeHint().height()) + 2 * verticalMargin + 2 * frameWidth();
}

QSize CommandLine::sizeHint() const {
    const int oneLine = QFontMetrics(text_->font()).horizontalAdvance(command_) + chrome() +
                        QFontMetrics(text_->font()).horizontalAdvance(QStringLiteral(" \\"));
    return {oneLine, heightForWidth(oneLine)};
}

QSize CommandLine::minimumSizeHint() const {
    const int narrowest = fewestColumns * QFontMetrics(text_->font()).horizontalAdvance(QLatin1Char('M')) + chrome();
    return {narrowest, heightForWidth(narrowest)};
}

void CommandLine::layOut() {
    text_->setText(linesFor(width()).join(QLatin1Char('\n')));
    const int inset = frameWidth();
    const QSize button = copy_->sizeHint();
    const int buttonLeft = width() - inset - verticalMargin - button.width();
    copy_->setGeometry(buttonLeft, inset + verticalMargin, button.width(), button.height());
    const int textLeft = inset + horizontalMargin;
    text_->setGeometry(textLeft, inset + verticalMargin, std::max(0, buttonLeft - spacing - textLeft),
                       std::max(0, height() - 2 * (inset + verticalMargin)));
}

void CommandLine::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    layOut();
}

void CommandLine::changeEvent(QEvent* event) {
    QFrame::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        text_->setFont(commandFont(font()));
        layOut();
        updateGeometry();
    }
}

CommandList::CommandList(QWidget* parent) : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    hide();
}

void CommandList::setCommands(const QStringList& commands) {
    const bool same = std::ranges::equal(lines_, commands, [](const CommandLine* line, const QString& command) {
        return line->command() == command;
    });
    if (same) return;
    // Later: a line may be inside its own click.
    for (CommandLine* line : lines_) {
        line->hide();
        line->deleteLater();
    }
    lines_.clear();
    for (const QString& command : commands) {
        auto* line = new CommandLine(command, this);
        layout()->addWidget(line);
        lines_.push_back(line);
    }
    setVisible(!lines_.empty());
}

} // namespace ravolet
