#include "engine/atomicfile.h"
#include "engine/drawingnotes.h"
#include "engine/image/imageformat.h"
#include "engine/image/rowencoder.h"
#include "engine/memorybudget.h"
#include "engine/pagepipeline.h"
#include "engine/render/popplerview.h"
#include "engine/pixelsize.h"
#include "engine/render/pdfdocument.h"
#include "engine/render/renderdocument.h"
#include "support/drawingpdf.h"
#include "support/pdfmaker.h"

#include <poppler-qt6.h>

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTest>

#include <condition_variable>
#include <csignal>
#include <mutex>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <vector>

Q_DECLARE_METATYPE(ImageFormat)
Q_DECLARE_METATYPE(PageOutcome::Result)

namespace {

std::unique_ptr<Poppler::Document> open(const QString &path)
{
    PdfLoadResult loaded = loadPdf(path);
    return std::move(loaded.document);
}

QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// Where two images differ, for the failure message: each row with the number
// of pixels that differ and the span they lie in.
QString differences(const QImage &a, const QImage &b)
{
    QStringList rows;
    for (int y = 0; y < qMin(a.height(), b.height()); ++y) {
        const auto *p = reinterpret_cast<const QRgb *>(a.constScanLine(y));
        const auto *q = reinterpret_cast<const QRgb *>(b.constScanLine(y));
        int count = 0, first = -1, last = -1;
        for (int x = 0; x < qMin(a.width(), b.width()); ++x) {
            if (p[x] != q[x]) {
                ++count;
                last = x;
                if (first < 0)
                    first = x;
            }
        }
        if (count > 0)
            rows << QStringLiteral("row %1: %2 px in %3-%4 (%5 vs %6)")
                        .arg(y).arg(count).arg(first).arg(last)
                        .arg(p[first], 8, 16).arg(q[first], 8, 16);
    }
    return QStringLiteral("%1 rows differ; %2").arg(rows.size()).arg(rows.mid(0, 12).join(QStringLiteral("; ")));
}

const std::atomic<bool> notStopped{false};

// A budget that keeps its own account of what it grants: what is held now
// and the most held at once.
class WatchedBudget : public MemoryBudget
{
public:
    using MemoryBudget::MemoryBudget;

    qint64 acquire(qint64 bytes, const std::atomic<bool> &stop) override
    {
        const qint64 granted = MemoryBudget::acquire(bytes, stop);
        const std::lock_guard<std::mutex> lock(mutex);
        held += granted;
        highest = qMax(highest, held);
        return granted;
    }
    void release(qint64 bytes) override
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            held -= bytes;
        }
        MemoryBudget::release(bytes);
    }

    qint64 inUse() const
    {
        const std::lock_guard<std::mutex> lock(mutex);
        return held;
    }
    qint64 peak() const
    {
        const std::lock_guard<std::mutex> lock(mutex);
        return highest;
    }

private:
    mutable std::mutex mutex;
    qint64 held = 0;
    qint64 highest = 0;
};

// A bound for what must end soon after a stop, wide enough for a machine busy
// with other work; the stops' own speed is measured by bench_stop.
constexpr qint64 generousMs = 5000;

} // namespace

class TstEngine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void drawingNotesCountEveryReport_data();
    void drawingNotesCountEveryReport();
    void claimedPageCountsAreNotTrusted_data();
    void claimedPageCountsAreNotTrusted();
    void pixelSizes_data();
    void pixelSizes();
    void formatLimits_data();
    void formatLimits();
    void refusedBeforeRendering_data();
    void refusedBeforeRendering();
    void everyTypeReadsBack_data();
    void everyTypeReadsBack();
    void bandedEqualsWhole_data();
    void bandedEqualsWhole();
    void stopInsideSlowPage_data();
    void stopInsideSlowPage();
    void budgetHoldsAcrossThreads_data();
    void budgetHoldsAcrossThreads();
    void atomicFileCommitsWhatWasWritten_data();
    void atomicFileCommitsWhatWasWritten();
    void failedWriteLeavesNothing_data();
    void failedWriteLeavesNothing();
    void replacesKeepingPermissions();
    void writesThroughSymlink();
    void leftoverTemporaryIsPassedOver();
    void heldFileTakenOverOnlyIfItsOwn_data();
    void heldFileTakenOverOnlyIfItsOwn();
    void encodeStops_data();
    void encodeStops();

private:
    PageOutcome convert(const Poppler::Document *document, const QString &name, ImageFormat format,
                        int resolution, qint64 bandBudget = defaultBandBudget, const QRect &region = QRect());

    QTemporaryDir m_pdfDir;
    std::unique_ptr<QTemporaryDir> m_out;
    QString m_drawing; // an ordinary page of text and graphics
    QString m_heavy;   // thousands of curves
    QString m_redBlue;
};

