#include "engine/nativepath.h"
#include "runner/pagerunner.h"
#include "runner/taskprotocol.h"
#include "runner/workerprogram.h"
#include "support/pdfmaker.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

// The page runner through its own interface: what crosses the socket, and the
// limits that only the runner can enforce.
class TestRunner : public QObject
{
    Q_OBJECT

private slots:
    void framesSurviveAnySplit_data();
    void framesSurviveAnySplit();
    void strangersAreRefused();
    void previewPastItsProcessorTime();
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
    result.image = QImage(3, 2, QImage::Format_RGB32);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            result.image.setPixel(x, y, qRgb(40 * x, 100 * y, 7));
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
    QCOMPARE(resultBack->image, result.image);
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

// A preview whose renderer loops for good, busy on the processor, is ended
// once it has used its processor time, and says so; the runner answers for it.
void TestRunner::previewPastItsProcessorTime()
{
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("one.pdf"));
    QVERIFY(makePdf(pdf, 1));
    RunnerSettings settings;
    settings.program = workerProgram();
    settings.inputs = QStringList{pdf};
    PageRunner runner(settings);

    PageTask task;
    task.kind = PageTask::Preview;
    task.path = pdf;
    task.previewArea = QSize(100, 100);
    task.timeLimitMs = 1000;
    // The worker takes its environment when it starts, inside runOne.
    qputenv("VELLORAN_TEST_WORKER", "spin 0:0");
    const std::atomic<bool> running{false};
    QElapsedTimer timer;
    timer.start();
    const TaskResult result = runner.runOne(task, running);
    qunsetenv("VELLORAN_TEST_WORKER");
    QCOMPARE(result.outcome.result, PageOutcome::TimedOut);
    QCOMPARE(result.outcome.detail, QStringLiteral("timed out after 1 s"));
    QVERIFY(result.workerLost);
    QVERIFY2(timer.elapsed() < 30000, qPrintable(QString::number(timer.elapsed())));

    // The next preview draws as usual in a new worker.
    const TaskResult next = runner.runOne(task, running);
    QCOMPARE(next.outcome.result, PageOutcome::Written);
    QCOMPARE(next.image.size(), QSize(595, 842)); // one pixel a point
}

QTEST_MAIN(TestRunner)
#include "tst_runner.moc"
