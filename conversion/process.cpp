#include "conversion/process.h"

#include "engine/outputname.h"
#include "engine/pagelist.h"
#include "engine/pagepipeline.h"

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

PageOutcome Process::convert(const QString &filePath)
{
    const std::optional<ImageFormat> format = imageFormatForExtension(qsExtension);
    if (!format) {
        PageOutcome unwritable;
        unwritable.result = PageOutcome::WriteFailed;
        return unwritable;
    }
    PageJob job;
    job.pageIndex = int(pageIndex);
    job.outputPath = filePath;
    job.format = *format;
    job.resolution = resolution;
    job.quality = quality;
    // The cancel flag stops the page while it is being drawn, too.
    return convertPage(pdfDoc, job, canceled);
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

        const PageOutcome page = convert(filePath);
        switch (page.result) {
        case PageOutcome::Stopped:
            emit LogStatusBar(tr("User canceled"));
            return;
        case PageOutcome::NoPage:
        case PageOutcome::RenderFailed:
        case PageOutcome::TimedOut: // the window sets no time limit and skips nothing
        case PageOutcome::Skipped:
            skippedPages.append(int(pageIndex));
            continue;
        case PageOutcome::TooLarge:
            stopWith(tr("Page %1 is too large to render at %2 dpi,stoped").arg(pageIndex + 1).arg(resolution));
            return;
        case PageOutcome::TooSmall:
            stopWith(tr("Page %1 is smaller than one pixel at %2 dpi,stoped").arg(pageIndex + 1).arg(resolution));
            return;
        case PageOutcome::WriteFailed:
        case PageOutcome::Written:
            break;
        }

        emit LogStatusBar(tr("Output: %1").arg(fileName));
        if (cancelSeen())
            return;
        if (page.result != PageOutcome::Written) {
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
