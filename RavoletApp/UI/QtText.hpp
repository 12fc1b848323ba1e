#pragma once

#include <QString>
#include <QStringList>

#include <string>
#include <string_view>
#include <vector>

namespace ravolet {

// The model's UTF-8 texts as Qt strings.
inline QString qtText(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline QStringList qtTexts(const std::vector<std::string>& texts) {
    QStringList list;
    for (const std::string& text : texts) list.append(qtText(text));
    return list;
}

// The text with its paths and file names kept whole on screen: a word joiner
// after each "/" and "-" that a word goes on from, where line breaking would otherwise
// split "/dev/input/event5" or "70-ravolet.rules". For display only: the
// joiners are invisible, but a selection would copy them, so a label showing
// this is not selectable and names itself by the plain text.
inline QString unbrokenPaths(const QString& text) {
    QString shown;
    shown.reserve(text.size() + text.size() / 8);
    for (qsizetype i = 0; i < text.size(); ++i) {
        shown.append(text[i]);
        const bool joins = (text[i] == u'/' || text[i] == u'-') && i + 1 < text.size() && !text[i + 1].isSpace();
        if (joins) shown.append(QChar(0x2060));
    }
    return shown;
}

} // namespace ravolet
