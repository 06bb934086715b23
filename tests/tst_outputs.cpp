#include "engine/atomicfile.h"
#include "engine/image/tiffencoder.h"
#include "engine/pagepipeline.h"
#include "engine/pixelsize.h"
#include "engine/render/pdfdocument.h"
#include "support/drawingpdf.h"
#include "support/pdfmaker.h"

#include <poppler-qt6.h>

#include <QDir>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(ImageFormat)
Q_DECLARE_METATYPE(PixelMode)

namespace {

const std::atomic<bool> notStopped{false};

} // namespace

// The pixel layouts and formats beyond plain colour files: gray, 1-bit,
// alpha, WebP and many pages in one TIFF, each read back as a viewer would.
class TstOutputs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void modesReadBack_data();
    void modesReadBack();
    void webpLimit();
    void multiPageTiff();
    void sizeInPixels_data();
    void sizeInPixels();
    void timeLimitStopsASlowPage();

private:
    QTemporaryDir dir;
    QString report; // two A4 pages with a frame and a number
};

void TstOutputs::initTestCase()
{
    QVERIFY(dir.isValid());
    report = dir.filePath(QStringLiteral("report.pdf"));
    QVERIFY(makePdf(report, 2));
}

void TstOutputs::modesReadBack_data()
{
    QTest::addColumn<ImageFormat>("format");
    QTest::addColumn<PixelMode>("mode");
    QTest::addColumn<int>("quality");
    QTest::addColumn<int>("depth"); // bits a pixel as read back: 1, 8 (gray) or 32

    QTest::newRow("jpg gray") << ImageFormat::Jpeg << PixelMode::Gray << 75 << 8;
    QTest::newRow("png gray") << ImageFormat::Png << PixelMode::Gray << 75 << 8;
    QTest::newRow("tiff gray") << ImageFormat::Tiff << PixelMode::Gray << 75 << 8;
    QTest::newRow("bmp gray") << ImageFormat::Bmp << PixelMode::Gray << 75 << 8;
    QTest::newRow("png 1-bit") << ImageFormat::Png << PixelMode::Mono << 75 << 1;
    QTest::newRow("tiff 1-bit G4") << ImageFormat::Tiff << PixelMode::Mono << 75 << 1;
    QTest::newRow("bmp 1-bit") << ImageFormat::Bmp << PixelMode::Mono << 75 << 1;
    QTest::newRow("png alpha") << ImageFormat::Png << PixelMode::ColorAlpha << 75 << 32;
    QTest::newRow("tiff alpha") << ImageFormat::Tiff << PixelMode::ColorAlpha << 75 << 32;
    QTest::newRow("webp lossy") << ImageFormat::WebP << PixelMode::Color << 75 << 32;
    QTest::newRow("webp lossless") << ImageFormat::WebP << PixelMode::Color << 100 << 32;
    QTest::newRow("webp alpha") << ImageFormat::WebP << PixelMode::ColorAlpha << 100 << 32;
}

void TstOutputs::modesReadBack()
{
    QFETCH(ImageFormat, format);
    QFETCH(PixelMode, mode);
    QFETCH(int, quality);
    QFETCH(int, depth);

    PdfLoadResult loaded = loadPdf(report);
    QVERIFY(loaded.document);
    const bool alpha = mode == PixelMode::ColorAlpha;
    // Drawn without paper: what is not drawn on stays transparent.
    loaded.document->setRenderHint(Poppler::Document::IgnorePaperColor, alpha);

    PageJob job;
    job.outputPath = dir.filePath(QStringLiteral("page.out"));
    job.format = format;
    job.mode = mode;
    job.quality = quality;
    job.resolution = 50;
    const PageOutcome outcome = convertPage(loaded.document.get(), job, notStopped);
    QCOMPARE(outcome.result, PageOutcome::Written);

    QImageReader reader(job.outputPath);
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(image.size(), QSize(413, 585));
    QCOMPARE(image.hasAlphaChannel(), alpha);
    if (depth == 1)
        QCOMPARE(image.depth(), 1);
    if (depth == 8)
        QVERIFY(image.isGrayscale());
    if (format != ImageFormat::WebP) // WebP has no place for it
        QCOMPARE(qRound(image.dotsPerMeterX() * 0.0254), 50);

    // The frame is dark blue, 10 pt in; the corner is paper, or nothing at all.
    const QRgb frame = image.pixel(7, 292);
    const QRgb corner = image.pixel(2, 2);
    QVERIFY2(qGray(frame) < 100, qPrintable(QString::number(frame, 16)));
    QCOMPARE(qAlpha(frame), 255);
    QCOMPARE(qAlpha(corner), alpha ? 0 : 255);
    if (!alpha)
        QVERIFY2(qGray(corner) > 240, qPrintable(QString::number(corner, 16)));
}

