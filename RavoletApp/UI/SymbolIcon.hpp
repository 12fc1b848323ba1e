#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QStringList>

namespace ravolet {

// Icons by the symbol names the pages use ("trash", "info.circle.fill", ...).
//
// symbolIcon(name) prefers the desktop theme's icon where one fits the meaning
// and falls back to our own drawing, which follows the palette's text colours
// (normal, disabled, selected). The tinted form always uses our own drawing in
// the given colour, since a theme icon brings colours of its own. An unknown
// name gives an empty icon.
QIcon symbolIcon(const QString& name);
QIcon symbolIcon(const QString& name, const QColor& tint);

// Our drawing of the symbol at a size in device-independent pixels, in a
// colour; a null pixmap for an unknown name.
QPixmap symbolPixmap(const QString& name, int size, const QColor& color, qreal devicePixelRatio = 1.0);

// Every symbol we ship a drawing for, sorted.
QStringList symbolNames();

// The freedesktop icon name that stands in for the symbol, or empty.
QString themeIconName(const QString& name);

} // namespace ravolet
