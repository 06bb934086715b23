#ifndef WINDOWPLACEMENT_H
#define WINDOWPLACEMENT_H

#include <QPoint>
#include <QSize>

// Top-left position that centres a window of the given size on the desktop.
// Integer division truncates toward zero, so a desktop narrower than the
// window gives a negative position rounded toward zero.
inline QPoint centredPosition(const QSize &desktop, const QSize &window)
{
    return QPoint((desktop.width() - window.width()) / 2, (desktop.height() - window.height()) / 2);
}

#endif // WINDOWPLACEMENT_H