void TstEngine::initTestCase()
{
    QImageReader::setAllocationLimit(0);
    QVERIFY(m_pdfDir.isValid());
    m_drawing = m_pdfDir.filePath(QStringLiteral("drawing.pdf"));
    m_heavy = m_pdfDir.filePath(QStringLiteral("heavy.pdf"));
    m_redBlue = m_pdfDir.filePath(QStringLiteral("redblue.pdf"));
    QVERIFY(makeDrawingPdf(m_drawing, 60));
    QVERIFY(makeDrawingPdf(m_heavy, 20000));
    QVERIFY(makeRedBluePdf(m_redBlue));
}

void TstEngine::init()
{
    m_out = std::make_unique<QTemporaryDir>();
    QVERIFY(m_out->isValid());
}

PageOutcome TstEngine::convert(const Poppler::Document *document, const QString &name, ImageFormat format,
                               int resolution, qint64 bandBudget, const QRect &region)
{
    PageJob job;
    job.outputPath = m_out->filePath(name);
    job.format = format;
    job.resolution = resolution;
    job.bandBudget = bandBudget;
    job.region = region;
    return convertPage(*popplerView(document), job, notStopped);
}

void TstEngine::pixelSizes_data()
{
    QTest::addColumn<QSizeF>("points");
    QTest::addColumn<double>("dpi");
    QTest::addColumn<int>("status");
    QTest::addColumn<QSize>("pixels");

    QTest::newRow("A4 at 150 dpi") << QSizeF(595, 842) << 150.0 << int(PixelSize::Ok) << QSize(1240, 1754);
    QTest::newRow("poster at 150 dpi") << QSizeF(14400, 14400) << 150.0 << int(PixelSize::Ok) << QSize(30000, 30000);
    // Integer arithmetic overflowed here and could pass the page as small.
    QTest::newRow("1e9 pt box") << QSizeF(1e9, 1e9) << 999999.0 << int(PixelSize::BeyondInt) << QSize();
    QTest::newRow("half a pixel") << QSizeF(0.3, 100) << 72.0 << int(PixelSize::BelowOnePixel) << QSize();
    QTest::newRow("empty box") << QSizeF(0, 0) << 150.0 << int(PixelSize::BelowOnePixel) << QSize();
}

void TstEngine::pixelSizes()
{
    QFETCH(QSizeF, points);
    QFETCH(double, dpi);
    QFETCH(int, status);
    QFETCH(QSize, pixels);
    const PixelSize size = pixelSizeAt(points, dpi);
    QCOMPARE(int(size.status), status);
    if (status == PixelSize::Ok)
        QCOMPARE(QSize(size.width, size.height), pixels);
}

void TstEngine::formatLimits_data()
{
    QTest::addColumn<ImageFormat>("format");
    QTest::addColumn<qint64>("width");
    QTest::addColumn<qint64>("height");
    QTest::addColumn<bool>("holds");

    QTest::newRow("jpg at its limit") << ImageFormat::Jpeg << qint64(65500) << qint64(65500) << true;
    QTest::newRow("jpg past it") << ImageFormat::Jpeg << qint64(65501) << qint64(10) << false;
    QTest::newRow("bmp under 4 GiB") << ImageFormat::Bmp << qint64(37000) << qint64(37000) << true;
    QTest::newRow("bmp past 4 GiB") << ImageFormat::Bmp << qint64(38000) << qint64(38000) << false;
    QTest::newRow("tiff past 4 GiB") << ImageFormat::Tiff << qint64(100000) << qint64(100000) << true;
    QTest::newRow("png poster") << ImageFormat::Png << qint64(30000) << qint64(30000) << true;
}

void TstEngine::formatLimits()
{
    QFETCH(ImageFormat, format);
    QFETCH(qint64, width);
    QFETCH(qint64, height);
    QFETCH(bool, holds);
    QCOMPARE(formatHolds(format, width, height), holds);
}

