#include "app/mainwindow.h"
#include "engine/nativepath.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

namespace {

// The one local PDF file a drag carries, or an empty string. Only a copy is
// taken: accepting a move would let the file manager delete the original.
QString draggedPdfFile(const QDropEvent *event)
{
    if (!(event->possibleActions() & Qt::CopyAction) || !event->mimeData()->hasUrls())
        return QString();
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() != 1 || !urls.first().isLocalFile())
        return QString();
    // The URL's own percent-encoded bytes, not toLocalFile(), which would
    // decode a name that is not UTF-8 into one that does not exist.
    const QString path = pathFromNative(QByteArray::fromPercentEncoding(urls.first().path(QUrl::FullyEncoded).toLatin1()));
    const QFileInfo file(path);
    if (file.suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) != 0 || nativeIsDir(path))
        return QString();
    return file.absoluteFilePath();
}

} // namespace

void MainWindow::openFromCommandLine(const QStringList &arguments)
{
    if (arguments.size() < 2 || arguments.at(1).isEmpty())
        return;
    // The file dialog hands over absolute paths; a path typed in a terminal
    // is made one against the folder the program was started in.
    const QString path = QDir::cleanPath(QFileInfo(arguments.at(1)).absoluteFilePath());
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
    const QString path = draggedPdfFile(event);
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
