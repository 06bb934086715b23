#include "engine/nativepath.h"
#include "runner/pagerunner.h"
#include "runner/taskprotocol.h"
#include "runner/worker.h"
#include "runner/workerprogram.h"
#include "support/pdfmaker.h"

#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

// The page runner through its own interface: what crosses the socket, and the
// limits that only the runner can enforce.
class TestRunner : public QObject
{
    Q_OBJECT

private slots:
    void framesSurviveAnySplit_data();
    void framesSurviveAnySplit();
    void strangersAreRefused();
    void workerProcessorTimeIsCounted();
    void pastItsProcessorTime_data();
    void pastItsProcessorTime();
    void untrustedMessagesEndTheirWorker_data();
    void untrustedMessagesEndTheirWorker();
    void readingRefusesValuesOutOfRange_data();
    void readingRefusesValuesOutOfRange();
};

namespace {

// A task with every field away from its default, and a path that is not UTF-8.
PageTask everyField()
{
    PageTask task;
    task.kind = PageTask::Convert;
    task.document = 3;
    task.path = pathFromNative(QByteArray("/tmp/caf\xe9 report.pdf"));
    task.password = QByteArray("s\0cret", 6);
    task.renderer = RendererKind::MuPdf;
    task.options.withoutPaper = true;
    task.options.box = PageBox::Trim;
    task.options.antialias = false;
    task.options.annotations = false;
    task.options.cmyk = true;
    task.pageIndex = 41;
    task.resolution = 72.5;
    task.fitWidth = 800;
    task.fitHeight = 600;
    task.longestSide = 1024;
    task.outputPath = QStringLiteral("/out/caf\u00e9_42.tiff");
    task.format = ImageFormat::Tiff;
    task.quality = 9;
    task.mode = PixelMode::Cmyk;
    task.region = QRect(1, 2, 300, 400);
    task.encoder.jpegProgressive = true;
    task.encoder.jpegOptimize = true;
    task.encoder.subsampling = ChromaSubsampling::S422;
    task.encoder.tiffCompression = TiffCompression::Deflate;
    task.timeLimitMs = 12345;
    task.synced = true;
    task.bandThreads = 4;
    task.previewArea = QSize(261, 281);
    return task;
}

TaskResult resultWithImage()
{
    TaskResult result;
    result.outcome.result = PageOutcome::TooLarge;
    result.outcome.page = 7;
    result.outcome.width = 3;
    result.outcome.height = 2;
    result.outcome.milliseconds = 99;
    result.outcome.outputPath = QStringLiteral("/out/x_8.png");
    result.outcome.detail = QStringLiteral("a detail with\nnew lines");
    result.outcome.redoneBecause = QStringLiteral("cut short");
    result.image = PixelImage(3, 2, PixelImage::Rgb32);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            reinterpret_cast<QRgb *>(result.image.scanLine(y))[x] = qRgb(40 * x, 100 * y, 7);
    result.loadStatus = PdfLoadStatus::Locked;
    result.rendererStatus = PdfLoadStatus::Loaded;
    result.pageCount = 12;
    result.workerLost = false;
    return result;
}

// The fields of a task, as text, so that two tasks compare field by field and
// a failure shows which one differs.
QStringList fieldsOf(const PageTask &t)
{
    const QRect &r = t.region;
    return {QString::number(t.kind), QString::number(t.document), QString::fromLatin1(nativePath(t.path).toHex()),
            QString::fromLatin1(t.password.toHex()), QString::number(int(t.renderer)),
            QString::number(t.options.withoutPaper), QString::number(int(t.options.box)),
            QString::number(t.options.antialias), QString::number(t.options.annotations),
            QString::number(t.options.cmyk), QString::number(t.pageIndex), QString::number(t.resolution),
            QString::number(t.fitWidth), QString::number(t.fitHeight), QString::number(t.longestSide), t.outputPath,
            QString::number(int(t.format)), QString::number(t.quality), QString::number(int(t.mode)),
            QStringLiteral("%1,%2,%3,%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()),
            QString::number(t.encoder.jpegProgressive), QString::number(t.encoder.jpegOptimize),
            QString::number(int(t.encoder.subsampling)), QString::number(int(t.encoder.tiffCompression)),
            QString::number(t.timeLimitMs), QString::number(t.synced), QString::number(t.bandThreads),
            QStringLiteral("%1x%2").arg(t.previewArea.width()).arg(t.previewArea.height())};
}

QStringList fieldsOf(const TaskResult &r)
{
    const PageOutcome &o = r.outcome;
    return {QString::number(o.result), QString::number(o.page), QString::number(o.width), QString::number(o.height),
            QString::number(o.milliseconds), o.outputPath, o.detail, o.redoneBecause,
            QString::number(int(r.loadStatus)), QString::number(int(r.rendererStatus)), QString::number(r.pageCount)};
}

// The bodies a reader hands out when the frames arrive chunk bytes at a time.
QList<QByteArray> readInChunks(const QByteArray &stream, int chunk)
{
    TaskProtocol::FrameReader reader;
    QList<QByteArray> bodies;
    for (qsizetype at = 0; at < stream.size(); at += chunk) {
        reader.append(stream.constData() + at, qMin<qsizetype>(chunk, stream.size() - at));
        while (const std::optional<QByteArray> body = reader.next())
            bodies << *body;
    }
    return bodies;
}

} // namespace

void TestRunner::framesSurviveAnySplit_data()
{
    QTest::addColumn<int>("chunk");
    QTest::newRow("a byte at a time") << 1;
    QTest::newRow("seven bytes") << 7;
    QTest::newRow("all at once") << (1 << 20);
}

// Each message read back is the one sent, field for field: sent again, it
// gives the same bytes.
void TestRunner::framesSurviveAnySplit()
{
    QFETCH(int, chunk);
    const PageTask task = everyField();
    const TaskResult result = resultWithImage();
    TaskProtocol::Setup setup;
    setup.mark = QStringLiteral("abc-");
    setup.maxMemory = qint64(3) << 30;
    setup.memoryShare = 2;
    setup.inputs = QStringList{task.path, QStringLiteral("/b.pdf")};
    setup.outputFolders = QStringList{QStringLiteral("/out")};

    const QByteArray stream = TaskProtocol::frame(setup) + TaskProtocol::frame(task) + TaskProtocol::frame(result);
    const QList<QByteArray> bodies = readInChunks(stream, chunk);
    QCOMPARE(bodies.size(), 3);
    const std::optional<TaskProtocol::Setup> setupBack = TaskProtocol::readSetup(bodies.at(0));
    const std::optional<PageTask> taskBack = TaskProtocol::readTask(bodies.at(1));
    const std::optional<TaskResult> resultBack = TaskProtocol::readResult(bodies.at(2));
    QVERIFY(setupBack && taskBack && resultBack);
    QCOMPARE(setupBack->mark, setup.mark);
    QCOMPARE(setupBack->maxMemory, setup.maxMemory);
    QCOMPARE(setupBack->memoryShare, setup.memoryShare);
    QCOMPARE(setupBack->inputs, setup.inputs);
    QCOMPARE(setupBack->outputFolders, setup.outputFolders);
    QCOMPARE(fieldsOf(*taskBack), fieldsOf(task)); // the path's bytes that are not UTF-8 too
    QCOMPARE(fieldsOf(*resultBack), fieldsOf(result));
    QCOMPARE(QImage(resultBack->image), QImage(result.image));
}

// Bytes that are not this protocol are never taken for a message.
void TestRunner::strangersAreRefused()
{
    const QByteArray task = TaskProtocol::frame(everyField());
    QVERIFY(!TaskProtocol::readResult(task.mid(4)));     // the wrong type
    QVERIFY(!TaskProtocol::readTask(task.mid(4).chopped(1))); // cut short
    QByteArray otherVersion = task.mid(4);
    otherVersion[3] = char(otherVersion[3] + 1);         // the version, big-endian
    QVERIFY(!TaskProtocol::readTask(otherVersion));

    TaskProtocol::FrameReader reader;
    reader.append("\xff\xff\xff\xff", 4);                // a length no message has
    QVERIFY(!reader.next());
    QVERIFY(reader.broken());
}

// Processor time a worker uses is counted as such, from the task it takes:
// one thread busy for good uses as much as the time that passes, no more.
void TestRunner::workerProcessorTimeIsCounted()
{
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("one.pdf"));
    QVERIFY(makePdf(pdf, 1));
    TaskProtocol::Setup setup;
    setup.inputs = QStringList{pdf};
    Worker worker;
    qputenv("VELLORAN_TEST_WORKER", "spin 0:0");
    QVERIFY(worker.start(workerProgram(), setup));
    qunsetenv("VELLORAN_TEST_WORKER");
    QTRY_VERIFY_WITH_TIMEOUT((worker.receive(), worker.ready()), 30000);
    PageTask task;
    task.kind = PageTask::Preview;
    task.path = pdf;
    task.previewArea = QSize(100, 100);
    QVERIFY(worker.send(task, 0));
    QTRY_VERIFY_WITH_TIMEOUT(worker.cpuElapsed() >= 500, 60000);
    const qint64 used = worker.cpuElapsed();
    QVERIFY2(used <= worker.elapsed() + 50, qPrintable(QStringLiteral("%1 ms of processor time in %2 ms")
                                                           .arg(used)
                                                           .arg(worker.elapsed())));
    worker.retire(true, {});
}