void TstEngine::refusedBeforeRendering_data()
{
    QTest::addColumn<QSizeF>("points");
    QTest::addColumn<ImageFormat>("format");
    QTest::addColumn<int>("resolution");
    QTest::addColumn<PageOutcome::Result>("result");
    QTest::addColumn<QString>("detail");

    QTest::newRow("jpg poster at 400 dpi")
        << QSizeF(14400, 14400) << ImageFormat::Jpeg << 400 << PageOutcome::TooLarge << "80000 x 80000 pixels; a JPEG image has at most 65500 pixels a side";
    QTest::newRow("bmp poster at 300 dpi")
        << QSizeF(14400, 14400) << ImageFormat::Bmp << 300 << PageOutcome::TooLarge << "60000 x 60000 pixels; a BMP file holds at most 4 GiB";
    // Fits PNG's 31 bits a side, but not one row of it in a bitmap Splash can make.
    QTest::newRow("1e9 pt box at 150 dpi")
        << QSizeF(1e9, 1e9) << ImageFormat::Png << 150 << PageOutcome::TooLarge << "2083333333 x 2083333333 pixels";
    QTest::newRow("tiny page at 1 dpi") << QSizeF(20, 20) << ImageFormat::Png << 1 << PageOutcome::TooSmall
                                        << "the page is smaller than one pixel at 1 dpi (0.2778 x 0.2778 pixels)";
}

void TstEngine::refusedBeforeRendering()
{
    QFETCH(QSizeF, points);
    QFETCH(ImageFormat, format);
    QFETCH(int, resolution);
    QFETCH(PageOutcome::Result, result);
    QFETCH(QString, detail);

    const QString pdf = m_out->filePath(QStringLiteral("page.pdf"));
    QVERIFY(makePdf(pdf, {points}));
    const auto document = open(pdf);
    const PageOutcome outcome = convert(document.get(), QStringLiteral("out"), format, resolution);
    QCOMPARE(outcome.result, result);
    QCOMPARE(outcome.detail, detail);
    QCOMPARE(entriesOf(m_out->path()), QStringList{QStringLiteral("page.pdf")});
}

void TstEngine::everyTypeReadsBack_data()
{
    QTest::addColumn<ImageFormat>("format");
    QTest::addColumn<QByteArray>("readerFormat");
    QTest::addColumn<int>("resolution");
    QTest::addColumn<qint64>("bandBudget");

    const struct
    {
        ImageFormat format;
        const char *name;
    } types[] = {{ImageFormat::Jpeg, "jpeg"}, {ImageFormat::Png, "png"}, {ImageFormat::Bmp, "bmp"},
                 {ImageFormat::Tiff, "tiff"}};
    for (const auto &type : types) {
        for (int dpi : {72, 300}) {
            QTest::addRow("%s %d dpi", type.name, dpi) << type.format << QByteArray(type.name) << dpi
                                                        << defaultBandBudget;
        }
        // Bands of 7 rows: BMP places each band from the bottom of the file.
        QTest::addRow("%s in bands", type.name) << type.format << QByteArray(type.name) << 96 << qint64(267 * 4 * 7);
    }
}

void TstEngine::everyTypeReadsBack()
{
    QFETCH(ImageFormat, format);
    QFETCH(QByteArray, readerFormat);
    QFETCH(int, resolution);
    QFETCH(qint64, bandBudget);

    const auto document = open(m_redBlue);
    const PageOutcome outcome = convert(document.get(), QStringLiteral("page"), format, resolution, bandBudget);
    QCOMPARE(outcome.result, PageOutcome::Written);

    QImageReader reader(outcome.outputPath);
    QCOMPARE(reader.format(), readerFormat);
    const QImage image = reader.read();
    const QSize expected(qRound(200 * resolution / 72.0), qRound(100 * resolution / 72.0));
    QCOMPARE(image.size(), expected);
    QCOMPARE(qRound(image.dotsPerMeterX() * 0.0254), resolution);
    QCOMPARE(qRound(image.dotsPerMeterY() * 0.0254), resolution);
    QVERIFY(!image.hasAlphaChannel());
    // Red on the left, blue on the right, at the top and the bottom: channels and row order.
    for (int y : {2, expected.height() - 3}) {
        const QColor left = image.pixelColor(expected.width() / 4, y);
        const QColor right = image.pixelColor(expected.width() * 3 / 4, y);
        QVERIFY2(left.red() > 240 && left.blue() < 15, qPrintable(left.name()));
        QVERIFY2(right.blue() > 240 && right.red() < 15, qPrintable(right.name()));
    }
    QCOMPARE(entriesOf(m_out->path()), QStringList{QFileInfo(outcome.outputPath).fileName()});
}

void TstEngine::bandedEqualsWhole_data()
{
    QTest::addColumn<int>("resolution");
    QTest::addColumn<int>("bands");
    QTest::addColumn<QRect>("region"); // of the banded page; the whole page's pixels there are expected

    QTest::newRow("150 dpi, 5 bands") << 150 << 5 << QRect();
    QTest::newRow("300 dpi, 9 bands") << 300 << 9 << QRect();
    QTest::newRow("300 dpi, 20 bands") << 300 << 20 << QRect();
    QTest::newRow("600 dpi, 3 bands") << 600 << 3 << QRect();
    QTest::newRow("300 dpi, a region in 7 bands") << 300 << 7 << QRect(301, 707, 1500, 1400);
    QTest::newRow("300 dpi, a region past the corner") << 300 << 4 << QRect(2000, 3000, 900, 900);
}

