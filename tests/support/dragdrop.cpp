#include "support/dragdrop.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QWidget>

namespace {

// A file manager proposes a move when source and target share a disk.
Qt::DropAction proposed(Qt::DropActions actions)
{
    return actions & Qt::MoveAction ? Qt::MoveAction : Qt::CopyAction;
}

Qt::DropAction outcome(const QDropEvent &event)
{
    return event.isAccepted() ? event.dropAction() : Qt::IgnoreAction;
}

} // namespace

Qt::DropAction sendDragEnter(QWidget *target, const QMimeData &data, Qt::DropActions actions)
{
    QDragEnterEvent event(QPoint(target->width() / 2, target->height() / 2), actions, &data, Qt::LeftButton,
                          Qt::NoModifier);
    event.setDropAction(proposed(actions));
    QApplication::sendEvent(target, &event);
    return outcome(event);
}

Qt::DropAction sendDrop(QWidget *target, const QMimeData &data, Qt::DropActions actions)
{
    QDropEvent event(QPointF(target->width() / 2, target->height() / 2), actions, &data, Qt::LeftButton,
                     Qt::NoModifier);
    event.setDropAction(proposed(actions));
    QApplication::sendEvent(target, &event);
    return outcome(event);
}
