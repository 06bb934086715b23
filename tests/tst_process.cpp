#include "document/opendocument.h"
#include "conversion/process.h"
#include "engine/pagepipeline.h"
#include "engine/render/popplerview.h"
#include "engine/render/pdfdocument.h"
#include "support/drawingpdf.h"
#include "support/pdfmaker.h"

#include <poppler-qt6.h>

#include <QDir>
#include <QElapsedTimer>
#include <QImageReader>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>


// What the window hands its worker thread along with the path; the thread
// draws from the path alone.
static const OpenDocument openedDocument;
namespace {

// Both signals in the order they were emitted, which is the order in which the
// window receives them. Recorded in the worker thread and read only after the
// run has ended.
class Recorder : public QObject
{
public:
    explicit Recorder(Process *process)
    {
        connect(process, &Process::LogStatusBar, this,
                [this](const QString &msg) { events.append(msg); }, Qt::DirectConnection);
        connect(process, &Process::ConvertProgress, this, [this](qint32 cur, qint32 total) {
            events.append(QStringLiteral("progress %1/%2").arg(cur).arg(total));
        }, Qt::DirectConnection);
    }
    QStringList events;
};

QString progress(int cur, int total)
{
    return QStringLiteral("progress %1/%2").arg(cur).arg(total);
}

QString output(const QString &fileName)
{
    return QStringLiteral("Output: ") + fileName;
}

QString skipped(int converted, const char *pages)
{
    return QStringLiteral("%1 page converted, pages that could not be drawn: %2").arg(converted).arg(QLatin1String(pages));
}

QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class TstProcess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void constructorDefaults();
    void resetJobClearsTheJob();
    void runs_data();
    void runs();
    void fileNames_data();
    void fileNames();
    void emptyListEmitsNothing();
    void cancelBeforeFirstPage();
    void cancelBeforeNextPage();
    void cancelRightAfterSave();
    void cancelInsideAHugePage();
    void missingWriterStops();
    void failedSaveLeavesNoFile_data();
    void failedSaveLeavesNoFile();
    void hugePageIsRefused_data();
    void hugePageIsRefused();
    void writesRealImages_data();
    void writesRealImages();
    void convertsAPosterInBands();
    void workerFailureEndsTheRun_data();
    void workerFailureEndsTheRun();
    void abortInsideAPageThatNeverEnds();
    void laterPageDoneFirstWaitsItsTurn_data();
    void laterPageDoneFirstWaitsItsTurn();

private:
    // Fills the job, runs it to the end and returns the merged signal sequence.
    QStringList runJob(Process &process, const QList<int> &pages, const QString &extension = QStringLiteral("png"),
                       int resolution = 18);
    std::unique_ptr<Poppler::Document> load(const QString &path);

    QTemporaryDir m_pdfDir;
    QString m_report; // report.pdf, 12 pages
    std::unique_ptr<Poppler::Document> m_doc;
    std::unique_ptr<QTemporaryDir> m_outDir;
};

void TstProcess::initTestCase()
{
    QVERIFY(m_pdfDir.isValid());
    m_report = m_pdfDir.filePath(QStringLiteral("report.pdf"));
    QVERIFY(makePdf(m_report, 12));
    m_doc = load(m_report);
    QVERIFY(m_doc);
}

void TstProcess::init()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
    m_outDir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_outDir->isValid());
}

std::unique_ptr<Poppler::Document> TstProcess::load(const QString &path)
{
    PdfLoadResult result = loadPdf(path);
    return result.status == PdfLoadStatus::Loaded ? std::move(result.document) : nullptr;
}