void TstEngine::bandedEqualsWhole()
{
    QFETCH(int, resolution);
    QFETCH(int, bands);
    QFETCH(QRect, region);

    const auto document = open(m_drawing);
    const PageOutcome whole = convert(document.get(), QStringLiteral("whole.png"), ImageFormat::Png, resolution,
                                      qint64(1) << 40);
    QCOMPARE(whole.result, PageOutcome::Written);
    const QRect drawn = region.isNull() ? QRect(0, 0, whole.width, whole.height)
                                        : region & QRect(0, 0, whole.width, whole.height);
    const int rows = (drawn.height() + bands - 1) / bands;
    const PageOutcome banded = convert(document.get(), QStringLiteral("banded.png"), ImageFormat::Png, resolution,
                                       qint64(drawn.width()) * 4 * rows, region);
    QCOMPARE(banded.result, PageOutcome::Written);

    const QImage a = QImage(whole.outputPath).convertToFormat(QImage::Format_RGB32).copy(drawn);
    const QImage b = QImage(banded.outputPath).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(a.size(), b.size());
    QVERIFY2(a == b, qPrintable(differences(a, b)));
}

void TstEngine::stopInsideSlowPage_data()
{
    QTest::addColumn<int>("resolution");
    QTest::addColumn<qint64>("bandBudget");
    // The largest page drawn whole by default (62 MB at 400 dpi): only
    // Poppler's abort callback can end the drawing early.
    QTest::newRow("whole page") << 400 << defaultBandBudget;
    QTest::newRow("in bands") << 600 << (qint64(16) << 20);
}

void TstEngine::stopInsideSlowPage()
{
    QFETCH(int, resolution);
    QFETCH(qint64, bandBudget);
    const auto document = open(m_heavy);
    WatchedBudget budget;
    PageJob job;
    job.outputPath = m_out->filePath(QStringLiteral("heavy.png"));
    job.format = ImageFormat::Png;
    job.resolution = resolution;
    job.bandBudget = bandBudget;
    job.memory = &budget;

    std::atomic<bool> stop{false};
    PageOutcome outcome;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        outcome = convertPage(*popplerView(document.get()), job, stop);
        done.store(true, std::memory_order_release);
    });
    // The budget is taken right before drawing starts.
    QTRY_VERIFY_WITH_TIMEOUT(budget.inUse() > 0 || done.load(std::memory_order_acquire), 20000);
    QElapsedTimer sinceStop;
    sinceStop.start();
    stop.store(true, std::memory_order_relaxed);
    worker.join();
    const qint64 elapsed = sinceStop.elapsed();

    // Left alone, this drawing takes minutes: seconds after the stop is early.
    QCOMPARE(outcome.result, PageOutcome::Stopped);
    QVERIFY2(elapsed < generousMs, qPrintable(QStringLiteral("%1 ms after the stop").arg(elapsed)));
    QCOMPARE(entriesOf(m_out->path()), QStringList());
}

void TstEngine::budgetHoldsAcrossThreads_data()
{
    QTest::addColumn<QString>("folder"); // of the outputs, under the test's folder
    QTest::addColumn<PageOutcome::Result>("result"); // of every page
    QTest::addColumn<QString>("detail");

    QTest::newRow("every page written") << "." << PageOutcome::Written << "";
    // Each page fails once its first band is drawn, holding its memory: all
    // of it must be given back, or the pages after it wait for ever.
    QTest::newRow("every page fails") << "missing" << PageOutcome::WriteFailed << "No such file or directory";
}

