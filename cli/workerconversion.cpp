#include "cli/workerconversion.h"

#include "engine/nativepath.h"
#include "runner/pagerunner.h"
#include "runner/workerprogram.h"
#include "engine/nativepath.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <algorithm>

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

BatchWorkers::BatchWorkers(const BatchOptions &options, const WorkerLimits &limits, const std::atomic<bool> &stop)
    : limits(limits)
    , stop(stop)
{
    // With --output-tree the folders follow from the inputs, once they are checked.
    if (options.outputTree.isNull() && options.outputDir != BatchPlan::standardOutputName()
        && nativeIsDir(options.outputDir))
        knownFolders << options.outputDir;
    const OutputStyle &style = options.style;
    sizeCheck.checkSizes = true;
    sizeCheck.options = style.renderOptions();
    sizeCheck.resolution = options.resolution;
    sizeCheck.fitWidth = style.width;
    sizeCheck.fitHeight = style.height;
    sizeCheck.longestSide = style.longestSide;
    // An unknown type is refused before anything is opened.
    sizeCheck.format = imageFormatForExtension(options.extension).value_or(ImageFormat::Jpeg);
    sizeCheck.mode = style.mode;
    sizeCheck.region = style.crop;
}

BatchWorkers::~BatchWorkers() = default;

PageRunner &BatchWorkers::runnerFor(const QStringList &inputs, const QStringList &outputFolders)
{
    const auto covers = [](const QStringList &have, const QStringList &need) {
        return std::all_of(need.cbegin(), need.cend(), [&have](const QString &item) { return have.contains(item); });
    };
    if (runner && covers(runnerInputs, inputs) && covers(runnerFolders, outputFolders))
        return *runner;
    runner.reset();
    RunnerSettings settings;
    settings.program = workerProgram();
    settings.workers = qMax(1, limits.jobs);
    settings.maxMemory = limits.maxMemory;
    settings.inputs = inputs;
    settings.outputFolders = outputFolders;
    runner = std::make_unique<PageRunner>(settings);
    runnerInputs = inputs;
    runnerFolders = outputFolders;
    return *runner;
}

QList<DocumentProbe> BatchWorkers::probe(const QStringList &paths, const QByteArray &password, RendererKind renderer)
{
    QList<PageTask> tasks;
    for (int i = 0; i < paths.size(); ++i) {
        PageTask task = sizeCheck;
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
    PageRunner &opening = runnerFor(paths, knownFolders);
    // These workers go on to the pages: all of them start now, so that each
    // is ready by the time the pages come.
    if (!knownFolders.isEmpty())
        opening.startWorkers();
    opening.run(tasks, stop, [&](int index, const TaskResult &result) {
        DocumentProbe &probe = probes[index];
        probe.failure.clear();
        if (result.outcome.result == PageOutcome::TooLarge)
            probe.noPageFits = result.outcome.detail;
        else if (result.outcome.result != PageOutcome::Written) {
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
    task.pdftoppm = style.pdftoppm;
    return task;
}

ConversionSummary BatchWorkers::convert(const BatchPlan &plan, const ParallelConverter::PageCallback &onPage)
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

    QStringList inputs;
    for (const BatchFile &file : plan.files)
        inputs << file.path;
    PageRunner &pages = runnerFor(inputs, plan.outputFolders());
    pages.run(tasks, stop, [&](int index, const TaskResult &result) {
        const ParallelConverter::Task &task = pending.at(index);
        PageOutcome outcome = result.outcome;
        outcome.redoneBecause = task.redoneBecause;
        outcome.renderer = rendererName(plan.files.at(task.fileIndex).renderer);
        if (summary.count(outcome) && onPage)
            onPage(plan.files.at(task.fileIndex).path, outcome);
        // The pages in hand finish (each says how it ended); no more are started.
        if (summary.stoppedBecause.isEmpty() && metFullDisk(outcome)) {
            pages.stopHandingOut();
            summary.stoppedBecause = QStringLiteral("%1: %2").arg(
                displayPath(QFileInfo(outcome.outputPath).path()),
                outcome.detail.section(QStringLiteral(": "), -1));
        }
    });
    pages.endWorkers();
    summary.confinement = pages.confinement();
    summary.memoryLimit = limits.maxMemory > 0 ? QStringLiteral("resident") : QStringLiteral("none");
    summary.finish(plan.pageCount());
    return summary;
}
