// velloran-worker: the process that draws pages for the window and for
// velloran-cli. It loads no widgets and reads nothing but its pipe (see
// runner/worker/workerloop.h); a document that crashes or hangs a renderer takes
// only this process with it.

#include "runner/worker/workerloop.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#ifdef VELLORAN_TEST_HOOKS
#include "engine/atomicfile.h"
#include "runner/taskprotocol.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

// Test builds only (velloran-worker-test, never installed):
// VELLORAN_TEST_WORKER="crash <document>:<page>" makes the worker that gets
// that page die by SIGSEGV with its temporary file written halfway, as a
// renderer crashing mid-page would; "hang ..." makes it stop answering there,
// deaf to the stop and the page's time limit, as a renderer looping where it
// never asks whether to stop ("spin": the same, busy on the processor); "hog ..." asks for up to 4 GiB of address space
// in 64 MiB blocks, never touched, as a decoder trusting an image's size
// would; "eat ..." fills memory 16 MiB at a time, a block every 10 ms up to
// 1 GiB (below the address-space backstop of a 256M ceiling), as a renderer
// holding what it decodes would, then draws the page as usual; "noise ..." prints two lines on stderr, as Fontconfig does, and
// draws the page as usual; "escape ..." writes the file VELLORAN_TEST_ESCAPE names;
// the untrusted messages, each sent in place of the page's result, after which
// the worker lives on for 20 s, deaf to the stop, then draws the page as usual:
// "garble ..." a result cut short by a byte, "otherversion ..." a result of the
// next protocol version, "outofrange ..." a result of width -1, "unasked ..." a
// second ready message, "otherpage ..." the result of the next page,
// "oversize ..." a length no message has, "mute ..." no message, its pipe
// closed; "late ..."
// waits, for a minute at most, until another page's finished file is held in
// the output folder, then draws the page as usual, so that a later page is
// done first; "slow ..." draws the page as usual 3 s late, deaf to the stop meanwhile;
// "linger ..." draws the page as usual, then, once the worker is dismissed,
// takes its time to leave, as a library's clean-up or a sanitizer's leak check
// may: it waits until a file named "go" appears in the page's folder, then 1.5 s
// more, writes "lingered" there and ends. <document>
// is the program's number for the file (its place among the inputs), <page>
// 0-based, "*" for every page, "open" for the opening of the document
// when its program checks it, or "join" for the joining of its pages into
// one file. A page for a descriptor its program gave (standard output) has
// its half written there rather than into a temporary file.
// A frame for the malformed messages: its length set from the body.
QByteArray reframed(QByteArray bytes)
{
    qToBigEndian(quint32(bytes.size() - 4), bytes.data());
    return bytes;
}

// The untrusted message a switch names, empty for another switch.
QByteArray untrustedMessage(const QByteArray &kind, const PageTask &task)
{
    TaskResult result;
    result.outcome.page = task.pageIndex;
    result.outcome.result = PageOutcome::Written;
    if (kind == "garble")
        return reframed(TaskProtocol::frame(result).chopped(1));
    if (kind == "otherversion") {
        QByteArray bytes = TaskProtocol::frame(result);
        qToBigEndian(TaskProtocol::version + 1, bytes.data() + 4);
        return bytes;
    }
    if (kind == "outofrange") {
        result.outcome.width = -1;
        return TaskProtocol::frame(result);
    }
    if (kind == "unasked")
        return TaskProtocol::frame(TaskProtocol::Ready());
    if (kind == "otherpage") {
        result.outcome.page = task.pageIndex + 1;
        return TaskProtocol::frame(result);
    }
    if (kind == "oversize")
        return QByteArray("\xff\xff\xff\xff", 4);
    return {};
}

// Where a worker told to linger waits for its "go", once dismissed; empty when not told.
QString lingerIn;