// WebP keeps each side under 16384 pixels: such a page is refused before drawing.
void TstOutputs::webpLimit()
{
    PdfLoadResult loaded = loadPdf(report);
    PageJob job;
    job.outputPath = dir.filePath(QStringLiteral("big.webp"));
    job.format = ImageFormat::WebP;
    job.resolution = 1500; // A4: 12396 x 17542
    const PageOutcome outcome = convertPage(loaded.document.get(), job, notStopped);
    QCOMPARE(outcome.result, PageOutcome::TooLarge);
    QCOMPARE(outcome.detail, QStringLiteral("12396 x 17542 pixels; a WebP image has at most 16383 pixels a side"));
    QVERIFY(!QFileInfo::exists(job.outputPath));
}

void TstOutputs::multiPageTiff()
{
    PdfLoadResult loaded = loadPdf(report);
    const QString path = dir.filePath(QStringLiteral("report.tiff"));
    AtomicFile file(path);
    QVERIFY(file.open(true));
    TiffEncoder encoder;
    encoder.startMultiPage(2, false);
    for (int page = 0; page < 2; ++page) {
        PageJob job;
        job.pageIndex = page;
        job.outputPath = path;
        job.format = ImageFormat::Tiff;
        job.resolution = 30;
        job.mode = page == 0 ? PixelMode::Color : PixelMode::Mono;
        const PageOutcome outcome = appendPage(loaded.document.get(), job, encoder, file.device(), notStopped);
        QVERIFY2(outcome.result == PageOutcome::Written, qPrintable(outcome.detail));
    }
    QVERIFY(encoder.close());
    QVERIFY(file.commit());

    QImageReader reader(path);
    QCOMPARE(reader.imageCount(), 2);
    QCOMPARE(reader.read().size(), QSize(248, 351));
    QVERIFY(reader.jumpToNextImage());
    const QImage second = reader.read();
    QCOMPARE(second.depth(), 1);
    QCOMPARE(second.size(), QSize(248, 351));
}

// A size in pixels instead of a resolution: the page keeps its proportions
// and the file stores the resolution that gave that size.
void TstOutputs::sizeInPixels_data()
{
    QTest::addColumn<int>("width");   // the box; 0 leaves a side free
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("longest"); // instead of a box
    QTest::addColumn<QSize>("size");  // of the A4 page, 595 x 842 points
    QTest::addColumn<int>("dpi");

    QTest::newRow("width only") << 800 << 0 << 0 << QSize(800, 1132) << 97;
    QTest::newRow("height only") << 0 << 1000 << 0 << QSize(707, 1000) << 86;
    QTest::newRow("box, height decides") << 1000 << 1000 << 0 << QSize(707, 1000) << 86;
    QTest::newRow("box, width decides") << 300 << 1000 << 0 << QSize(300, 425) << 36;
    QTest::newRow("longest side") << 0 << 0 << 2000 << QSize(1413, 2000) << 171;
}

void TstOutputs::sizeInPixels()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, longest);
    QFETCH(QSize, size);
    QFETCH(int, dpi);

    PdfLoadResult loaded = loadPdf(report);
    PageJob job;
    job.outputPath = dir.filePath(QStringLiteral("sized.png"));
    job.format = ImageFormat::Png;
    const QSizeF a4(595, 842);
    job.resolution = longest > 0 ? resolutionForLongestSide(a4, longest) : resolutionToFit(a4, width, height);
    QCOMPARE(convertPage(loaded.document.get(), job, notStopped).result, PageOutcome::Written);
    const QImage image(job.outputPath);
    QCOMPARE(image.size(), size);
    QCOMPARE(qRound(image.dotsPerMeterX() * 0.0254), dpi);
}

// A page that takes longer than its limit is given up while Poppler draws
// it, and leaves no file; the run's own stop flag stays untouched.
void TstOutputs::timeLimitStopsASlowPage()
{
    const QString heavy = dir.filePath(QStringLiteral("heavy.pdf"));
    QVERIFY(makeDrawingPdf(heavy, 20000));
    PdfLoadResult loaded = loadPdf(heavy);
    PageJob job;
    job.outputPath = dir.filePath(QStringLiteral("heavy.png"));
    job.format = ImageFormat::Png;
    job.resolution = 600;
    job.timeLimitMs = 200;
    const PageOutcome outcome = convertPage(loaded.document.get(), job, notStopped);
    QCOMPARE(outcome.result, PageOutcome::TimedOut);
    QCOMPARE(outcome.detail, QStringLiteral("timed out after 0.2 s"));
    QVERIFY(!QFileInfo::exists(job.outputPath));
    QCOMPARE(QDir(dir.path()).entryList({QStringLiteral(".*.tmp")}, QDir::Files | QDir::Hidden), QStringList());
}

QTEST_MAIN(TstOutputs)
#include "tst_outputs.moc"