void TestRunner::pastItsProcessorTime_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("misbehaviour");
    QTest::newRow("a preview") << int(PageTask::Preview) << QByteArray("spin 0:0");
    QTest::newRow("an opening") << int(PageTask::Probe) << QByteArray("spin 0:open");
}

// A preview or an opening whose renderer loops for good, busy on the
// processor, is ended once it has used its processor time, and says so; the
// runner answers for it.
void TestRunner::pastItsProcessorTime()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, misbehaviour);
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("one.pdf"));
    QVERIFY(makePdf(pdf, 1));
    RunnerSettings settings;
    settings.program = workerProgram();
    settings.inputs = QStringList{pdf};
    PageRunner runner(settings);

    PageTask task;
    task.kind = PageTask::Kind(kind);
    task.path = pdf;
    task.previewArea = QSize(100, 100);
    task.timeLimitMs = 2000;
    // The worker takes its environment when it starts, inside runOne.
    qputenv("VELLORAN_TEST_WORKER", misbehaviour);
    const std::atomic<bool> running{false};
    rusage before{};
    getrusage(RUSAGE_CHILDREN, &before);
    QElapsedTimer timer;
    timer.start();
    const TaskResult result = runner.runOne(task, running);
    qunsetenv("VELLORAN_TEST_WORKER");
    rusage after{};
    getrusage(RUSAGE_CHILDREN, &after);
    QCOMPARE(result.outcome.result, PageOutcome::TimedOut);
    QCOMPARE(result.outcome.detail, QStringLiteral("timed out after 2 s"));
    QVERIFY(result.workerLost);
    QVERIFY2(timer.elapsed() < 30000, qPrintable(QString::number(timer.elapsed())));
    // Ended by its processor time, not by three times the limit on the clock:
    // the worker (reaped by now) used the limit and its start, no more.
    const auto ms = [](const rusage &r) {
        return qint64(r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000 + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1000;
    };
    QVERIFY2(ms(after) - ms(before) < task.timeLimitMs + 1000, qPrintable(QString::number(ms(after) - ms(before))));

    // The next task is carried out as usual in a new worker.
    qunsetenv("VELLORAN_TEST_WORKER");
    const TaskResult next = runner.runOne(task, running);
    QCOMPARE(next.outcome.result, PageOutcome::Written);
    if (task.kind == PageTask::Preview)
        QCOMPARE(next.image.size(), QSize(595, 842)); // one pixel a point
    else
        QCOMPARE(next.pageCount, 1);
}