// Lingers as "linger ..." says, for a minute at most.
void lingerIfAsked()
{
    if (lingerIn.isEmpty())
        return;
    const QDir folder(lingerIn);
    for (int i = 0; i < 6000 && !folder.exists(QStringLiteral("go")); ++i)
        usleep(10000);
    timespec left{1, 500000000};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
    QFile lingered(folder.filePath(QStringLiteral("lingered")));
    if (lingered.open(QIODevice::WriteOnly))
        lingered.write("lingered");
}

// Lives on for the seconds given, whatever signals come.
void liveOn(int seconds)
{
    timespec left{seconds, 0};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

void misbehaveIfAsked(const PageTask &task, int givenDescriptor)
{
    const QList<QByteArray> asked = qgetenv("VELLORAN_TEST_WORKER").split(' ');
    const QByteArray document = QByteArray::number(task.document) + ':';
    const bool named = asked.size() == 2
                       && (task.kind == PageTask::Probe  ? asked.at(1) == document + "open"
                           : task.kind == PageTask::Join ? asked.at(1) == document + "join"
                                                         : asked.at(1) == document + QByteArray::number(task.pageIndex)
                                                               || asked.at(1) == document + '*');
    if (!named)
        return;
    if (asked.at(0) == "late") {
        const QDir folder = QFileInfo(task.outputPath).absoluteDir();
        const QStringList held{QLatin1String(AtomicFile::temporaryPrefix) + QStringLiteral("*.tmp")};
        for (int i = 0; i < 6000 && folder.entryList(held, QDir::Files | QDir::Hidden).isEmpty(); ++i)
            usleep(10000);
        return;
    }
    if (asked.at(0) == "slow") {
        liveOn(3);
        return;
    }
    if (asked.at(0) == "linger") {
        if (task.kind == PageTask::Convert)
            lingerIn = QFileInfo(task.outputPath).absolutePath();
        return;
    }
    auto *file = task.outputPath.isEmpty() || task.toGivenDescriptor ? nullptr : new AtomicFile(task.outputPath);
    if (file && file->open())
        file->device().write(QByteArray(4096, 'x'));
    // A page written in its turn holds its first half rather than writing it.
    if (task.toGivenDescriptor && !task.inTurn && givenDescriptor >= 0)
        [[maybe_unused]] const ssize_t written = ::write(givenDescriptor, QByteArray(4096, 'x').constData(), 4096);
    if (const QByteArray message = untrustedMessage(asked.at(0), task); !message.isEmpty()) {
        TaskProtocol::sendAll(workerResultFd, message);
        liveOn(20);
        delete file;
        return;
    }
    if (asked.at(0) == "mute") {
        ::close(workerTaskFd);
        ::close(workerResultFd);
        liveOn(20);
        std::_Exit(0);
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
        delete file;
        return; // never refused: the page is drawn as usual
    }
    if (asked.at(0) == "eat") {
        std::vector<std::unique_ptr<char[]>> blocks;
        for (int i = 0; i < 64; ++i) {
            blocks.emplace_back(new char[size_t(16) << 20]);
            std::memset(blocks.back().get(), i, size_t(16) << 20);
            usleep(10000);
        }
        delete file;
        return;
    }
    if (asked.at(0) == "noise") {
        std::fputs("Fontconfig error: Cannot load default config file\n", stderr);
        std::fputs("Fontconfig error: No writable cache directories\n", stderr);
        std::fflush(stderr);
        delete file;
        return;
    }
    if (asked.at(0) == "crash") {
        std::signal(SIGSEGV, SIG_DFL); // past a sanitizer's handler, which would exit with a report
        std::raise(SIGSEGV);
    } else if (asked.at(0) == "hang") {
        for (;;)
            pause();
    } else if (asked.at(0) == "spin") {
        // Busy for good, as a renderer in an endless loop is: it uses processor time.
        for (volatile unsigned long n = 0;; n = n + 1) {
        }
    }
    delete file;
}

} // namespace
#endif

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // Poppler reports its parser's troubles as debug output; the program that
    // asked says what became of the page.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
#ifdef VELLORAN_TEST_HOOKS
    const int status = runWorkerLoop(misbehaveIfAsked);
    lingerIfAsked();
    return status;
#else
    return runWorkerLoop();
#endif
}