QStringList TstProcess::runJob(Process &process, const QList<int> &pages, const QString &extension,
                               int resolution)
{
    if (process.pdfDoc == nullptr && process.qsPdfFile.isNull()) {
        process.pdfDoc = &openedDocument; // the window's, as it would be
        process.qsPdfFile = m_report;
    }
    if (process.qsOutputDir.isNull())
        process.qsOutputDir = m_outDir->path();
    process.qsExtension = extension;
    process.resolution = resolution;
    process.pageList = pages;

    Recorder recorder(&process);
    // QThread::wait synchronises inside Qt, where ThreadSanitizer cannot see it;
    // this flag makes the end of the run visible to it.
    std::atomic<bool> ended{false};
    connect(&process, &QThread::finished, &process,
            [&ended] { ended.store(true, std::memory_order_release); }, Qt::DirectConnection);
    process.start(QThread::InheritPriority);
    if (!process.wait(QDeadlineTimer(60000)) || !ended.load(std::memory_order_acquire))
        return {QStringLiteral("timed out")};
    disconnect(&process, &QThread::finished, &process, nullptr);
    return recorder.events;
}

// Every job field is empty: no pages, no counts, no cancel, no strings, no document.
static void verifyJobEmpty(const Process &process)
{
    QVERIFY(process.pageList.isEmpty());
    QCOMPARE(process.convertedCount, 0u);
    QCOMPARE(process.totalCount, 0u);
    QCOMPARE(process.canceled.load(), false);
    QVERIFY(process.qsPdfFile.isNull());
    QVERIFY(process.qsOutputDir.isNull());
    QVERIFY(process.qsExtension.isNull());
    QCOMPARE(process.pdfDoc, nullptr);
    QCOMPARE(process.pageIndex, 0u);
}

void TstProcess::constructorDefaults()
{
    Process process;
    verifyJobEmpty(process);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(process.quality, 75);
    QCOMPARE(process.resolution, 150);
    QCOMPARE(process.parent(), nullptr);
    QVERIFY(process.canceled.is_always_lock_free);
}

void TstProcess::resetJobClearsTheJob()
{
    Process process;
    runJob(process, {0, 99});
    process.canceled = true;
    process.quality = 10;
    process.resolution = 300;
    QVERIFY(process.convertedCount != 0 && process.pageIndex != 0);

    process.ResetJob();
    verifyJobEmpty(process);
    if (QTest::currentTestFailed())
        return;
    // The request sets these afresh each time.
    QCOMPARE(process.quality, 10);
    QCOMPARE(process.resolution, 300);
}

void TstProcess::runs_data()
{
    QTest::addColumn<QList<int>>("pages");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QList<int>>("left");

    QTest::newRow("three pages in order")
        << QList<int>{0, 1, 2}
        << QStringList{"Start convert...", output("report_1.png"), progress(1, 3), output("report_2.png"),
                       progress(2, 3), output("report_3.png"), progress(3, 3), "All converted"}
        << QStringList{"report_1.png", "report_2.png", "report_3.png"} << QList<int>{};
    QTest::newRow("list order decides: 5 then 1")
        << QList<int>{4, 0}
        << QStringList{"Start convert...", output("report_5.png"), progress(1, 2), output("report_1.png"),
                       progress(2, 2), "All converted"}
        << QStringList{"report_1.png", "report_5.png"} << QList<int>{};
    // A page the document lacks is skipped; the run names it at the end instead of never ending.
    QTest::newRow("missing middle page is skipped")
        << QList<int>{0, 99, 2}
        << QStringList{"Start convert...", output("report_1.png"), progress(1, 3), output("report_3.png"),
                       progress(2, 3), skipped(2, "100")}
        << QStringList{"report_1.png", "report_3.png"} << QList<int>{};
    QTest::newRow("missing last page")
        << QList<int>{0, 12} << QStringList{"Start convert...", output("report_1.png"), progress(1, 2), skipped(1, "13")}
        << QStringList{"report_1.png"} << QList<int>{};
    QTest::newRow("only missing pages") << QList<int>{12, 50} << QStringList{"Start convert...", skipped(0, "13, 51")}
                                        << QStringList{} << QList<int>{};
    QTest::newRow("negative index is a missing page")
        << QList<int>{-1, 0} << QStringList{"Start convert...", output("report_1.png"), progress(1, 2), skipped(1, "0")}
        << QStringList{"report_1.png"} << QList<int>{};
}

