#include "conversion/process.h"

#include "engine/outputname.h"
#include "engine/pagelist.h"
#include "runner/pagerunner.h"
#include "runner/workerprogram.h"

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

TaskResult Process::convert(PageRunner &runner, const QString &filePath)
{
    const std::optional<ImageFormat> format = imageFormatForExtension(qsExtension);
    if (!format) {
        TaskResult unwritable;
        unwritable.outcome.result = PageOutcome::WriteFailed;
        return unwritable;
    }
    // The window's own drawing: Poppler with its render hints, the page whole.
    PageTask task;
    task.kind = PageTask::Convert;
    task.path = qsPdfFile;
    task.renderer = RendererKind::Poppler;
    task.pageIndex = int(pageIndex);
    task.outputPath = filePath;
    task.format = *format;
    task.resolution = resolution;
    task.quality = quality;
    // The cancel flag stops the page while it is being drawn, too; a page
    // that does not stop is ended with its worker.
    return runner.runOne(task, canceled);
}

void Process::run()
{
    convertedCount = 0;
    totalCount = unsigned(pageList.size());
    if (totalCount == 0)
        return;

    const QDir outputDir(qsOutputDir);
    emit LogStatusBar(tr("Start convert..."));

    // Every page is drawn and written by a worker process that may read the
    // document and write in the output folder alone: a page that crashes the
    // renderer ends the run with a message, not the window.
    RunnerSettings settings;
    settings.program = workerProgram();
    settings.inputs = QStringList{qsPdfFile};
    settings.outputFolders = QStringList{qsOutputDir};
    PageRunner runner(settings);

    while (!pageList.isEmpty()) {
        pageIndex = unsigned(pageList.takeFirst());
        if (cancelSeen())
            return;

        const QString fileName = outputFileName(qsPdfFile, int(pageIndex), qsExtension);
        const QString filePath = outputFilePath(outputDir, fileName);
        qDebug() << filePath;

        const TaskResult drawn = convert(runner, filePath);
        const PageOutcome &page = drawn.outcome;
        if (drawn.workerLost) {
            stopWith(tr("Page %1 could not be drawn: %2,stoped").arg(pageIndex + 1).arg(page.detail));
            return;
        }
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
