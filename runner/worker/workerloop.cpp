#include "runner/worker/workerloop.h"

#include "engine/atomicfile.h"
#include "engine/memorybudget.h"
#include "engine/render/renderdocument.h"
#include "runner/worker/confinement.h"
#include "runner/interruptflag.h"
#include "runner/worker/taskexecutor.h"
#include "runner/taskprotocol.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#include <sanitizer/common_interface_defs.h>
#endif

#include <cerrno>
#include <csignal>
#include <new>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// The next message's body, or nothing once the pipe has closed or carried
// something that is not a frame.
std::optional<QByteArray> readFrame(TaskProtocol::FrameReader &reader)
{
    for (;;) {
        if (std::optional<QByteArray> body = reader.next())
            return body;
        if (reader.broken())
            return std::nullopt;
        char buffer[65536];
        const ssize_t n = ::read(workerTaskFd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;
        reader.append(buffer, n);
    }
}

// An allocation refused under the ceiling ends the worker with a status its
// program reads as "over the memory limit"; unwinding from deep inside a
// renderer would more likely crash than recover.
void outOfMemory()
{
    _exit(WorkerOutOfMemory);
}

// The ceiling on memory used is kept by the worker's program, which measures
// it as the worker draws (PageRunner). Between two looks a page could take
// gigabytes, so the kernel refuses address space far past it: libraries,
// thread stacks and the allocator's reservations take address space that
// holds nothing, hence the room. Sanitizer builds reserve terabytes of address
// space for their shadow memory, so they run without it.
void limitMemory(qint64 bytes)
{
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    if (bytes > 0) {
        const qint64 backstop = 4 * bytes + (qint64(1) << 30);
        const rlimit limit{rlim_t(backstop), rlim_t(backstop)};
        setrlimit(RLIMIT_AS, &limit);
    }
#else
    Q_UNUSED(bytes);
#endif
}

} // namespace

int runWorkerLoop(const BeforeTask &beforeTask)
{
    // A worker ends with the thread that started it, however that ends; one
    // that died before this line closed the task pipe, which ends it too.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    // SIGTERM asks the page in hand to stop, as Ctrl-C does in the program.
    installInterruptHandler();
    keepPageBuffersInHeap();
    std::set_new_handler(outOfMemory);
    keepRendererReports();
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // What the sanitizers find reaches the terminal, not the page's warnings.
    __sanitizer_set_report_fd(reinterpret_cast<void *>(intptr_t(workerReportFd)));
#endif

    TaskProtocol::FrameReader reader;
    const std::optional<QByteArray> first = readFrame(reader);
    const std::optional<TaskProtocol::Setup> setup = first ? TaskProtocol::readSetup(*first) : std::nullopt;
    if (!setup)
        return WorkerSetupFailed;
    AtomicFile::setTemporaryMark(setup->mark);
    limitMemory(setup->maxMemory);
    TaskProtocol::Ready ready;
    ready.unconfinedBecause = confineToFiles(setup->inputs, setup->outputFolders);
    if (!TaskProtocol::sendAll(workerResultFd, TaskProtocol::frame(ready)))
        return WorkerPipeBroken;

    TaskExecutor executor(setup->memoryShare, setup->maxMemory);
    while (const std::optional<QByteArray> body = readFrame(reader)) {
        const std::optional<PageTask> task = TaskProtocol::readTask(*body);
        if (!task)
            return WorkerPipeBroken;
        if (beforeTask)
            beforeTask(*task);
        if (!TaskProtocol::sendAll(workerResultFd, TaskProtocol::frame(executor.run(*task, interruptFlag()))))
            return WorkerPipeBroken;
    }
    return reader.broken() ? WorkerPipeBroken : 0;
}
