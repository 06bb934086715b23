#include "cli/pageworker.h"

#include "cli/confinement.h"
#include "cli/interruptflag.h"
#include "cli/parallelconverter.h"
#include "cli/workerprotocol.h"
#include "engine/atomicfile.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>
#include <sys/resource.h>
#include <unistd.h>

namespace {

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// An allocation refused under the ceiling ends the worker with a status the
// converter reads as "over the memory limit"; unwinding from deep inside a
// renderer would more likely crash than recover.
void outOfMemory()
{
    _exit(WorkerOutOfMemory);
}

#ifdef VELLORAN_TEST_HOOKS
// Test builds only: VELLORAN_TEST_WORKER="crash <file index>:<page index>"
// makes the worker that gets that page die by SIGSEGV with its temporary file
// written halfway, as a renderer crashing mid-page would; "hang ..." makes it
// stop answering there, deaf to the stop flag and the page's time limit, as a
// renderer looping where it never asks whether to stop. The shipped program
// has no such switch. "hog ..." asks for up to 4 GiB of address space in 64
// MiB blocks, never touched, as a decoder trusting an image's size would;
// "escape ..." writes the file VELLORAN_TEST_ESCAPE names.
void misbehaveIfAsked(const BatchPlan &plan, const WorkerTask &task)
{
    const QList<QByteArray> asked = qgetenv("VELLORAN_TEST_WORKER").split(' ');
    // "<file index>:*": every page of that file.
    const QByteArray document = QByteArray::number(task.fileIndex) + ':';
    if (asked.size() != 2 || (asked.at(1) != document + QByteArray::number(task.pageIndex) && asked.at(1) != document + '*'))
        return;
    auto *file = new AtomicFile(plan.outputPath(plan.files.at(task.fileIndex), task.pageIndex));
    if (file->open()) {
        file->device().write(QByteArray(4096, 'x'));
    }
    if (asked.at(0) == "escape") {
        // A file outside the output folders: refused where the worker is confined.
        QFile outside(qEnvironmentVariable("VELLORAN_TEST_ESCAPE"));
        if (outside.open(QIODevice::WriteOnly))
            outside.write("escaped");
        delete file; // the page is drawn as usual
        return;
    }
    if (asked.at(0) == "hog") {
        std::vector<std::unique_ptr<char[]>> blocks;
        for (int i = 0; i < 64; ++i)
            blocks.emplace_back(new char[size_t(64) << 20]);
        return; // never refused: the page is drawn as usual
    }
    if (asked.at(0) == "crash") {
        std::signal(SIGSEGV, SIG_DFL); // past a sanitizer's handler, which would exit with a report
        std::raise(SIGSEGV);
    }
    else if (asked.at(0) == "hang")
        for (;;)
            pause();
}
#else
void misbehaveIfAsked(const BatchPlan &, const WorkerTask &)
{
}
#endif

} // namespace

int runWorker(const BatchPlan &plan, const WorkerSettings &settings)
{
    // Its temporary files carry its token, so that the converter can find and
    // remove the one it leaves when it is killed or crashes.
    const QString prefix = QLatin1String(AtomicFile::temporaryPrefix) + settings.token;
    AtomicFile::setNameSource([prefix] {
        return prefix + QString::number(QRandomGenerator::global()->generate64(), 36) + QStringLiteral(".tmp");
    });
    std::set_new_handler(outOfMemory);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // The kernel refuses address space past the ceiling, to the renderers'
    // allocations as to ours. Sanitizer builds reserve terabytes of address
    // space for their shadow memory, so they run without one.
    if (settings.maxMemory > 0) {
        const rlimit limit{rlim_t(settings.maxMemory), rlim_t(settings.maxMemory)};
        setrlimit(RLIMIT_AS, &limit);
    }
#endif
    if (!plan.errors.isEmpty())
        return WorkerPlanFailed;

    ParallelConverter converter(plan, settings.jobs);
    QStringList inputs;
    for (const BatchFile &file : plan.files)
        inputs << file.path;
    const QString unconfinedBecause = confineToFiles(inputs, plan.outputFolders());
    if (!writeAll(workerOutcomeFd, WorkerProtocol::readyLine(unconfinedBecause)))
        return WorkerPipeBroken;
    FILE *tasks = fdopen(workerTaskFd, "r");
    if (!tasks)
        return WorkerPipeBroken;
    char *line = nullptr;
    size_t capacity = 0;
    ssize_t length;
    int status = 0;
    while ((length = getline(&line, &capacity, tasks)) > 0) {
        const std::optional<WorkerTask> task = WorkerProtocol::readTask(QByteArray(line, length).trimmed());
        if (!task || task->fileIndex < 0 || task->fileIndex >= plan.files.size()) {
            status = WorkerPipeBroken;
            break;
        }
        misbehaveIfAsked(plan, *task);
        const PageOutcome outcome = converter.convertTask(task->fileIndex, task->pageIndex, task->bandThreads,
                                                          interruptFlag());
        if (!writeAll(workerOutcomeFd, WorkerProtocol::outcomeLine(outcome))) {
            status = WorkerPipeBroken;
            break;
        }
    }
    free(line);
    fclose(tasks);
    return status;
}
