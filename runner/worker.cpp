#include "runner/worker.h"

#include "engine/atomicfile.h"
#include "engine/drawingnotes.h"
#include "engine/nativepath.h"
#include "runner/workerchannel.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

QString signalName(int number)
{
    const char *abbreviation = sigabbrev_np(number);
    return abbreviation ? QStringLiteral("SIG") + QLatin1String(abbreviation) : QStringLiteral("signal %1").arg(number);
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString randomMark()
{
    // Letters and digits, then '-', which a random name cannot hold: no
    // worker's mark is the start of another's.
    return QString::number(QRandomGenerator::global()->generate64(), 36) + QLatin1Char('-');
}

// A descriptor for the worker, moved above the numbers it gets its own on
// (workerTaskFd, workerResultFd, its output), so that one dup2 cannot close another.
int highDescriptor(int fd)
{
    if (fd < 0)
        return -1;
    const int high = fcntl(fd, F_DUPFD_CLOEXEC, 10);
    ::close(fd);
    return high;
}

// The frame with a copy of descriptor, carried by its first byte (SCM_RIGHTS):
// the worker has it by the time it has read the whole frame.
bool sendWithDescriptor(int socket, const QByteArray &frame, int descriptor)
{
    char first = frame.at(0);
    iovec part{&first, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr *header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &descriptor, sizeof(int));
    ssize_t sent;
    while ((sent = ::sendmsg(socket, &message, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
    }
    return sent == 1 && TaskProtocol::sendAll(socket, frame.mid(1));
}

} // namespace

Worker::~Worker()
{
    if (pid > 0)
        retire(true, {});
}

bool Worker::start(const QString &program, const TaskProtocol::Setup &given)
{
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        failure = systemError(errno);
        return false;
    }
    const int child = highDescriptor(ends[1]);
    fd = ends[0];

    const QByteArray path = nativePath(program);
    QByteArray name = path;
    std::vector<char *> argv{name.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, child, workerTaskFd);
    posix_spawn_file_actions_adddup2(&actions, child, workerResultFd);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // Whatever a library prints (Fontconfig's complaints, an allocator's
    // last words) goes to a file of the worker's own, never to the terminal
    // or into a report on stdout: its program reads it after each task and
    // keeps it with the page's warnings.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // Before stderr is redirected: the sanitizers' reports go to this one.
    posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, workerReportFd);
#endif
    printed = highDescriptor(memfd_create("velloran-worker-output", MFD_CLOEXEC));
    printedRead = 0;
    if (printed >= 0) {
        posix_spawn_file_actions_adddup2(&actions, printed, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, printed, STDERR_FILENO);
    } else {
        posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int error = posix_spawn(&pid, path.constData(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(child);
    if (error != 0) {
        pid = -1;
        failure = QStringLiteral("%1: %2").arg(displayPath(program), systemError(error));
        ::close(fd);
        fd = -1;
        if (printed >= 0)
            ::close(printed);
        printed = -1;
        return false;
    }
    started.start();
    TaskProtocol::Setup setup = given;
    temporaryMark = randomMark();
    setup.mark = temporaryMark;
    // Waits while the worker reads a long list of inputs; a worker that died
    // at once shows as the end of its pipe, read later.
    TaskProtocol::sendAll(fd, TaskProtocol::frame(setup));
    return true;
}

bool Worker::send(const PageTask &task, int index, int descriptor)
{
    // The socket takes a frame as large as any task whole, so this does not wait.
    const QByteArray frame = TaskProtocol::frame(task);
    if (descriptor >= 0 ? !sendWithDescriptor(fd, frame, descriptor) : !TaskProtocol::sendAll(fd, frame))
        return false;
    inHand = task;
    taskIndex = index;
    turnAsked = false;
    turnAskedAt = -1;
    waitedMs = 0;
    clock.start();
    // Only a preview and an opening are timed by processor time.
    cpuAtStart = task.kind == PageTask::Convert ? 0 : cpuMs();
    return true;
}

bool Worker::receive()
{
    // Nothing more is taken from a worker that broke the protocol.
    if (fd < 0 || !brokenBecause.isEmpty())
        return true;
    bool ended = false;
    char buffer[65536];
    for (;;) {
        // Never waits: the socket itself blocks, for whole frames to be sent.
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            reader.append(buffer, n);
            continue;
        }
        ended = n == 0 || (errno != EAGAIN && errno != EINTR);
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    while (const std::optional<QByteArray> body = reader.next()) {
        QString why;
        if (!isReady) {
            const std::optional<TaskProtocol::Ready> answer = TaskProtocol::readReady(*body, &why);
            if (!answer)
                return breaks(why);
            isReady = true;
            unconfined = answer->unconfinedBecause;
            continue;
        }
        if (taskIndex >= 0 && inHand.inTurn && !turnAsked && TaskProtocol::isTurnWanted(*body)) {
            const std::optional<TaskProtocol::TurnWanted> wanted = TaskProtocol::readTurnWanted(*body, &why);
            if (!wanted)
                return breaks(why);
            if (wanted->page != inHand.pageIndex)
                return breaks(QStringLiteral("a turn asked for page %1 while page %2 was in hand")
                                  .arg(wanted->page + 1)
                                  .arg(inHand.pageIndex + 1));
            turnAsked = true;
            turnAskedAt = clock.elapsed();
            continue;
        }
        std::optional<TaskResult> result = TaskProtocol::readResult(*body, &why);
        if (!result)
            return breaks(why);
        if (taskIndex < 0)
            return breaks(QStringLiteral("a result with no task in hand"));
        if (inHand.kind != PageTask::Probe && result->outcome.page != inHand.pageIndex)
            return breaks(QStringLiteral("a result for page %1 while page %2 was in hand")
                              .arg(result->outcome.page + 1)
                              .arg(inHand.pageIndex + 1));
        addPrinted(result->outcome, takePrinted());
        results.emplace_back(taskIndex, *result);
        taskIndex = -1;
        turnAskedAt = -1;
    }
    if (reader.broken())
        return breaks(QStringLiteral("a frame longer than any message"));
    return ended;
}

qint64 Worker::elapsed() const
{
    const qint64 now = clock.elapsed();
    return now - waitedMs - (turnAskedAt >= 0 ? now - turnAskedAt : 0);
}

bool Worker::giveTurn(bool write)
{
    if (turnAskedAt < 0)
        return true;
    waitedMs += clock.elapsed() - turnAskedAt;
    turnAskedAt = -1;
    TaskProtocol::TurnGiven given;
    given.write = write;
    return TaskProtocol::sendAll(fd, TaskProtocol::frame(given));
}

bool Worker::breaks(const QString &why)
{
    if (brokenBecause.isEmpty())
        brokenBecause = QStringLiteral("the worker process broke the protocol: ") + why;
    return true;
}

std::optional<std::pair<int, TaskResult>> Worker::takeResult()
{
    if (results.empty())
        return std::nullopt;
    std::pair<int, TaskResult> first = std::move(results.front());
    results.pop_front();
    return first;
}

void Worker::askToStop()
{
    if (pid > 0)
        ::kill(pid, SIGTERM);
}

void Worker::killNow()
{
    if (pid > 0)
        ::kill(pid, SIGKILL);
}

void Worker::dismiss()
{
    if (fd >= 0)
        ::shutdown(fd, SHUT_WR);
}

int Worker::retire(bool kill, const QStringList &folders, qint64 graceMs)
{
    dismiss(); // its task pipe closes: an idle worker ends
    // What it sent may not be trusted: nothing it does from here is waited for.
    kill = kill || !brokenBecause.isEmpty();
    if (pid > 0 && !kill && !endsWithin(graceMs)) {
        kill = true;
        brokenBecause = QStringLiteral("the worker process closed its pipe but did not end");
    }
    if (kill && pid > 0)
        ::kill(pid, SIGKILL);
    int status = 0;
    // It has ended or is killed: this wait is a short one.
    if (pid > 0)
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    receive();
    if (fd >= 0)
        ::close(fd);
    fd = -1;
    lastPrinted = takePrinted();
    if (printed >= 0)
        ::close(printed);
    printed = -1;
    pid = -1;
    for (const QString &folder : folders)
        AtomicFile::removeMarkedTemporaries(folder, temporaryMark);
    return status;
}

// Whether it has ended, or ends within ms, without reaping it.
bool Worker::endsWithin(qint64 ms) const
{
    siginfo_t info{};
    const auto ended = [&] {
        info.si_pid = 0;
        return waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != 0;
    };
    if (ended())
        return true;
    const int handle = int(syscall(SYS_pidfd_open, pid, 0));
    if (handle >= 0) {
        pollfd watched{handle, POLLIN, 0};
        QElapsedTimer waited;
        waited.start();
        while (poll(&watched, 1, int(qMax<qint64>(0, ms - waited.elapsed()))) < 0 && errno == EINTR) {
        }
        ::close(handle);
        return ended();
    }
    // No pidfd (a kernel before 5.3): looked at each millisecond.
    QElapsedTimer waited;
    waited.start();
    while (!ended()) {
        if (waited.elapsed() >= ms)
            return false;
        usleep(1000);
    }
    return true;
}

qint64 Worker::residentBytes() const
{
    // The second field, in pages.
    QFile statm(QStringLiteral("/proc/%1/statm").arg(pid));
    if (pid <= 0 || !statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readLine().split(' ');
    static const long pageSize = sysconf(_SC_PAGESIZE);
    return fields.size() > 1 ? fields.at(1).toLongLong() * pageSize : 0;
}

QStringList Worker::takePrinted()
{
    if (printed < 0)
        return {};
    struct stat status;
    if (fstat(printed, &status) != 0 || status.st_size <= printedRead)
        return {};
    // The last 64 KiB at most: a worker that prints without end costs no more.
    const qint64 from = qMax(printedRead, qint64(status.st_size) - 65536);
    QByteArray bytes(qsizetype(status.st_size - from), '\0');
    const ssize_t n = ::pread(printed, bytes.data(), size_t(bytes.size()), from);
    bytes.truncate(qMax<ssize_t>(0, n));
    printedRead = status.st_size;
    // Emptied: the worker's file offset stays where it was, so its next lines
    // land past a hole, which holds no memory, and are read from printedRead.
    // Should it fail, the file keeps what was read, which is never read again.
    [[maybe_unused]] const int emptied = ::ftruncate(printed, 0);
    QStringList lines;
    for (const QByteArray &line : bytes.split('\n'))
        if (!line.trimmed().isEmpty())
            lines << QString::fromLocal8Bit(line.trimmed());
    return lines;
}

void Worker::addPrinted(PageOutcome &outcome, const QStringList &lines)
{
    for (const QString &line : lines) {
        if (outcome.warnings.size() < DrawingNotes::kept)
            outcome.warnings << QStringLiteral("printed: ") + line;
        ++outcome.warningCount;
    }
}

qint64 Worker::cpuMs() const
{
    // utime and stime, the 14th and 15th fields, after the name in parentheses.
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    static const long ticks = sysconf(_SC_CLK_TCK);
    return (fields.at(11).toLongLong() + fields.at(12).toLongLong()) * 1000 / qMax(1L, ticks);
}

QString Worker::whyEnded(int status)
{
    if (WIFSIGNALED(status))
        return QStringLiteral("the renderer crashed (%1)").arg(signalName(WTERMSIG(status)));
    if (WIFEXITED(status) && WEXITSTATUS(status) == WorkerOutOfMemory)
        return QStringLiteral("over the memory limit");
    return QStringLiteral("the worker process ended unexpectedly (exit status %1)")
        .arg(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
}

QString Worker::whyNotStarted(int status)
{
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (code == WorkerOutOfMemory)
        return QStringLiteral("over the memory limit before its first page");
    if (WIFSIGNALED(status))
        return QStringLiteral("it crashed (%1)").arg(signalName(WTERMSIG(status)));
    return QStringLiteral("it ended at once (exit status %1)").arg(code);
}