void TstProcess::runs()
{
    QFETCH(QList<int>, pages);
    QFETCH(QStringList, events);
    QFETCH(QStringList, files);
    QFETCH(QList<int>, left);

    Process process;
    QSignalSpy progressSpy(&process, &Process::ConvertProgress);
    QSignalSpy statusSpy(&process, &Process::LogStatusBar);
    QCOMPARE(runJob(process, pages), events);
    QCOMPARE(progressSpy.size() + statusSpy.size(), events.size());
    QCOMPARE(entriesOf(m_outDir->path()), files);
    QCOMPARE(process.pageList, left);
    QCOMPARE(process.totalCount, unsigned(pages.size()));
    QCOMPARE(process.convertedCount, unsigned(files.size()));
}

void TstProcess::fileNames_data()
{
    QTest::addColumn<QString>("pdfName");
    QTest::addColumn<QList<int>>("pages");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QStringList>("files");

    QTest::newRow("no leading zeros") << "report.pdf" << QList<int>{8, 9, 10} << "png"
                                      << QStringList{"report_10.png", "report_11.png", "report_9.png"};
    QTest::newRow("only the last suffix goes") << "a.b.pdf" << QList<int>{0} << "jpg" << QStringList{"a.b_1.jpg"};
    QTest::newRow("percent sign kept") << "x%1y%2.pdf" << QList<int>{0} << "bmp" << QStringList{"x%1y%2_1.bmp"};
    QTest::newRow("no suffix") << "plain" << QList<int>{1} << "tiff" << QStringList{"plain_2.tiff"};
    QTest::newRow("spaces and non-ASCII") << "Jahres bericht ü.pdf" << QList<int>{0} << "png"
                                          << QStringList{"Jahres bericht ü_1.png"};
}

void TstProcess::fileNames()
{
    QFETCH(QString, pdfName);
    QFETCH(QList<int>, pages);
    QFETCH(QString, extension);
    QFETCH(QStringList, files);

    // Only the name of the PDF file matters, not the folder it is in.
    const QTemporaryDir elsewhere;
    const QString copy = elsewhere.filePath(pdfName);
    QVERIFY(QFile::copy(m_report, copy));
    Process process;
    process.pdfDoc = &openedDocument; // the window's, as it would be
    process.qsPdfFile = copy;
    const QStringList events = runJob(process, pages, extension);
    QCOMPARE(entriesOf(m_outDir->path()), files);
    QVERIFY(events.contains(output(files.first())));
    QCOMPARE(events.last(), QStringLiteral("All converted"));
}

void TstProcess::emptyListEmitsNothing()
{
    Process process;
    QSignalSpy progressSpy(&process, &Process::ConvertProgress);
    QSignalSpy statusSpy(&process, &Process::LogStatusBar);
    QCOMPARE(runJob(process, {}), QStringList());
    QCOMPARE(progressSpy.size(), 0);
    QCOMPARE(statusSpy.size(), 0);
    QCOMPARE(entriesOf(m_outDir->path()), QStringList());
}

void TstProcess::cancelBeforeFirstPage()
{
    Process process;
    process.canceled = true;
    QCOMPARE(runJob(process, {0, 1}), (QStringList{"Start convert...", "User canceled"}));
    QCOMPARE(entriesOf(m_outDir->path()), QStringList());
    QCOMPARE(process.pageList, QList<int>{1});
}

