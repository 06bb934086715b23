#include "cli/workerconversion.h"

#include "runner/pagerunner.h"
#include "runner/workerprogram.h"
#include "engine/nativepath.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>

// Opening a document takes no longer than this, or the file is refused.
constexpr qint64 probeTimeLimitMs = 60000;

namespace {

// A write that failed because its file system is full (or the user's quota
// is spent): every page after it would fail the same way.
bool metFullDisk(const PageOutcome &outcome)
{
    if (outcome.result != PageOutcome::WriteFailed)
        return false;
    for (const int error : {ENOSPC, EDQUOT})
        if (outcome.detail.contains(QString::fromLocal8Bit(std::strerror(error))))
            return true;
    return false;
}

} // namespace

QList<DocumentProbe> probeInWorkers(const QStringList &paths, const QByteArray &password, RendererKind renderer,
                                    const WorkerLimits &limits, const std::atomic<bool> &stop)
{
    QList<PageTask> tasks;
    for (int i = 0; i < paths.size(); ++i) {
        PageTask task;
        task.kind = PageTask::Probe;
        task.document = i;
        task.path = paths.at(i);
        task.password = password;
        task.renderer = renderer;
        task.timeLimitMs = probeTimeLimitMs;
        tasks << task;
    }
    QList<DocumentProbe> probes(paths.size());
    for (DocumentProbe &probe : probes)
        probe.failure = QStringLiteral("not checked: the run was stopped");
    RunnerSettings settings;
    settings.program = workerProgram();
    settings.workers = qBound(1, limits.jobs, int(qMax<qsizetype>(1, paths.size())));
    settings.maxMemory = limits.maxMemory;
    settings.inputs = paths;
    PageRunner runner(settings);
    runner.run(tasks, stop, [&](int index, const TaskResult &result) {
        DocumentProbe &probe = probes[index];
        probe.failure.clear();
        if (result.outcome.result != PageOutcome::Written) {
            probe.failure = result.outcome.detail;
            return;
        }
        probe.status = result.loadStatus;
        probe.rendererStatus = result.rendererStatus;
        probe.pageCount = result.pageCount;
    });
    return probes;
}

PageTask pageTaskFor(const BatchPlan &plan, int fileIndex, int pageIndex)
{
    const BatchFile &file = plan.files.at(fileIndex);
    const OutputStyle &style = plan.style;
    PageTask task;
    task.kind = PageTask::Convert;
    task.document = fileIndex;
    task.path = file.path;
    task.password = plan.password;
    task.renderer = file.renderer;
    task.options = style.renderOptions();
    task.pageIndex = pageIndex;
    task.resolution = plan.resolution;
    task.fitWidth = style.width;
    task.fitHeight = style.height;
    task.longestSide = style.longestSide;
    task.outputPath = plan.outputPath(file, pageIndex);
    task.format = imageFormatForExtension(plan.extension).value_or(ImageFormat::Jpeg); // checked by the plan
    task.quality = plan.quality;
    task.mode = style.mode;
    task.region = style.crop;
    task.encoder = style.encoder;
    task.timeLimitMs = style.timeLimitMs;
    // A file that a later run counts as done must survive a power cut whole.
    task.synced = style.skipExisting;
    task.strict = style.strict;
    return task;
}

ConversionSummary convertInWorkers(const BatchPlan &plan, const WorkerLimits &limits, const std::atomic<bool> &stop,
                                   const ParallelConverter::PageCallback &onPage)
{
    ConversionSummary summary;
    ParallelConverter planned(plan);
    planned.reportSkipped([&](const QString &pdfPath, const PageOutcome &outcome) {
        if (summary.count(outcome) && onPage)
            onPage(pdfPath, outcome);
    });
    const QList<ParallelConverter::Task> &pending = planned.pendingTasks();
    QList<PageTask> tasks;
    tasks.reserve(pending.size());
    for (const ParallelConverter::Task &task : pending)
        tasks << pageTaskFor(plan, task.fileIndex, task.pageIndex);

    RunnerSettings settings;
    settings.program = workerProgram();
    settings.workers = qMax(1, limits.jobs);
    settings.maxMemory = limits.maxMemory;
    for (const BatchFile &file : plan.files)
        settings.inputs << file.path;
    settings.outputFolders = plan.outputFolders();
    PageRunner runner(settings);
    runner.run(tasks, stop, [&](int index, const TaskResult &result) {
        const ParallelConverter::Task &task = pending.at(index);
        PageOutcome outcome = result.outcome;
        outcome.redoneBecause = task.redoneBecause;
        outcome.renderer = rendererName(plan.files.at(task.fileIndex).renderer);
        if (summary.count(outcome) && onPage)
            onPage(plan.files.at(task.fileIndex).path, outcome);
        // The pages in hand finish (each says how it ended); no more are started.
        if (summary.stoppedBecause.isEmpty() && metFullDisk(outcome)) {
            runner.stopHandingOut();
            summary.stoppedBecause = QStringLiteral("%1: %2").arg(
                displayPath(QFileInfo(outcome.outputPath).path()),
                outcome.detail.section(QStringLiteral(": "), -1));
        }
    });
    runner.endWorkers();
    summary.confinement = runner.confinement();
    summary.memoryLimit = settings.maxMemory > 0 ? QStringLiteral("resident") : QStringLiteral("none");
    summary.finish(plan.pageCount());
    return summary;
}
