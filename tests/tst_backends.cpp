#include "engine/render/renderer.h"
#include "runner/worker.h"
#include "runner/worker/taskexecutor.h"
#include "runner/workerprogram.h"
#include "support/pdfmaker.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <sys/inotify.h>
#include <unistd.h>

Q_DECLARE_METATYPE(RendererKind)

// The back-ends as modules: a worker loads only the library it draws with,
// where it is told to find it, and a probe opens its input no more often
// than the libraries that judge and draw it need.
class TestBackEnds : public QObject
{
    Q_OBJECT

private slots:
    void workerLoadsWhatItDraws_data();
    void workerLoadsWhatItDraws();
    void missingModuleIsNamed();
    void probeOpensItsInputOnce_data();
    void probeOpensItsInputOnce();
};

namespace {

const std::atomic<bool> notStopped{false};

// The worker processes this one started: its children running the worker.
QList<pid_t> workerChildren()
{
    QList<pid_t> found;
    const QString worker = QFileInfo(workerProgram()).fileName();
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t pid = pid_t(entry.toInt(&number));
        if (!number)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (comm) state ppid ...": comm may hold spaces, the last ')' ends it.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> after = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (after.value(1).toInt() == getpid()
            && QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget().endsWith(worker))
            found << pid;
    }
    return found;
}

// Whether the worker's result has come, kept in result once it has (QTRY
// asks again after it is true).
bool arrived(Worker &worker, std::optional<std::pair<int, TaskResult>> &result)
{
    if (!result) {
        worker.receive();
        result = worker.takeResult();
    }
    return result.has_value();
}

// The drawing libraries a process has mapped: the back-ends' modules by
// file, Poppler's and Qt's graphics library by name alone.
QStringList drawingLibrariesOf(pid_t pid)
{
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    if (!maps.open(QIODevice::ReadOnly))
        return {QStringLiteral("(no maps)")};
    QSet<QString> names;
    for (const QByteArray &line : maps.readAll().split('\n')) {
        const QString name = QFileInfo(QString::fromLocal8Bit(line.mid(line.lastIndexOf(' ') + 1))).fileName();
        if (name.startsWith(QLatin1String("velloran-")) && name.endsWith(QLatin1String(".so")))
            names << name;
        else if (name.startsWith(QLatin1String("libpoppler")))
            names << QStringLiteral("libpoppler");
        else if (name.startsWith(QLatin1String("libQt6Gui")))
            names << QStringLiteral("libQt6Gui");
    }
    QStringList sorted = names.values();
    sorted.sort();
    return sorted;
}

// Opens of the file counted as the kernel reports them (inotify), whoever
// in this process opens it. Closes are watched too: the kernel makes one
// event of two alike in a row that were not read between them.
class OpenCounter
{
public:
    explicit OpenCounter(const QString &path)
        : fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        if (fd >= 0)
            inotify_add_watch(fd, QFile::encodeName(path).constData(), IN_OPEN | IN_CLOSE);
    }
    ~OpenCounter()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool valid() const { return fd >= 0; }

    // The opens since the last call.
    int take()
    {
        int opens = 0;
        alignas(inotify_event) char buffer[4096];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0) {
            for (char *at = buffer; at < buffer + n;) {
                const auto *event = reinterpret_cast<const inotify_event *>(at);
                opens += (event->mask & IN_OPEN) ? 1 : 0;
                at += sizeof(inotify_event) + event->len;
            }
        }
        return opens;
    }

private:
    int fd;
};

} // namespace

void TestBackEnds::workerLoadsWhatItDraws_data()
{
    QTest::addColumn<int>("kind"); // -1: no task
    QTest::addColumn<RendererKind>("renderer");
    QTest::addColumn<QStringList>("loaded");
    const QStringList poppler{QStringLiteral("libpoppler"), QStringLiteral("velloran-poppler.so")};
    QTest::newRow("started, no task") << -1 << RendererKind::Poppler << QStringList();
    QTest::newRow("a page drawn with Poppler") << int(PageTask::Convert) << RendererKind::Poppler << poppler;
    QTest::newRow("an input opened for Poppler") << int(PageTask::Probe) << RendererKind::Poppler << poppler;
    QTest::newRow("the window's preview") << int(PageTask::Preview) << RendererKind::Poppler << poppler;
    if (rendererBuiltIn(RendererKind::MuPdf)) {
        QTest::newRow("a page drawn with MuPDF")
            << int(PageTask::Convert) << RendererKind::MuPdf << QStringList{QStringLiteral("velloran-mupdf.so")};
        QTest::newRow("an input opened for MuPDF, judged by Poppler")
            << int(PageTask::Probe) << RendererKind::MuPdf
            << QStringList{QStringLiteral("libpoppler"), QStringLiteral("velloran-mupdf.so"),
                           QStringLiteral("velloran-poppler.so")};
    }
}