void TstProcess::cancelBeforeNextPage()
{
    Process process;
    // Runs in the worker thread, between the first page and the second.
    connect(&process, &Process::ConvertProgress, &process,
            [&process](qint32 cur, qint32) {
                if (cur == 1)
                    process.canceled.store(true, std::memory_order_relaxed);
            },
            Qt::DirectConnection);
    QCOMPARE(runJob(process, {0, 1, 2}),
             (QStringList{"Start convert...", output("report_1.png"), progress(1, 3), "User canceled"}));
    QCOMPARE(entriesOf(m_outDir->path()), QStringList{"report_1.png"});
}

void TstProcess::cancelRightAfterSave()
{
    Process process;
    // The cancel lands while the last page is being written: the file stays, but it is not counted.
    connect(&process, &Process::LogStatusBar, &process,
            [&process](const QString &msg) {
                if (msg == output("report_3.png"))
                    process.canceled.store(true, std::memory_order_relaxed);
            },
            Qt::DirectConnection);
    QCOMPARE(runJob(process, {0, 1, 2}),
             (QStringList{"Start convert...", output("report_1.png"), progress(1, 3), output("report_2.png"),
                          progress(2, 3), output("report_3.png"), "User canceled"}));
    QCOMPARE(entriesOf(m_outDir->path()), (QStringList{"report_1.png", "report_2.png", "report_3.png"}));
    QCOMPARE(process.convertedCount, 2u);
}

// Abort Convert while a page takes minutes to draw: the page stops where it
// is, within seconds however busy the machine (bench_stop measures the goal).
void TstProcess::cancelInsideAHugePage()
{
    const QString pdf = m_pdfDir.filePath(QStringLiteral("heavy.pdf"));
    QVERIFY(makeDrawingPdf(pdf, 4000));
    const std::unique_ptr<Poppler::Document> doc = load(pdf);
    QVERIFY(doc);
    Process process;
    process.pdfDoc = &openedDocument; // the window's, as it would be
    process.qsPdfFile = pdf;
    process.qsOutputDir = m_outDir->path();
    process.qsExtension = QStringLiteral("png");
    process.resolution = 2000;
    process.pageList = {0};
    Recorder recorder(&process);
    std::atomic<bool> ended{false};
    connect(&process, &QThread::finished, &process, [&ended] { ended.store(true, std::memory_order_release); },
            Qt::DirectConnection);
    process.start();
    // The page's hidden file appears once its first band is drawn; the other bands take seconds more.
    QTRY_VERIFY_WITH_TIMEOUT(!entriesOf(m_outDir->path()).isEmpty(), 120000);
    QElapsedTimer sinceCancel;
    sinceCancel.start();
    process.canceled.store(true, std::memory_order_relaxed);
    QVERIFY(process.wait(QDeadlineTimer(120000)) && ended.load(std::memory_order_acquire));
    const qint64 elapsed = sinceCancel.elapsed();
    QVERIFY2(elapsed < 5000, qPrintable(QStringLiteral("%1 ms after the cancel").arg(elapsed)));
    QCOMPARE(recorder.events, (QStringList{"Start convert...", "User canceled"}));
    QCOMPARE(entriesOf(m_outDir->path()), QStringList());
}

void TstProcess::missingWriterStops()
{
    Process process;
    const QString path = QDir(m_outDir->path()).absoluteFilePath(QStringLiteral("report_1.xyz"));
    QCOMPARE(runJob(process, {0, 1}, QStringLiteral("xyz")),
             (QStringList{"Start convert...", output("report_1.xyz"),
                          QStringLiteral("Error to save image: %1,stoped").arg(path)}));
    QCOMPARE(entriesOf(m_outDir->path()), QStringList());
    QCOMPARE(process.pageList, QList<int>{1});
}

void TstProcess::failedSaveLeavesNoFile_data()
{
    QTest::addColumn<QString>("blocker");
    QTest::addColumn<QString>("outputDir");

    // A folder in the way of the output name: writing succeeds, the final rename does not.
    QTest::newRow("folder named like the output") << "report_1.png" << ".";
    // The output folder is a plain file: nothing can be created in it.
    QTest::newRow("output folder is a file") << "blocked" << "blocked";
}