void TstEngine::budgetHoldsAcrossThreads()
{
    QFETCH(QString, folder);
    QFETCH(PageOutcome::Result, result);
    QFETCH(QString, detail);
    // Four threads on pages of 3 bands each, with room for two bands at a time.
    const int threads = 4;
    const qint64 band = qint64(1240) * 4 * 600;
    WatchedBudget budget(2 * band);
    std::vector<PageOutcome> outcomes(threads);
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable ended;
    int endedCount = 0;
    std::vector<std::thread> workers;
    for (int i = 0; i < threads; ++i) {
        workers.emplace_back([&, i] {
            const auto document = open(m_drawing);
            PageJob job;
            job.outputPath = m_out->filePath(QStringLiteral("%1/page%2.bmp").arg(folder).arg(i));
            job.format = ImageFormat::Bmp;
            job.bandBudget = band;
            job.memory = &budget;
            outcomes[size_t(i)] = convertPage(*popplerView(document.get()), job, stop);
            const std::lock_guard<std::mutex> lock(mutex);
            ++endedCount;
            ended.notify_all();
        });
    }
    // A lease that is not given back leaves the other threads waiting for
    // memory for ever: past the deadline they are stopped, and the message
    // says which pages ended holding memory and which never got any.
    bool allEnded = false;
    {
        std::unique_lock<std::mutex> lock(mutex);
        allEnded = ended.wait_for(lock, std::chrono::seconds(60), [&] { return endedCount == threads; });
    }
    stop.store(true);
    for (std::thread &worker : workers)
        worker.join();
    if (!allEnded || budget.inUse() != 0) {
        QStringList pages;
        for (int i = 0; i < threads; ++i) {
            const bool done = outcomes[size_t(i)].result == result;
            pages << QStringLiteral("page%1.bmp %2").arg(i).arg(done ? "ended" : "still waiting for memory");
        }
        QFAIL(qPrintable(QStringLiteral("%1 bytes (%2 leases of a band) not given back%3: %4")
                             .arg(budget.inUse()).arg(double(budget.inUse()) / double(band))
                             .arg(allEnded ? "" : " after 60 s").arg(pages.join(QStringLiteral(", ")))));
    }
    for (const PageOutcome &outcome : outcomes) {
        QCOMPARE(outcome.result, result);
        QCOMPARE(outcome.detail, detail);
    }
    if (result == PageOutcome::Written) {
        QCOMPARE(budget.peak(), 2 * band);
        QCOMPARE(int(entriesOf(m_out->path()).size()), threads);
    } else {
        QCOMPARE(entriesOf(m_out->path()), QStringList());
    }
}

// What commit puts in place is every byte written, read back while the
// AtomicFile is still alive; a write that fails (past the process's file size
// limit here) is never committed, even when its writer asks, and leaves the
// old file as it was.
void TstEngine::atomicFileCommitsWhatWasWritten_data()
{
    QTest::addColumn<QByteArray>("old"); // the file there before; empty: none
    QTest::addColumn<qint64>("sizeLimit"); // RLIMIT_FSIZE while writing; -1: none
    QTest::addColumn<bool>("committed");

    QTest::newRow("new file") << QByteArray() << qint64(-1) << true;
    QTest::newRow("over a longer file") << QByteArray(300000, 'x') << qint64(-1) << true;
    QTest::newRow("write fails") << QByteArray("the old file") << qint64(0) << false;
}

void TstEngine::atomicFileCommitsWhatWasWritten()
{
    QFETCH(QByteArray, old);
    QFETCH(qint64, sizeLimit);
    QFETCH(bool, committed);

    const QString path = m_out->filePath(QStringLiteral("out.bin"));
    if (!old.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(old), old.size());
    }
    QByteArray data;
    for (int i = 0; i < 1000; ++i)
        data += char(i * 7 + i / 256);

    AtomicFile file(path);
    QVERIFY(file.open());
    rlimit limit = {};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit unlimited = limit;
    void (*const oldHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    if (sizeLimit >= 0) {
        limit.rlim_cur = rlim_t(sizeLimit);
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    QCOMPARE(file.device().write(data), committed ? data.size() : qint64(-1));
    const bool commitResult = file.commit();
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &unlimited), 0);
    std::signal(SIGXFSZ, oldHandler);

    QCOMPARE(commitResult, committed);
    if (!committed)
        QCOMPARE(file.errorString(), QStringLiteral("File too large"));
    QFile back(path);
    if (committed || !old.isEmpty()) {
        QVERIFY(back.open(QIODevice::ReadOnly));
        QCOMPARE(back.readAll(), committed ? data : old);
    }
    QCOMPARE(entriesOf(m_out->path()), QStringList{QStringLiteral("out.bin")});
}

void TstEngine::failedWriteLeavesNothing_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("detail");

    QTest::newRow("missing folder") << "missing/page.png" << "No such file or directory";
    QTest::newRow("target is a folder") << "folder" << "Is a directory";
}

void TstEngine::failedWriteLeavesNothing()
{
    QFETCH(QString, name);
    QFETCH(QString, detail);
    QVERIFY(QDir(m_out->path()).mkdir(QStringLiteral("folder")));
    const auto document = open(m_redBlue);
    const PageOutcome outcome = convert(document.get(), name, ImageFormat::Png, 72);
    QCOMPARE(outcome.result, PageOutcome::WriteFailed);
    QCOMPARE(outcome.detail, detail);
    QCOMPARE(entriesOf(m_out->path()), QStringList{QStringLiteral("folder")});
}

