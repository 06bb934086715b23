#include "conversion/process.h"

#include "config/windowlog.h"
#include "engine/outputname.h"
#include "engine/pagelist.h"
#include "runner/pagerunner.h"
#include "runner/workerprogram.h"

#include <QDir>

Process::Process(QObject *parent)
    : QThread(parent)
{
}

Process::~Process() = default;

void Process::ResetJob()
{
    qsPdfFile = QString();
    pdfStamp = FileStamp();
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

PageTask Process::taskFor(int page, const QString &filePath, ImageFormat format) const
{
    // The window's own drawing: Poppler with its render hints, the page whole.
    PageTask task;
    task.kind = PageTask::Convert;
    task.path = qsPdfFile;
    // The file the window opened, and no other that took its name since.
    task.inputStamp = pdfStamp;
    task.renderer = RendererKind::Poppler;
    task.pageIndex = page;
    task.outputPath = filePath;
    task.format = format;
    task.resolution = resolution;
    task.quality = quality;
    task.heldBack = true;
    return task;
}

void Process::paceReports()
{
    if (!sinceLastPage.isValid())
        return;
    const qint64 left = pauseBetweenPagesMs - sinceLastPage.elapsed();
    if (left > 0)
        QThread::msleep(static_cast<unsigned long>(left));
}

bool Process::report(PagesInOrder::Taken &taken)
{
    pageIndex = unsigned(pageList.takeFirst());
    if (cancelSeen())
        return false;
    const TaskResult &drawn = taken.result();
    const PageOutcome &page = drawn.outcome;
    const QString fileName = outputFileName(qsPdfFile, int(pageIndex), qsExtension);
    const QString filePath = outputFilePath(QDir(qsOutputDir), fileName);
    if (drawn.workerLost) {
        stopWith(tr("Page %1 could not be drawn: %2,stoped").arg(pageIndex + 1).arg(page.detail));
        return false;
    }
    switch (page.result) {
    case PageOutcome::Stopped:
        emit LogStatusBar(tr("User canceled"));
        return false;
    case PageOutcome::NoPage:
    case PageOutcome::RenderFailed:
    case PageOutcome::TimedOut: // the window sets no time limit and skips nothing
    case PageOutcome::Skipped:
        skippedPages.append(int(pageIndex));
        return true;
    case PageOutcome::TooLarge:
        stopWith(tr("Page %1 is too large to render at %2 dpi,stoped").arg(pageIndex + 1).arg(resolution));
        return false;
    case PageOutcome::TooSmall:
        stopWith(tr("Page %1 is smaller than one pixel at %2 dpi,stoped").arg(pageIndex + 1).arg(resolution));
        return false;
    case PageOutcome::WriteFailed:
    case PageOutcome::Written:
        break;
    }

    paceReports();
    QString why;
    const bool written = page.result == PageOutcome::Written && taken.place(filePath, &why);
    emit LogStatusBar(tr("Output: %1").arg(fileName));
    if (cancelSeen())
        return false;
    if (!written) {
        stopWith(tr("Error to save image: %1,stoped").arg(filePath));
        return false;
    }

    ++convertedCount;
    emit ConvertProgress(qint32(convertedCount), qint32(totalCount));
    sinceLastPage.start();
    if (convertedCount >= totalCount) {
        emit LogStatusBar(tr("All converted"));
        return false;
    }
    return true;
}

void Process::run()
{
    convertedCount = 0;
    totalCount = unsigned(pageList.size());
    sinceLastPage.invalidate();
    if (totalCount == 0)
        return;

    const QDir outputDir(qsOutputDir);
    emit LogStatusBar(tr("Start convert..."));

    QList<PageTask> tasks;
    const std::optional<ImageFormat> format = imageFormatForExtension(qsExtension);
    for (const int page : std::as_const(pageList)) {
        const QString filePath = outputFilePath(outputDir, outputFileName(qsPdfFile, page, qsExtension));
        qCDebug(windowLog) << filePath;
        tasks.append(taskFor(page, filePath, format.value_or(ImageFormat::Jpeg)));
    }
    if (!format) {
        // No encoder for the type: the first page's file cannot be written.
        TaskResult unwritable = failedTask(tasks.constFirst(), PageOutcome::WriteFailed, QString());
        unwritable.workerLost = false;
        PagesInOrder::Taken page(0, unwritable);
        report(page);
        return;
    }

    // Every page is drawn and written by a worker process that may read the
    // document and write in the output folder alone: a page that crashes the
    // renderer ends the run with a message, not the window. The pages are
    // drawn on every core; each is reported, and its file put in place, only
    // after the pages before it, so the run reads and ends as one page after
    // another would, and a run that ends early leaves no file of a later page.
    RunnerSettings settings;
    settings.program = workerProgram();
    settings.workers = qMax(1, QThread::idealThreadCount());
    settings.inputs = QStringList{qsPdfFile};
    settings.outputFolders = QStringList{qsOutputDir};
    PageRunner runner(settings);
    PagesInOrder inOrder;
    bool ended = false;
    // The cancel flag stops the pages while they are being drawn, too; a page
    // that does not stop is ended with its worker.
    runner.run(tasks, canceled, [&](int index, const TaskResult &result) {
        inOrder.add(index, tasks.at(index), result);
        while (!ended) {
            std::optional<PagesInOrder::Taken> next = inOrder.next();
            if (!next)
                break;
            ended = !report(*next);
        }
        if (ended)
            runner.stopHandingOut();
    });
    // The workers are done with: a window that is ending meanwhile (Exit,
    // closing) has them killed rather than waiting for them to leave.
    runner.endWorkers(&canceled);
    if (ended)
        return;
    if (canceled.load(std::memory_order_relaxed)) {
        // Seen before the next page, as it would be one page after another.
        if (!pageList.isEmpty())
            pageIndex = unsigned(pageList.takeFirst());
        cancelSeen();
        return;
    }
    // Only pages that could not be drawn keep a run from reaching its total;
    // without this line the run would look as if it never ended.
    if (!skippedPages.isEmpty())
        emit LogStatusBar(tr("%1 page converted, pages that could not be drawn: %2")
                              .arg(convertedCount)
                              .arg(pageNumbersText(skippedPages)));
}
