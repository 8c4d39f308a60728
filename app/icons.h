#pragma once
// The program's artwork, drawn as vectors at any size.

#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QRect>

namespace pw {

enum class ToolIcon { Open, Run, Up, Down, SelectAll, Stop, Logo, Menu, Minimise, Maximise, Close };

// File-kind picture: 1 document, 2 workbook, 3 presentation, 4 database, 6 text, else generic.
void DrawKindIcon(QPainter& p, const QRect& r, int kind);
// The 13 x 13 tick box.
void DrawTickBox(QPainter& p, const QRect& r, bool ticked);
void DrawToolIcon(QPainter& p, const QRect& r, ToolIcon icon, const QColor& ink);
// The program's icon from the desktop's theme, or our own when the theme has
// none by the program's name.
QIcon ProgramIcon();

}  // namespace pw