void TstEngine::replacesKeepingPermissions()
{
    const auto document = open(m_redBlue);
    // A new file gets the usual permissions, not the 0600 of a private temporary file.
    const PageOutcome fresh = convert(document.get(), QStringLiteral("new.png"), ImageFormat::Png, 72);
    QCOMPARE(fresh.result, PageOutcome::Written);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat status = {};
    QCOMPARE(::stat(QFile::encodeName(fresh.outputPath).constData(), &status), 0);
    QCOMPARE(status.st_mode & 0777, 0666 & ~mask);

    const QString path = m_out->filePath(QStringLiteral("old.png"));
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("not an image");
    }
    const QFile::Permissions mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    QVERIFY(QFile::setPermissions(path, mode));
    QCOMPARE(convert(document.get(), QStringLiteral("old.png"), ImageFormat::Png, 72).result, PageOutcome::Written);
    QCOMPARE(QImage(path).size(), QSize(200, 100));
    QCOMPARE(QFile::permissions(path) & ~(QFile::ReadUser | QFile::WriteUser), mode);
    QCOMPARE(entriesOf(m_out->path()), (QStringList{"new.png", "old.png"}));
}

void TstEngine::writesThroughSymlink()
{
    QDir dir(m_out->path());
    QVERIFY(dir.mkdir(QStringLiteral("real")));
    const QString target = dir.filePath(QStringLiteral("real/a.png"));
    QVERIFY(QFile(target).open(QIODevice::WriteOnly));
    QVERIFY(QFile::link(target, dir.filePath(QStringLiteral("a.png"))));

    const auto document = open(m_redBlue);
    QCOMPARE(convert(document.get(), QStringLiteral("a.png"), ImageFormat::Png, 72).result, PageOutcome::Written);
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("a.png"))).isSymLink());
    QCOMPARE(QImage(target).size(), QSize(200, 100));
    QCOMPARE(entriesOf(dir.filePath(QStringLiteral("real"))), QStringList{"a.png"});
}

// A run killed midway leaves its temporary file; a later run that picks the
// same name takes another and writes the page all the same.
void TstEngine::leftoverTemporaryIsPassedOver()
{
    const auto document = open(m_redBlue);
    const PageOutcome reference = convert(document.get(), QStringLiteral("reference.png"), ImageFormat::Png, 72);
    QCOMPARE(reference.result, PageOutcome::Written);

    const QString leftover = m_out->filePath(QStringLiteral(".vlleft.tmp"));
    QVERIFY(QFile(leftover).open(QIODevice::WriteOnly));
    QStringList names{QStringLiteral(".vlleft.tmp"), QStringLiteral(".vlnext.tmp")};
    AtomicFile::setNameSource([&names] { return names.isEmpty() ? QStringLiteral(".vlspare.tmp") : names.takeFirst(); });
    const PageOutcome outcome = convert(document.get(), QStringLiteral("page.png"), ImageFormat::Png, 72);
    AtomicFile::setNameSource({});

    QVERIFY2(outcome.result == PageOutcome::Written, qPrintable(outcome.detail));
    QVERIFY(names.isEmpty()); // both names were asked for: the leftover's was passed over
    QFile written(outcome.outputPath);
    QFile expected(reference.outputPath);
    QVERIFY(written.open(QIODevice::ReadOnly) && expected.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), expected.readAll());
    QCOMPARE(QFileInfo(leftover).size(), 0); // not ours: left as it was
    QCOMPARE(entriesOf(m_out->path()), (QStringList{".vlleft.tmp", "page.png", "reference.png"}));
}

// A file held back by a worker is taken over by its program under a name of
// its own, then put in place (through a link, as a commit is). The name comes
// from the worker, which a crafted document may have taken over: anything but
// a temporary file beside the page's output is refused and left alone.
void TstEngine::heldFileTakenOverOnlyIfItsOwn_data()
{
    QTest::addColumn<QString>("held"); // relative to the output folder
    QTest::addColumn<bool>("linked");  // page.png is a link into real/, where its file is held
    QTest::addColumn<bool>("taken");

    QTest::newRow("its own temporary") << ".vlw1-abc.tmp" << false << true;
    QTest::newRow("beside the file a link names") << "real/.vlw1-abc.tmp" << true << true;
    QTest::newRow("beside the link, not the file") << ".vlw1-abc.tmp" << true << false;
    QTest::newRow("another file beside it") << "notes.txt" << false << false;
    QTest::newRow("a temporary in another folder") << "sub/.vlw1-abc.tmp" << false << false;
    QTest::newRow("a way round through ..") << "sub/../.vlw1-abc.tmp" << false << false;
}