void TestRunner::untrustedMessagesEndTheirWorker_data()
{
    QTest::addColumn<QByteArray>("misbehaviour");
    QTest::addColumn<qint64>("timeLimitMs");
    QTest::addColumn<QString>("detail");
    const QString broke = QStringLiteral("the worker process broke the protocol: ");
    QTest::newRow("a frame that does not parse") << QByteArray("garble") << qint64(0)
                                                  << broke + QStringLiteral("a message that does not parse");
    QTest::newRow("the same, with a time limit") << QByteArray("garble") << qint64(1000)
                                                  << broke + QStringLiteral("a message that does not parse");
    QTest::newRow("another version") << QByteArray("otherversion") << qint64(0)
                                     << broke + QStringLiteral("protocol version %1, not %2").arg(TaskProtocol::version + 1).arg(TaskProtocol::version);
    QTest::newRow("a value out of range") << QByteArray("outofrange") << qint64(0)
                                          << broke + QStringLiteral("width out of range (-1)");
    QTest::newRow("a message nobody asked for") << QByteArray("unasked") << qint64(0)
                                                << broke + QStringLiteral("a ready message where a result was due");
    QTest::newRow("another page's result") << QByteArray("otherpage") << qint64(0)
                                           << broke + QStringLiteral("a result for page 2 while page 1 was in hand");
    QTest::newRow("a length no message has") << QByteArray("oversize") << qint64(0)
                                             << broke + QStringLiteral("a frame longer than any message");
    QTest::newRow("its pipe closed, alive") << QByteArray("mute") << qint64(0)
                                            << QStringLiteral("the worker process closed its pipe but did not end");
}