// A worker maps the module of the library its task draws with, and that of
// the library that judges an input it opens, and nothing else: no MuPDF for
// Poppler's pages, no Poppler for MuPDF's, no graphics library ever.
void TestBackEnds::workerLoadsWhatItDraws()
{
    QFETCH(int, kind);
    QFETCH(RendererKind, renderer);
    QFETCH(QStringList, loaded);
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("one.pdf"));
    QVERIFY(makePdf(pdf, 1));
    TaskProtocol::Setup setup;
    setup.inputs = QStringList{pdf};
    setup.outputFolders = QStringList{dir.path()};
    Worker worker;
    QVERIFY(worker.start(workerProgram(), setup));
    QTRY_VERIFY_WITH_TIMEOUT((worker.receive(), worker.ready()), 30000);
    const QList<pid_t> children = workerChildren();
    QCOMPARE(children.size(), 1);

    const QString output = dir.filePath(QStringLiteral("one_1.png"));
    if (kind >= 0) {
        PageTask task;
        task.kind = PageTask::Kind(kind);
        task.path = pdf;
        task.renderer = renderer;
        task.resolution = 20;
        task.format = ImageFormat::Png;
        task.outputPath = output;
        task.previewArea = QSize(100, 100);
        QVERIFY(worker.send(task, 0));
        std::optional<std::pair<int, TaskResult>> result;
        QTRY_VERIFY_WITH_TIMEOUT(arrived(worker, result), 60000);
        QCOMPARE(result->second.outcome.result, PageOutcome::Written);
        if (kind == PageTask::Convert)
            QCOMPARE(QImage(output).size(), QSize(165, 234)); // A4 at 20 dpi, drawn and written
        else if (kind == PageTask::Preview)
            QCOMPARE(QImage(result->second.image).size(), QSize(595, 842));
        else
            QCOMPARE(result->second.pageCount, 1);
    }
    QCOMPARE(drawingLibrariesOf(children.first()), loaded);
    worker.retire(true, {dir.path()});
}

// A worker that cannot load a module says which and why; the input is not
// called damaged.
void TestBackEnds::missingModuleIsNamed()
{
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("one.pdf"));
    QVERIFY(makePdf(pdf, 1));
    // The worker alone in a folder of its own: it looks for the modules there.
    const QString lonely = dir.filePath(QFileInfo(workerProgram()).fileName());
    QVERIFY(QFile::copy(workerProgram(), lonely));
    TaskProtocol::Setup setup;
    setup.inputs = QStringList{pdf};
    Worker worker;
    const QByteArray usual = qgetenv("VELLORAN_WORKER");
    qputenv("VELLORAN_WORKER", QFile::encodeName(lonely));
    const bool started = worker.start(lonely, setup);
    qputenv("VELLORAN_WORKER", usual);
    QVERIFY(started);
    QTRY_VERIFY_WITH_TIMEOUT((worker.receive(), worker.ready()), 30000);
    PageTask task;
    task.kind = PageTask::Probe;
    task.path = pdf;
    task.renderer = RendererKind::Poppler;
    QVERIFY(worker.send(task, 0));
    std::optional<std::pair<int, TaskResult>> result;
    QTRY_VERIFY_WITH_TIMEOUT(arrived(worker, result), 60000);
    QCOMPARE(result->second.outcome.result, PageOutcome::RenderFailed);
    QCOMPARE(result->second.outcome.detail,
             QStringLiteral("the poppler renderer cannot be loaded: %1: No such file or directory")
                 .arg(dir.filePath(QStringLiteral("velloran-poppler.so"))));
    worker.retire(true, {});
}

void TestBackEnds::probeOpensItsInputOnce_data()
{
    QTest::addColumn<RendererKind>("renderer");
    QTest::addColumn<bool>("checkSizes");
    QTest::addColumn<int>("opens");
    QTest::newRow("Poppler judges and draws") << RendererKind::Poppler << false << 1;
    QTest::newRow("Poppler, its sizes checked") << RendererKind::Poppler << true << 1;
    if (rendererBuiltIn(RendererKind::MuPdf)) {
        QTest::newRow("Poppler judges, MuPDF draws") << RendererKind::MuPdf << false << 2;
        QTest::newRow("MuPDF, its sizes checked") << RendererKind::MuPdf << true << 2;
    }
}

// A probe opens its input once with the library that judges it and once
// more only when another draws it; the pages that follow in that worker are
// drawn from what the drawing library opened, to the bytes a fresh opening
// gives.
void TestBackEnds::probeOpensItsInputOnce()
{
    QFETCH(RendererKind, renderer);
    QFETCH(bool, checkSizes);
    QFETCH(int, opens);
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("two.pdf"));
    QVERIFY(makePdf(pdf, 2));
    OpenCounter counter(pdf);
    QVERIFY(counter.valid());

    PageTask probe;
    probe.kind = PageTask::Probe;
    probe.path = pdf;
    probe.renderer = renderer;
    probe.resolution = 30;
    probe.format = ImageFormat::Png;
    probe.checkSizes = checkSizes;
    PageTask page = probe;
    page.kind = PageTask::Convert;
    page.checkSizes = false;

    TaskExecutor executor;
    const TaskResult opened = executor.run(probe, notStopped);
    QCOMPARE(opened.loadStatus, PdfLoadStatus::Loaded);
    QCOMPARE(opened.rendererStatus, PdfLoadStatus::Loaded);
    QCOMPARE(opened.pageCount, 2);
    QCOMPARE(counter.take(), opens);
    QByteArray drawn[2];
    for (int i = 0; i < 2; ++i) {
        page.pageIndex = i;
        page.outputPath = dir.filePath(QStringLiteral("kept_%1.png").arg(i + 1));
        QCOMPARE(executor.run(page, notStopped).outcome.result, PageOutcome::Written);
        QFile file(page.outputPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        drawn[i] = file.readAll();
    }
    QCOMPARE(counter.take(), 0); // the pages came from the probe's opening

    TaskExecutor fresh;
    for (int i = 0; i < 2; ++i) {
        page.pageIndex = i;
        page.outputPath = dir.filePath(QStringLiteral("fresh_%1.png").arg(i + 1));
        QCOMPARE(fresh.run(page, notStopped).outcome.result, PageOutcome::Written);
        QFile file(page.outputPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY2(file.readAll() == drawn[i], qPrintable(QStringLiteral("page %1").arg(i + 1)));
    }
    QCOMPARE(counter.take(), 1);
}

QTEST_MAIN(TestBackEnds)

#include "tst_backends.moc"