void TstEngine::heldFileTakenOverOnlyIfItsOwn()
{
    QFETCH(QString, held);
    QFETCH(bool, linked);
    QFETCH(bool, taken);
    QDir dir(m_out->path());
    QVERIFY(dir.mkpath(QStringLiteral("sub")) && dir.mkpath(QStringLiteral("real")));
    const QString heldPath = dir.path() + QLatin1Char('/') + held;
    {
        QFile file(heldPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("page bytes");
    }
    const QString target = dir.filePath(QStringLiteral("page.png"));
    if (linked)
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("real/page.png")), target));
    const QDir finalDir(dir.filePath(linked ? QStringLiteral("real") : QString()));

    QString why;
    const QString adopted = AtomicFile::adopt(heldPath, target, &why);
    if (!taken) {
        QCOMPARE(adopted, QString());
        QCOMPARE(why, QStringLiteral("the worker named no file of its own"));
        QVERIFY(QFile::exists(heldPath)); // left alone
        return;
    }
    QVERIFY2(!adopted.isEmpty(), qPrintable(why));
    QVERIFY(!QFile::exists(heldPath));
    QCOMPARE(QFileInfo(adopted).absolutePath(), finalDir.absolutePath());
    QVERIFY(QFileInfo(adopted).fileName().startsWith(QLatin1String(".vl")));
    QVERIFY(AtomicFile::place(adopted, target, &why));
    QCOMPARE(QFileInfo(target).isSymLink(), linked);
    QFile placed(finalDir.filePath(QStringLiteral("page.png")));
    QVERIFY(placed.open(QIODevice::ReadOnly));
    QCOMPARE(placed.readAll(), QByteArray("page bytes"));
    QVERIFY(!finalDir.entryList(QDir::Files | QDir::Hidden).join(' ').contains(QLatin1String(".vl")));
}

void TstEngine::encodeStops_data()
{
    QTest::addColumn<ImageFormat>("format");
    QTest::addColumn<bool>("stopSet");
    QTest::addColumn<int>("deadlineMs"); // -1: none
    QTest::addColumn<int>("quality");
    QTest::addColumn<int>("writtenAtMost"); // bytes on the device when it stops; -1: any

    // libwebp takes the whole picture in one call: only its progress hook can end it early.
    QTest::newRow("webp, stop, lossy") << ImageFormat::WebP << true << -1 << 75 << 0;
    QTest::newRow("webp, deadline passes while encoding") << ImageFormat::WebP << false << 300 << 75 << 0;
    QTest::newRow("webp, deadline passes, lossless") << ImageFormat::WebP << false << 300 << 100 << 0;
    // 48 MB of rows are streamed in pieces: the band ends at the first piece,
    // after the signature, IHDR and pHYs (8 + 25 + 21 bytes).
    QTest::newRow("png in pieces, stop") << ImageFormat::Png << true << -1 << 75 << 54;
    QTest::newRow("png in pieces, deadline passes") << ImageFormat::Png << false << 300 << 75 << -1;
}

void TstEngine::encodeStops()
{
    QFETCH(ImageFormat, format);
    QFETCH(bool, stopSet);
    QFETCH(int, deadlineMs);
    QFETCH(int, quality);
    QFETCH(int, writtenAtMost);

    // Noise does not compress: 4000 x 4000 pixels take seconds to encode in any build.
    const auto noise = [](int side) {
        QImage image(side, side, QImage::Format_RGB32);
        QRandomGenerator random(7);
        for (int y = 0; y < side; ++y)
            random.fillRange(reinterpret_cast<quint32 *>(image.scanLine(y)), side);
        return image;
    };
    // Encodes the image; how long it took from the stop's setting, whether it
    // was written, and what reached the device.
    const auto encode = [&](const QImage &image, const std::atomic<bool> &stop, int limitMs, bool *written,
                            QString *error, qint64 *bytes) {
        QBuffer output;
        output.open(QIODevice::WriteOnly);
        const std::unique_ptr<RowEncoder> encoder = makeEncoder(format);
        const int side = image.width();
        if (!encoder->begin(&output, EncodeSettings{side, side, 150, quality, PixelMode::Color, {}, 1}))
            return qint64(-1);
        // WebP keeps the rows and encodes them all in finish(), where it
        // stops; PNG encodes as the rows come and stops within the band.
        const bool keepsRows = format == ImageFormat::WebP;
        bool rowsTaken = !keepsRows || encoder->writeRows(image.constBits(), image.bytesPerLine(), side);
        QElapsedTimer timer;
        timer.start();
        encoder->stopWhen(&stop, limitMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(limitMs));
        if (!keepsRows)
            rowsTaken = encoder->writeRows(image.constBits(), image.bytesPerLine(), side);
        *written = rowsTaken && encoder->finish();
        const qint64 elapsed = timer.elapsed();
        *error = encoder->errorString();
        *bytes = output.size();
        return elapsed;
    };

    // A quarter of the work, left alone in the same run: what an encoder
    // that went on past the stop would take at least three times over.
    bool written = false;
    QString error;
    qint64 bytes = 0;
    const qint64 quarterMs = encode(noise(2000), notStopped, -1, &written, &error, &bytes);
    QVERIFY2(written, qPrintable(error));

    const std::atomic<bool> stop{stopSet};
    const qint64 elapsed = encode(noise(4000), stop, deadlineMs, &written, &error, &bytes);
    QVERIFY(elapsed >= 0);
    QVERIFY(!written);
    QCOMPARE(error, QStringLiteral("stopped while encoding"));
    const qint64 pastStop = elapsed - qMax(0, deadlineMs);
    QVERIFY2(pastStop < quarterMs && pastStop < generousMs,
             qPrintable(QStringLiteral("encoding ended %1 ms after the stop; a quarter of it alone took %2 ms")
                            .arg(pastStop).arg(quarterMs)));
    if (writtenAtMost >= 0)
        QVERIFY2(bytes <= writtenAtMost, qPrintable(QString::number(bytes)));
}

