#ifndef DRAGDROP_H
#define DRAGDROP_H

#include <QList>
#include <QUrl>

class QMimeData;
class QWidget;

// Synthetic drags, as a file manager sends them when files are dragged onto
// a window. Each returns the action the target took, Qt::IgnoreAction when
// it refused.
constexpr Qt::DropActions fileManagerActions = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;

Qt::DropAction sendDragEnter(QWidget *target, const QMimeData &data, Qt::DropActions actions = fileManagerActions);
Qt::DropAction sendDrop(QWidget *target, const QMimeData &data, Qt::DropActions actions = fileManagerActions);

#endif // DRAGDROP_H