void TstProcess::failedSaveLeavesNoFile()
{
    QFETCH(QString, blocker);
    QFETCH(QString, outputDir);

    QDir out(m_outDir->path());
    if (blocker == outputDir) {
        QFile file(out.filePath(blocker));
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else {
        QVERIFY(out.mkdir(blocker));
    }
    const QStringList before = entriesOf(out.path());

    Process process;
    process.qsOutputDir = out.filePath(outputDir);
    const QString path = QDir(process.qsOutputDir).absoluteFilePath(QStringLiteral("report_1.png"));
    QCOMPARE(runJob(process, {0}),
             (QStringList{"Start convert...", output("report_1.png"),
                          QStringLiteral("Error to save image: %1,stoped").arg(path)}));
    QCOMPARE(entriesOf(out.path()), before);
}

void TstProcess::hugePageIsRefused_data()
{
    QTest::addColumn<QSizeF>("pageSize");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<int>("resolution");
    QTest::addColumn<QString>("message");

    // Large pages are drawn in bands; what is left are the formats' own limits,
    // found before anything is drawn.
    const QString tooLarge = QStringLiteral("Page %1 is too large to render at %2 dpi,stoped");
    // 14400 pt is the largest page PDF allows; 120000 pixels a side at 600 dpi, past JPEG's 65500.
    QTest::newRow("largest page at 600 dpi, jpg") << QSizeF(14400, 14400) << "jpg" << 600 << tooLarge;
    // 60000 x 60000 pixels: a BMP file cannot pass 4 GiB.
    QTest::newRow("largest page at 300 dpi, bmp") << QSizeF(14400, 14400) << "bmp" << 300 << tooLarge;
    QTest::newRow("A4 at the spin box's maximum, jpg") << a4Portrait << "jpg" << 999999 << tooLarge;
    // Rounds to no pixel at all: said as it is, not as too large.
    QTest::newRow("strip under half a pixel") << QSizeF(200, 2) << "png" << 10
                                              << QStringLiteral("Page %1 is smaller than one pixel at %2 dpi,stoped");
}

void TstProcess::hugePageIsRefused()
{
    QFETCH(QSizeF, pageSize);
    QFETCH(QString, extension);
    QFETCH(int, resolution);
    QFETCH(QString, message);

    const QString pdf = m_pdfDir.filePath(QStringLiteral("huge.pdf"));
    QVERIFY(makePdf(pdf, {a4Portrait, pageSize, a4Portrait}));
    const std::unique_ptr<Poppler::Document> doc = load(pdf);
    QVERIFY(doc);

    // The first page is small enough at a low resolution; the huge one stops the run.
    Process process;
    process.pdfDoc = &openedDocument; // the window's, as it would be
    process.qsPdfFile = pdf;
    const bool smallFirst = pageSize != a4Portrait;
    const QList<int> pages = smallFirst ? QList<int>{1, 2} : QList<int>{0, 2};
    const QString expected = message.arg(pages.first() + 1).arg(resolution);
    QCOMPARE(runJob(process, pages, extension, resolution), (QStringList{"Start convert...", expected}));
    QCOMPARE(process.failureMessage, expected);
    QCOMPARE(entriesOf(m_outDir->path()), QStringList());
    QCOMPARE(process.convertedCount, 0u);
    QCOMPARE(process.pageList, QList<int>{2});
}

void TstProcess::writesRealImages_data()
{
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QByteArray>("format");

    QTest::newRow("jpg") << "jpg" << QByteArray("jpeg");
    QTest::newRow("png") << "png" << QByteArray("png");
    QTest::newRow("bmp") << "bmp" << QByteArray("bmp");
    QTest::newRow("tiff") << "tiff" << QByteArray("tiff");
}

void TstProcess::writesRealImages()
{
    QFETCH(QString, extension);
    QFETCH(QByteArray, format);

    Process process;
    const QStringList events = runJob(process, {0}, extension, 150);
    QCOMPARE(events.last(), QStringLiteral("All converted"));

    QImageReader reader(QDir(m_outDir->path()).filePath(QStringLiteral("report_1.") + extension));
    QCOMPARE(reader.format(), format);
    QCOMPARE(reader.size(), QSize(1240, 1754));
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(image.size(), QSize(1240, 1754));
    // The file says at what resolution it was drawn, as other converters' files do.
    QCOMPARE(qRound(image.dotsPerMeterX() * 0.0254), 150);
    QCOMPARE(qRound(image.dotsPerMeterY() * 0.0254), 150);
    // The page's frame is drawn 10 pt in from the edge; the corner stays paper white.
    QVERIFY(qGray(image.pixel(21, 877)) < 128);
    QVERIFY(qGray(image.pixel(3, 3)) > 230);

    // Drawn in a worker process, the file is byte for byte the one the page
    // pipeline writes from the window's own open document.
    QTemporaryDir here;
    PageJob job;
    job.outputPath = here.filePath(QStringLiteral("report_1.") + extension);
    job.format = *imageFormatForExtension(extension);
    job.resolution = 150;
    job.quality = process.quality;
    const std::atomic<bool> running{false};
    QCOMPARE(convertPage(*popplerView(m_doc.get()), job, running).result, PageOutcome::Written);
    QFile inWorker(reader.fileName());
    QFile inProcess(job.outputPath);
    QVERIFY(inWorker.open(QIODevice::ReadOnly) && inProcess.open(QIODevice::ReadOnly));
    QVERIFY(inWorker.readAll() == inProcess.readAll());
}

// A poster's bitmap (256 MB at 40 dpi) is past the band budget: it is drawn
// and written in bands, never held whole.
void TstProcess::convertsAPosterInBands()
{
    const QString pdf = m_pdfDir.filePath(QStringLiteral("poster.pdf"));
    QVERIFY(makePdf(pdf, {QSizeF(14400, 14400)}));
    const std::unique_ptr<Poppler::Document> doc = load(pdf);
    QVERIFY(doc);
    Process process;
    process.pdfDoc = &openedDocument; // the window's, as it would be
    process.qsPdfFile = pdf;
    QCOMPARE(runJob(process, {0}, QStringLiteral("png"), 40),
             (QStringList{"Start convert...", output("poster_1.png"), progress(1, 1), "All converted"}));
    QImageReader reader(QDir(m_outDir->path()).filePath(QStringLiteral("poster_1.png")));
    QCOMPARE(reader.size(), QSize(8000, 8000));
    QCOMPARE(entriesOf(m_outDir->path()), QStringList{"poster_1.png"});
}

QTEST_MAIN(TstProcess)

// The worker that draws a page crashes, or is killed past its time limit:
// the run ends there with a line that names the page and why, the pages
// before stay written and nothing of the failed page is left.
void TstProcess::workerFailureEndsTheRun_data()
{
    QTest::addColumn<QString>("misbehave"); // the test worker's switch
    QTest::addColumn<QList<int>>("pages");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QStringList>("files");

    QTest::newRow("page 2 crashes the renderer")
        << "crash 0:1" << QList<int>{0, 1, 2}
        << QStringList{"Start convert...", output("report_1.png"), progress(1, 3),
                       "Page 2 could not be drawn: the renderer crashed (SIGSEGV),stoped"}
        << QStringList{"report_1.png"};
    QTest::newRow("the first page crashes it")
        << "crash 0:4" << QList<int>{4, 0}
        << QStringList{"Start convert...", "Page 5 could not be drawn: the renderer crashed (SIGSEGV),stoped"}
        << QStringList{};
}

void TstProcess::workerFailureEndsTheRun()
{
    QFETCH(QString, misbehave);
    QFETCH(QList<int>, pages);
    QFETCH(QStringList, events);
    QFETCH(QStringList, files);

    qputenv("VELLORAN_TEST_WORKER", misbehave.toLatin1());
    Process process;
    const QStringList seen = runJob(process, pages);
    qunsetenv("VELLORAN_TEST_WORKER");
    QCOMPARE(seen, events);
    QCOMPARE(process.failureMessage, events.last());
    QCOMPARE(entriesOf(m_outDir->path()), files); // hidden ones too: no temporary file is left
}

// Abort while the renderer is inside a page that never asks whether to stop:
// its worker is killed, the run ends at once and leaves no file. How soon is
// measured by bench/bench_abort.sh; here the run must merely end, well before
// the page would.
void TstProcess::abortInsideAPageThatNeverEnds()
{
    qputenv("VELLORAN_TEST_WORKER", "hang 0:0");
    Process process;
    process.pdfDoc = &openedDocument; // the window's, as it would be
    process.qsPdfFile = m_report;
    process.qsOutputDir = m_outDir->path();
    process.qsExtension = QStringLiteral("png");
    process.resolution = 18;
    process.pageList = {0, 1};
    Recorder recorder(&process);
    std::atomic<bool> ended{false};
    connect(&process, &QThread::finished, &process, [&ended] { ended.store(true, std::memory_order_release); },
            Qt::DirectConnection);
    process.start();
    // The worker writes the start of the page's hidden file, then hangs.
    QTRY_VERIFY_WITH_TIMEOUT(!entriesOf(m_outDir->path()).isEmpty(), 60000);
    qunsetenv("VELLORAN_TEST_WORKER");
    process.canceled.store(true, std::memory_order_relaxed);
    QVERIFY(process.wait(QDeadlineTimer(30000)) && ended.load(std::memory_order_acquire));
    QCOMPARE(recorder.events, (QStringList{"Start convert...", "User canceled"}));
    QCOMPARE(entriesOf(m_outDir->path()), QStringList());
}

// Pages are drawn side by side, one worker a core. Page 1 is held up until
// page 2's file is finished: page 2 is still reported after it, and its file
// takes its name only then, so a run that page 1 ends leaves no file of page 2.
void TstProcess::laterPageDoneFirstWaitsItsTurn_data()
{
    QTest::addColumn<QList<QSizeF>>("pages");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QStringList>("files");

    const QSizeF a4(595, 842);
    QTest::newRow("both written") << QList<QSizeF>{a4, a4}
                                  << QStringList{"Start convert...", output("pair_1.png"), progress(1, 2),
                                                 output("pair_2.png"), progress(2, 2), "All converted"}
                                  << QStringList{"pair_1.png", "pair_2.png"};
    // 1 x 1 pt is under a pixel at 18 dpi.
    QTest::newRow("page 1 ends the run")
        << QList<QSizeF>{QSizeF(1, 1), a4}
        << QStringList{"Start convert...", "Page 1 is smaller than one pixel at 18 dpi,stoped"} << QStringList{};
}

void TstProcess::laterPageDoneFirstWaitsItsTurn()
{
    QFETCH(QList<QSizeF>, pages);
    QFETCH(QStringList, events);
    QFETCH(QStringList, files);
    if (QThread::idealThreadCount() < 2)
        QSKIP("one core: one worker draws the pages one after another");

    const QString pair = m_pdfDir.filePath(QStringLiteral("pair.pdf"));
    QVERIFY(makePdf(pair, pages));
    qputenv("VELLORAN_TEST_WORKER", "late 0:0");
    Process process;
    process.qsPdfFile = pair;
    const QStringList seen = runJob(process, {0, 1}, QStringLiteral("png"), 18);
    qunsetenv("VELLORAN_TEST_WORKER");
    QCOMPARE(seen, events);
    QCOMPARE(entriesOf(m_outDir->path()), files); // hidden ones too: no held file is left
}

#include "tst_process.moc"
