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
#include <cstring>
#include <new>
#include <vector>
#include <sys/socket.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// Descriptors that came with the bytes read (SCM_RIGHTS): each belongs to
// the task whose frame carried it, the one read next, and is closed after it.
class GivenDescriptors
{
public:
    ~GivenDescriptors() { closeAll(); }
    void add(int fd) { held.push_back(fd); }
    // The last one given, which the caller closes; the others are closed now.
    int take()
    {
        const int last = held.empty() ? -1 : held.back();
        if (!held.empty())
            held.pop_back();
        closeAll();
        return last;
    }

private:
    void closeAll()
    {
        for (int fd : held)
            ::close(fd);
        held.clear();
    }
    std::vector<int> held;
};

// Reads what the socket has, keeping any descriptors sent with it.
ssize_t receive(char *buffer, size_t size, GivenDescriptors &given)
{
    iovec part{buffer, size};
    alignas(cmsghdr) char control[CMSG_SPACE(4 * sizeof(int))];
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(workerTaskFd, &message, MSG_CMSG_CLOEXEC);
    if (n < 0)
        return n;
    for (cmsghdr *header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS)
            continue;
        const size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int fd = -1;
            std::memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof(int));
            given.add(fd);
        }
    }
    return n;
}

// The next message's body, or nothing once the pipe has closed or carried
// something that is not a frame.
std::optional<QByteArray> readFrame(TaskProtocol::FrameReader &reader, GivenDescriptors &given)
{
    for (;;) {
        if (std::optional<QByteArray> body = reader.next())
            return body;
        if (reader.broken())
            return std::nullopt;
        char buffer[65536];
        const ssize_t n = receive(buffer, sizeof buffer, given);
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

// A task of this version the worker cannot read (a value out of range, a
// field that does not parse) fails alone, with the reason, for its page.
TaskResult unreadableTask(const PageTask &task, const QString &why)
{
    TaskResult result;
    result.outcome.page = task.pageIndex;
    result.outcome.outputPath = task.outputPath;
    result.outcome.result = PageOutcome::RenderFailed;
    result.outcome.detail = QStringLiteral("the worker could not read its task: ") + why;
    return result;
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
    GivenDescriptors given;
    const std::optional<QByteArray> first = readFrame(reader, given);
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
    bool broken = false;
    while (const std::optional<QByteArray> body = readFrame(reader, given)) {
        QString why;
        std::optional<PageTask> unreadable;
        const std::optional<PageTask> task = TaskProtocol::readTask(*body, &why, &unreadable);
        const int descriptor = given.take();
        if (!task && !unreadable) {
            if (descriptor >= 0)
                ::close(descriptor);
            return WorkerPipeBroken; // another version, or not a task: no answer it would take
        }
        if (task && beforeTask)
            beforeTask(*task, descriptor);
        // A page that shares its descriptor asks for its turn and waits for the answer.
        const auto waitForTurn = [&] {
            TaskProtocol::TurnWanted wanted;
            wanted.page = task->pageIndex;
            const std::optional<QByteArray> answer =
                TaskProtocol::sendAll(workerResultFd, TaskProtocol::frame(wanted)) ? readFrame(reader, given)
                                                                                    : std::nullopt;
            const std::optional<TaskProtocol::TurnGiven> turn =
                answer ? TaskProtocol::readTurnGiven(*answer) : std::nullopt;
            broken = !turn;
            return turn && turn->write;
        };
        const TaskResult result =
            task ? executor.run(*task, interruptFlag(), descriptor, waitForTurn) : unreadableTask(*unreadable, why);
        if (descriptor >= 0)
            ::close(descriptor);
        if (broken || !TaskProtocol::sendAll(workerResultFd, TaskProtocol::frame(result)))
            return WorkerPipeBroken;
    }
    return reader.broken() ? WorkerPipeBroken : 0;
}
