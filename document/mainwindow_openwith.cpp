#include "app/mainwindow.h"
#include "engine/nativepath.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace {

// The one local PDF file a drag carries, or an empty path. Only a copy is
// taken: accepting a move would let the file manager delete the original.
NativePath draggedPdfFile(const QDropEvent *event)
{
    if (!(event->possibleActions() & Qt::CopyAction) || !event->mimeData()->hasUrls())
        return NativePath();
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() != 1)
        return NativePath();
    // The URL's own bytes, not toLocalFile(), which would decode a name that
    // is not UTF-8 into one that does not exist.
    const NativePath path = NativePath::fromLocalFileUrl(urls.first());
    if (!path.hasSuffix(".pdf") || path.isDir())
        return NativePath();
    return path.absolute();
}

} // namespace

void MainWindow::openFromCommandLine(const QList<NativePath> &arguments)
{
    if (arguments.size() < 2 || arguments.at(1).isEmpty())
        return;
    // The file dialog hands over absolute paths; a path typed in a terminal
    // is made one against the folder the program was started in, by its
    // bytes: QFileInfo would lose those of a name that is not UTF-8.
    const QString path = arguments.at(1).absolute().escaped();
    // Its boxes need the window on screen and the event loop running.
    QMetaObject::invokeMethod(this, [this, path] { openPdfFile(path); }, Qt::QueuedConnection);
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (conversionRunning() || draggedPdfFile(event).isEmpty()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void MainWindow::dropEvent(QDropEvent *event)
{
    const QString path = draggedPdfFile(event).escaped();
    if (conversionRunning() || path.isEmpty()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    // The dragging program waits until the drop returns; the boxes of a bad
    // file must not keep it waiting.
    QMetaObject::invokeMethod(this, [this, path] { openPdfFile(path); }, Qt::QueuedConnection);
}
