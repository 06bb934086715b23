#include "conversion/process.h"

#include "conversion/imagesaver.h"
#include "conversion/outputname.h"
#include "conversion/pagelist.h"
#include "document/pdfdocument.h"

#include <QDebug>
#include <QDir>

Process::Process(QObject *parent)
    : QThread(parent)
{
}

Process::~Process() = default;

void Process::ResetJob()
{
    qsPdfFile = QString();
    qsExtension = QString();
    qsOutputDir = QString();
    pdfDoc = nullptr;
    pageIndex = 0;
    canceled.store(false, std::memory_order_relaxed);
    convertedCount = 0;
    totalCount = 0;
    pageList.clear();
    skippedPages.clear();
    failureMessage.clear();
}

bool Process::cancelSeen()
{
    if (!canceled.load(std::memory_order_relaxed))
        return false;
    emit LogStatusBar(tr("User canceled"));
    return true;
}

void Process::stopWith(const QString &message)
{
    failureMessage = message;
    emit LogStatusBar(message);
}

void Process::run()
{
    convertedCount = 0;
    totalCount = unsigned(pageList.size());
    if (totalCount == 0)
        return;

    const QDir outputDir(qsOutputDir);
    emit LogStatusBar(tr("Start convert..."));

    while (!pageList.isEmpty()) {
        pageIndex = unsigned(pageList.takeFirst());
        if (cancelSeen())
            return;

        const QString fileName = outputFileName(qsPdfFile, int(pageIndex), qsExtension);
        const QString filePath = outputFilePath(outputDir, fileName);
        qDebug() << filePath;

        const PageRenderResult page = renderPage(pdfDoc, int(pageIndex), resolution);
        if (page.status == PageRenderStatus::TooLarge) {
            // Poppler would hand back a 1 x 1 image or abort; better to say so and stop.
            stopWith(tr("Page %1 is too large to render at %2 dpi,stoped").arg(pageIndex + 1).arg(resolution));
            return;
        }
        if (page.status == PageRenderStatus::TooSmall) {
            stopWith(tr("Page %1 is smaller than one pixel at %2 dpi,stoped").arg(pageIndex + 1).arg(resolution));
            return;
        }
        if (page.status != PageRenderStatus::Rendered) {
            skippedPages.append(int(pageIndex));
            continue;
        }

        const bool saved = saveImageAtomicallyUnsynced(page.image, filePath, quality);
        emit LogStatusBar(tr("Output: %1").arg(fileName));
        if (cancelSeen())
            return;
        if (!saved) {
            stopWith(tr("Error to save image: %1,stoped").arg(filePath));
            return;
        }

        ++convertedCount;
        emit ConvertProgress(qint32(convertedCount), qint32(totalCount));
        if (convertedCount >= totalCount) {
            emit LogStatusBar(tr("All converted"));
            return;
        }
        QThread::msleep(pauseBetweenPagesMs);
    }
    // Only pages that could not be drawn keep a run from reaching its total;
    // without this line the run would look as if it never ended.
    if (!skippedPages.isEmpty())
        emit LogStatusBar(tr("%1 page converted, pages that could not be drawn: %2")
                              .arg(convertedCount)
                              .arg(pageNumbersText(skippedPages)));
}