// A worker's messages are untrusted input: one that sends what it does not
// owe, and lives on (20 s, deaf to the stop), is killed at once, its page
// fails with the reason, and the run goes on in a new worker.
void TestRunner::untrustedMessagesEndTheirWorker()
{
    QFETCH(QByteArray, misbehaviour);
    QFETCH(qint64, timeLimitMs);
    QFETCH(QString, detail);
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("two.pdf"));
    QVERIFY(makePdf(pdf, 2));
    RunnerSettings settings;
    settings.program = workerProgram();
    settings.inputs = QStringList{pdf};
    settings.outputFolders = QStringList{dir.path()};
    PageRunner runner(settings);
    QList<PageTask> tasks;
    for (int page = 0; page < 2; ++page) {
        PageTask task;
        task.path = pdf;
        task.pageIndex = page;
        task.resolution = 10;
        task.format = ImageFormat::Png;
        task.timeLimitMs = timeLimitMs;
        task.outputPath = dir.filePath(QStringLiteral("two_%1.png").arg(page + 1));
        tasks << task;
    }
    qputenv("VELLORAN_TEST_WORKER", misbehaviour + " 0:0");
    const std::atomic<bool> running{false};
    QMap<int, TaskResult> results;
    QElapsedTimer timer;
    timer.start();
    runner.run(tasks, running, [&results](int index, const TaskResult &result) { results.insert(index, result); });
    const qint64 took = timer.elapsed();
    qunsetenv("VELLORAN_TEST_WORKER");

    // Far less than the 20 s it would have lived: nothing waited for it.
    QVERIFY2(took < 10000, qPrintable(QString::number(took)));
    QCOMPARE(results.keys(), QList<int>({0, 1}));
    QCOMPARE(results[0].outcome.result, PageOutcome::RenderFailed);
    QCOMPARE(results[0].outcome.detail, detail);
    QVERIFY(results[0].workerLost);
    QCOMPARE(results[1].outcome.result, PageOutcome::Written);
    // Nothing of the first page is left, its temporary file neither.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
             QStringList({QStringLiteral("two.pdf"), QStringLiteral("two_2.png")}));
}

void TestRunner::readingRefusesValuesOutOfRange_data()
{
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("why");
    QTest::newRow("result") << 0 << QStringLiteral("result out of range (9)");
    QTest::newRow("width") << 1 << QStringLiteral("width out of range (-1)");
    QTest::newRow("height") << 2 << QStringLiteral("height out of range (-2)");
    QTest::newRow("milliseconds") << 3 << QStringLiteral("milliseconds out of range (-3)");
    QTest::newRow("warning count below the texts") << 4 << QStringLiteral("warning count out of range (0)");
    QTest::newRow("load status") << 5 << QStringLiteral("load status out of range (3)");
    QTest::newRow("renderer status") << 6 << QStringLiteral("renderer status out of range (-1)");
    QTest::newRow("page count") << 7 << QStringLiteral("page count out of range (-4)");
}

// A result is read only with every number in its range; the reader says which is not.
void TestRunner::readingRefusesValuesOutOfRange()
{
    QFETCH(int, field);
    QFETCH(QString, why);
    TaskResult result = resultWithImage();
    QString none;
    QVERIFY(TaskProtocol::readResult(TaskProtocol::frame(result).mid(4), &none));
    QCOMPARE(none, QString());
    switch (field) {
    case 0: result.outcome.result = PageOutcome::Result(9); break;
    case 1: result.outcome.width = -1; break;
    case 2: result.outcome.height = -2; break;
    case 3: result.outcome.milliseconds = -3; break;
    case 4: result.outcome.warnings = QStringList{QStringLiteral("a")}; result.outcome.warningCount = 0; break;
    case 5: result.loadStatus = PdfLoadStatus(3); break;
    case 6: result.rendererStatus = PdfLoadStatus(-1); break;
    case 7: result.pageCount = -4; break;
    }
    QString said;
    QVERIFY(!TaskProtocol::readResult(TaskProtocol::frame(result).mid(4), &said));
    QCOMPARE(said, why);
}

QTEST_MAIN(TestRunner)
#include "tst_runner.moc"
