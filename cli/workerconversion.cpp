#include "cli/workerconversion.h"

#include "cli/multipagejoin.h"
#include "engine/filestamp.h"
#include "engine/nativepath.h"
#include "runner/pagerunner.h"
#include "runner/workerprogram.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <algorithm>
#include <optional>

#include <unistd.h>

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

// An output to make: a page, or every page of a file into one (wholeFile).
struct Planned
{
    int file;
    int page;
    int slot; // its place among the file's pages
    QString redoneBecause; // its output was there, but not whole
};
constexpr int wholeFile = -1;

// Every output the plan makes, in order: a page, or with --multipage every
// page of a file into one.
QList<Planned> plannedOutputs(const BatchPlan &plan)
{
    QList<Planned> outputs;
    for (int f = 0; f < plan.files.size(); ++f) {
        const QList<int> &pages = plan.files.at(f).pages;
        if (plan.naming.multipage) {
            outputs << Planned{f, wholeFile, 0, QString()};
            continue;
        }
        for (int slot = 0; slot < pages.size(); ++slot)
            outputs << Planned{f, pages.at(slot), slot, QString()};
    }
    return outputs;
}

QString plannedPath(const BatchPlan &plan, const Planned &output)
{
    return plan.outputPath(plan.files.at(output.file), output.page == wholeFile ? 0 : output.page);
}

// With --skip-existing, an output there counts as done when it is a whole
// image of the type asked for; one left empty or cut short (a power cut, a
// copy that failed) or of another kind is made again. Whether it is whole is
// read by a worker, which has the image libraries to read it: the program
// reads no image. Sorts the outputs into those to make (each saying why it is
// made again) and those left alone.
void sortOutputs(const BatchPlan &plan, PageRunner &runner, const std::atomic<bool> &stop, QList<Planned> &pending,
                 QList<Planned> &skipped)
{
    const QList<Planned> outputs = plannedOutputs(plan);
    QList<PageTask> checks;
    QList<int> checked;
    for (int i = 0; i < outputs.size(); ++i) {
        const QString path = plannedPath(plan, outputs.at(i));
        if (!plan.naming.skipExisting || !nativeExists(path))
            continue;
        PageTask check = plan.task;
        check.kind = PageTask::Check;
        check.heldBack = false;
        check.toGivenDescriptor = false;
        check.document = outputs.at(i).file;
        check.pageIndex = qMax(0, outputs.at(i).page);
        check.outputPath = path;
        checks << check;
        checked << i;
    }
    QHash<int, QString> whyNotWhole;
    runner.run(checks, stop, [&](int index, const TaskResult &result) {
        // A check that could not be made counts as not whole: the output is made again.
        whyNotWhole.insert(checked.at(index), result.outcome.result == PageOutcome::Skipped
                                                  ? QString()
                                                  : result.outcome.detail);
    });
    for (int i = 0; i < outputs.size(); ++i) {
        Planned output = outputs.at(i);
        const auto why = whyNotWhole.constFind(i);
        if (why != whyNotWhole.cend() && why->isEmpty()) {
            skipped << output;
            continue;
        }
        if (why != whyNotWhole.cend())
            output.redoneBecause = *why;
        pending << output;
    }
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
    if (options.outputDir == BatchPlan::standardOutputName() || options.style.pagesToStandardOutput)
        givenDescriptor = STDOUT_FILENO;
    sizeCheck = pageTaskOf(options);
    sizeCheck.kind = PageTask::Probe;
    sizeCheck.checkSizes = true;
}

BatchWorkers::~BatchWorkers() = default;

BatchPlan BatchWorkers::plan(const BatchOptions &options)
{
    // A missing output folder is made before the inputs are opened, so that
    // the workers that open them may write there and go on to the pages: a
    // worker confined without it could not, and its start and its opening
    // would be done again. A plan that writes nothing takes it away again.
    const QString folder = absolutePathOf(options.outputDir);
    const bool holdsAnInput = std::any_of(options.files.cbegin(), options.files.cend(), [&folder](const QString &file) {
        const QString path = absolutePathOf(file);
        return path == folder || path.startsWith(folder + QLatin1Char('/'));
    });
    // Not where an input is named: the folder would be taken for it.
    if (options.outputTree.isNull() && options.outputDir != BatchPlan::standardOutputName()
        && !nativeExists(options.outputDir) && !holdsAnInput) {
        makeFolders(folder, nullptr, nullptr, &madeFolders);
        if (nativeIsDir(options.outputDir))
            knownFolders << options.outputDir;
    }
    BatchPlan plan = planBatch(options, [this](const QStringList &paths, const QByteArray &password,
                                               RendererKind renderer) { return probe(paths, password, renderer); });
    // Only an empty folder goes: rmdir refuses one that holds anything.
    if (!plan.errors.isEmpty() || plan.outputFolders().isEmpty() || stop.load(std::memory_order_relaxed))
        for (auto folder = madeFolders.crbegin(); folder != madeFolders.crend(); ++folder)
            ::rmdir(nativePath(*folder).constData());
    return plan;
}

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
    settings.givenDescriptor = givenDescriptor;
    runner = std::make_unique<PageRunner>(settings);
    runnerInputs = inputs;
    runnerFolders = outputFolders;
    return *runner;
}