void TstEngine::drawingNotesCountEveryReport_data()
{
    QTest::addColumn<int>("reports");
    QTest::addColumn<int>("distinct"); // texts among them, in turn
    QTest::addColumn<int>("errorAt");  // the report that is an error; -1: none
    QTest::addColumn<QStringList>("first");
    QTest::newRow("one text, repeated") << 300 << 1 << -1 << QStringList{"report 0"};
    QTest::newRow("three texts, repeated") << 300 << 3 << 299 << QStringList{"report 0", "report 1", "report 2"};
    QTest::newRow("every text new") << 300 << 300 << 7
                                    << QStringList{"report 0", "report 1", "report 2", "report 3", "report 4"};
    QTest::newRow("a few") << 2 << 2 << 0 << QStringList{"report 0", "report 1"};
    QTest::newRow("none") << 0 << 1 << -1 << QStringList{};
}

// Each report is counted, repeats and those past the first few too; the
// first few different texts are kept; an error anywhere is said.
void TstEngine::drawingNotesCountEveryReport()
{
    QFETCH(int, reports);
    QFETCH(int, distinct);
    QFETCH(int, errorAt);
    QFETCH(QStringList, first);
    DrawingNotes::take();
    for (int i = 0; i < reports; ++i)
        DrawingNotes::add(i == errorAt ? DrawingNotes::Severity::Error : DrawingNotes::Severity::Warning,
                          QStringLiteral("  report %1\n").arg(i % distinct));
    DrawingNotes::add(DrawingNotes::Severity::Error, QStringLiteral(" \n ")); // nothing said: not a report
    const DrawingNotes::Notes notes = DrawingNotes::take();
    QCOMPARE(notes.first, first);
    QCOMPARE(notes.count, reports);
    QCOMPARE(notes.errors, errorAt >= 0);
    // Taken: the next page starts afresh.
    const DrawingNotes::Notes next = DrawingNotes::take();
    QCOMPARE(next.count, 0);
    QCOMPARE(next.first, QStringList());
}

void TstEngine::claimedPageCountsAreNotTrusted_data()
{
    QTest::addColumn<qint64>("claimed");
    QTest::newRow("two billion") << qint64(2000000000);
    QTest::newRow("the most an int holds") << qint64(2147483647);
    QTest::newRow("three") << qint64(3);
    QTest::newRow("the truth") << qint64(1);
}

// A linearization dictionary's page count is a claim: the count given is what
// the page tree holds, from opening and probing alike, with either renderer.
void TstEngine::claimedPageCountsAreNotTrusted()
{
    QFETCH(qint64, claimed);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("claims.pdf"));
    QVERIFY(makeLinearizedPdf(path, claimed));
    const PdfLoadResult loaded = loadPdf(path);
    QCOMPARE(loaded.status, PdfLoadStatus::Loaded);
    // Poppler reads the file as linearized and believes it.
    QVERIFY(loaded.document->isLinearized());
    QCOMPARE(qint64(pdfPageCount(loaded.document.get())), claimed);
    QCOMPARE(loaded.pageCount, 1);
    QCOMPARE(probePdf(path).pageCount, 1);
    for (const RendererKind kind : {RendererKind::Poppler, RendererKind::MuPdf}) {
        if (!rendererBuiltIn(kind))
            continue;
        const PdfProbeResult opened = probeForRendering(kind, path, QByteArray());
        QCOMPARE(opened.status, PdfLoadStatus::Loaded);
        QVERIFY(opened.pageCount == 1 || kind == RendererKind::Poppler);
    }
}

QTEST_MAIN(TstEngine)
#include "tst_engine.moc"