QList<DocumentProbe> BatchWorkers::probe(const QStringList &paths, const QByteArray &password, RendererKind renderer,
                                         QList<PdfDocumentInfo> *infos)
{
    QList<PageTask> tasks;
    for (int i = 0; i < paths.size(); ++i) {
        PageTask task = sizeCheck;
        task.kind = PageTask::Probe;
        task.document = i;
        task.path = paths.at(i);
        // Before the probe: a file that changes once its worker has looked
        // at it is then refused to the workers that open it later.
        task.inputStamp = fileStamp(task.path);
        task.password = password;
        task.renderer = renderer;
        task.timeLimitMs = probeTimeLimitMs;
        tasks << task;
    }
    if (infos) {
        *infos = QList<PdfDocumentInfo>(paths.size());
        for (int i = 0; i < paths.size(); ++i) {
            PageTask task;
            task.kind = PageTask::Probe;
            task.documentInfo = true;
            task.document = i;
            task.path = paths.at(i);
            task.password = password;
            task.timeLimitMs = probeTimeLimitMs;
            tasks << task;
        }
    }
    QList<DocumentProbe> probes(paths.size());
    for (int i = 0; i < paths.size(); ++i) {
        probes[i].failure = QStringLiteral("not checked: the run was stopped");
        probes[i].stamp = tasks.at(i).inputStamp;
    }
    PageRunner &opening = runnerFor(paths, knownFolders);
    // These workers go on to the pages. Only as many start as there are
    // tasks in hand: the rest start when the pages come, if there are pages
    // for them (a worker's start is a few milliseconds of processor time, a
    // good part of what a one-page document costs).
    opening.run(tasks, stop, [&](int index, const TaskResult &result) {
        if (index >= paths.size()) {
            if (result.outcome.result == PageOutcome::Written)
                (*infos)[index - paths.size()] = result.info;
            return;
        }
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

ConversionSummary BatchWorkers::convert(const BatchPlan &plan, const PageCallback &onPage)
{
    ConversionSummary summary;
    const auto report = [&](int file, const PageOutcome &outcome) {
        if (summary.count(outcome) && onPage)
            onPage(plan.files.at(file).path, outcome);
    };
    QStringList inputs;
    for (const BatchFile &file : plan.files)
        inputs << file.path;
    PageRunner &pages = runnerFor(inputs, plan.outputFolders());
    QList<Planned> pending, skipped;
    sortOutputs(plan, pages, stop, pending, skipped);
    for (const Planned &output : std::as_const(skipped)) {
        const BatchFile &file = plan.files.at(output.file);
        for (int page : output.page == wholeFile ? file.pages : QList<int>{output.page}) {
            PageOutcome outcome;
            outcome.page = page;
            outcome.outputPath = plan.outputPath(file, page);
            outcome.result = PageOutcome::Skipped;
            report(output.file, outcome);
        }
    }

    // A task a page; a multi-page file's pages each know their place in it.
    QList<PageTask> tasks;
    QList<Planned> taskOutputs;
    for (const Planned &output : std::as_const(pending)) {
        const QList<int> &pages = plan.files.at(output.file).pages;
        const bool whole = output.page == wholeFile;
        for (int slot = whole ? 0 : output.slot; slot < (whole ? pages.size() : output.slot + 1); ++slot) {
            tasks << plan.taskFor(output.file, pages.at(slot));
            taskOutputs << Planned{output.file, pages.at(slot), slot, output.redoneBecause};
        }
    }

    MultipageJoin multipage(plan);
    pages.run(tasks, stop, [&](int index, const TaskResult &result) {
        const Planned &output = taskOutputs.at(index);
        PageOutcome outcome = result.outcome;
        outcome.redoneBecause = output.redoneBecause;
        outcome.renderer = rendererName(plan.files.at(output.file).renderer);
        // The pages in hand finish (each says how it ended); no more are started.
        if (summary.stoppedBecause.isEmpty() && metFullDisk(outcome)) {
            pages.stopHandingOut();
            summary.stoppedBecause = QStringLiteral("%1: %2").arg(
                displayPath(QFileInfo(outcome.outputPath).path()),
                outcome.detail.section(QStringLiteral(": "), -1));
        }
        if (plan.naming.multipage)
            multipage.add({output.file, output.slot}, tasks.at(index), outcome); // reported with its file
        else
            report(output.file, outcome);
    });
    if (plan.naming.multipage)
        joinFiles(plan, multipage, pages, report);
    pages.endWorkers();
    summary.confinement = pages.confinement();
    summary.memoryLimit = limits.maxMemory > 0 ? QStringLiteral("resident") : QStringLiteral("none");
    summary.finish(plan.pageCount());
    return summary;
}

// Every multi-page file whose pages are all in is joined by a worker, all of
// them side by side, and its pages reported once it is there or given up.
void BatchWorkers::joinFiles(const BatchPlan &plan, MultipageJoin &pages, PageRunner &runner,
                             const std::function<void(int file, const PageOutcome &)> &report)
{
    const QList<std::pair<int, PageTask>> joins = pages.joinTasks();
    QList<PageTask> tasks;
    for (const auto &join : joins)
        tasks << join.second;
    QList<std::optional<TaskResult>> joined(plan.files.size());
    // A stop before the joins leaves their files unmade; their pages go unreported.
    if (!tasks.isEmpty())
        runner.run(tasks, stop, [&](int index, const TaskResult &result) { joined[joins.at(index).first] = result; });
    for (int f = 0; f < plan.files.size(); ++f) {
        const bool hadJoin = std::any_of(joins.cbegin(), joins.cend(), [f](const auto &join) { return join.first == f; });
        if (hadJoin && !joined.at(f))
            continue;
        for (const PageOutcome &outcome : pages.finish(f, joined.at(f)))
            report(f, outcome);
    }
}
