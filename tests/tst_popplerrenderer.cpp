#include "engine/drawingnotes.h"
#include "engine/pagepipeline.h"
#include "engine/render/pdfdocument.h"
#include "engine/render/popplerview.h"
#include "engine/render/renderdocument.h"
#include "runner/worker/taskexecutor.h"
#include "support/drawingpdf.h"
#include "support/pdfmaker.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>

Q_DECLARE_METATYPE(ImageFormat)
Q_DECLARE_METATYPE(PixelMode)
Q_DECLARE_METATYPE(RenderOptions)

// The Poppler renderer draws through Poppler's core interface with devices
// kept across pages; Poppler's Qt interface, which makes a device for every
// page, is the reference: the same settings must write the same files, byte
// for byte, whatever was drawn on the document before.

namespace {

QByteArray stream(const QByteArray &dictionary, const QByteArray &data)
{
    return "<< " + dictionary + " /Length " + QByteArray::number(data.size()) + " >>\nstream\n" + data
           + "\nendstream";
}

// Five pages that leave state behind in a kept device, one after another:
// 1. 300 x 200, a blue fill under a luminosity soft mask (a gradient), and
//    Helvetica text outside it;
// 2. 200 x 300, a Type 3 font with an uncoloured (d1) and a coloured (d0) glyph;
// 3. 250 x 250, text, a 4 x 4 RGB image scaled up with /Interpolate, a Square
//    annotation and a text form field, each with its own appearance;
// 4. 220 x 160 turned by /Rotate 90, a fill of no opacity (Splash leaves
//    black at alpha 0 under it, which the paper covers again), a stroke and
//    half-transparent fills multiplied together;
// 5. 300 x 200 as the first, plain: text and a green fill.
bool writeMixedPdf(const QString &path)
{
    QByteArray pixels;
    for (int i = 0; i < 16; ++i)
        pixels += QByteArray(1, char(i * 16)) + QByteArray(1, char(255 - i * 16)) + QByteArray(1, char((i * 67) % 256));
    const QList<QByteArray> objects{
        /* 1 */ "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [17 0 R] >> >>",
        /* 2 */ "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R 6 0 R 7 0 R] /Count 5 >>",
        /* 3 */ "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] /Contents 8 0 R "
                "/Resources << /ExtGState << /GS1 9 0 R >> /Font << /F1 12 0 R >> >> >>",
        /* 4 */ "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 300] /Contents 13 0 R "
                "/Resources << /Font << /T3 14 0 R >> >> >>",
        /* 5 */ "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 250 250] /Contents 15 0 R "
                "/Resources << /Font << /F1 12 0 R >> /XObject << /Im1 16 0 R >> >> /Annots [18 0 R 17 0 R] >>",
        /* 6 */ "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 220 160] /Rotate 90 /Contents 20 0 R "
                "/Resources << /ExtGState << /A 21 0 R /Z 26 0 R >> >> >>",
        /* 7 */ "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] /Contents 22 0 R "
                "/Resources << /Font << /F1 12 0 R >> >> >>",
        /* 8 */ stream("", "q /GS1 gs 0 0 1 rg 0 0 300 200 re f Q BT /F1 24 Tf 20 20 Td (Masked) Tj ET"),
        /* 9 */ "<< /Type /ExtGState /SMask << /Type /Mask /S /Luminosity /G 10 0 R >> >>",
        /* 10 */ stream("/Type /XObject /Subtype /Form /BBox [0 0 300 200] "
                        "/Group << /S /Transparency /CS /DeviceGray >> /Resources << /Shading << /Sh 11 0 R >> >>",
                        "/Sh sh"),
        /* 11 */ "<< /ShadingType 2 /ColorSpace /DeviceGray /Coords [0 0 300 0] "
                 "/Function << /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [1] /N 1 >> /Extend [true true] >>",
        /* 12 */ "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
        /* 13 */ stream("", "BT /T3 40 Tf 20 150 Td (abab) Tj ET 0 0.5 0 rg 20 20 50 50 re f"),
        /* 14 */ "<< /Type /Font /Subtype /Type3 /FontBBox [0 0 1000 1000] /FontMatrix [0.001 0 0 0.001 0 0] "
                 "/CharProcs << /a 23 0 R /b 24 0 R >> /Encoding << /Type /Encoding /Differences [97 /a /b] >> "
                 "/FirstChar 97 /LastChar 98 /Widths [1000 1000] /Resources << >> >>",
        /* 15 */ stream("", "BT /F1 14 Tf 20 220 Td (Text and an image) Tj ET q 100 0 0 80 20 40 cm /Im1 Do Q"),
        /* 16 */ stream("/Type /XObject /Subtype /Image /Width 4 /Height 4 /ColorSpace /DeviceRGB "
                        "/BitsPerComponent 8 /Interpolate true",
                        pixels),
        /* 17 */ "<< /Type /Annot /Subtype /Widget /FT /Tx /T (name) /V (field) /Rect [130 150 230 180] /F 4 "
                 "/P 5 0 R /AP << /N 19 0 R >> >>",
        /* 18 */ "<< /Type /Annot /Subtype /Square /Rect [150 30 230 100] /F 4 /C [1 0 0] /IC [1 0 0] "
                 "/AP << /N 25 0 R >> >>",
        /* 19 */ stream("/Type /XObject /Subtype /Form /BBox [0 0 100 30]", "0 0.6 0 rg 0 0 100 30 re f"),
        /* 20 */ stream("", "q /Z gs 0 1 0 rg 150 5 65 60 re f Q 0 0 0 RG 2 w 10 10 m 200 150 l S "
                            "/A gs 1 0 0 rg 20 20 120 100 re f 0 0 1 rg 80 50 120 100 re f"),
        /* 21 */ "<< /Type /ExtGState /ca 0.5 /CA 0.5 /BM /Multiply >>",
        /* 22 */ stream("", "BT /F1 30 Tf 30 100 Td (Plain page) Tj ET 0.2 0.7 0.3 rg 200 20 80 60 re f"),
        /* 23 */ stream("", "1000 0 0 0 1000 1000 d1 100 100 800 800 re f"),
        /* 24 */ stream("", "1000 0 d0 0 0 1 rg 100 100 m 900 100 l 500 900 l f"),
        /* 25 */ stream("/Type /XObject /Subtype /Form /BBox [0 0 80 70]", "1 0 0 rg 0 0 80 70 re f"),
        /* 26 */ "<< /Type /ExtGState /ca 0 >>",
    };
    return writePdfObjects(path, objects, "1.5");
}

const std::atomic<bool> notStopped{false};

RenderOptions optionsWith(bool withoutPaper, bool antialias, bool annotations)
{
    RenderOptions options;
    options.withoutPaper = withoutPaper;
    options.antialias = antialias;
    options.annotations = annotations;
    return options;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestPopplerRenderer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void sameBytesAsQtInterface_data();
    void sameBytesAsQtInterface();
    void previewSameAsQtInterface_data();
    void previewSameAsQtInterface();
    // Last: it sends Poppler's reports to the drawing notes for good.
    void bothInterfacesShareTheSetUp_data();
    void bothInterfacesShareTheSetUp();

private:
    QString path(const QString &name) const { return dir.filePath(name); }

    QTemporaryDir dir;
};

void TestPopplerRenderer::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY(writeMixedPdf(path("mixed.pdf")));
    // Embedded TrueType fonts at several sizes, hairlines, a gradient.
    QVERIFY(makeDrawingPdf(path("drawing.pdf"), 200, QSizeF(595, 842), 2));
    QVERIFY(makeTestCardPdf(path("testcard.pdf")));
    // A page that draws a square, then an XObject its resources lack: Poppler reports it.
    const QByteArray content = "0 0 1 rg 10 10 50 50 re f /Gone Do\n";
    QVERIFY(writePdfObjects(path("reports.pdf"),
                            {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                             "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Contents 4 0 R "
                             "/Resources << >> >>",
                             stream("", content)}));
}

void TestPopplerRenderer::sameBytesAsQtInterface_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QList<int>>("pages"); // drawn in this order, on one open document
    QTest::addColumn<ImageFormat>("format");
    QTest::addColumn<PixelMode>("mode");
    QTest::addColumn<RenderOptions>("options");
    QTest::addColumn<double>("resolution");
    QTest::addColumn<QRect>("region");
    QTest::addColumn<qint64>("bandBudget"); // 0: the page whole
    QTest::addColumn<int>("bandThreads");
    QTest::addColumn<bool>("stoppedFirst"); // each page is first given up by its deadline while drawn

    const QList<int> inARow{0, 1, 2, 3, 4, 0, 2};
    const RenderOptions window;
    const RenderOptions transparent = optionsWith(true, true, true);
    const QRect whole;
    // Every type at the window's settings, each page after the others.
    const std::pair<const char *, ImageFormat> types[] = {{"jpg", ImageFormat::Jpeg}, {"png", ImageFormat::Png},
                                                          {"bmp", ImageFormat::Bmp},  {"tiff", ImageFormat::Tiff},
                                                          {"webp", ImageFormat::WebP}};
    for (const auto &[name, format] : types) {
        QTest::addRow("%s, window's settings, pages in a row", name)
            << "mixed.pdf" << inARow << format << PixelMode::Color << window << 150.0 << whole << qint64(0) << 1 << false;
    }
    QTest::newRow("png, embedded fonts, two pages") << "drawing.pdf" << QList<int>{0, 1, 0} << ImageFormat::Png
                                                    << PixelMode::Color << window << 100.0 << whole << qint64(0) << 1 << false;
    QTest::newRow("bmp, test card") << "testcard.pdf" << QList<int>{0} << ImageFormat::Bmp << PixelMode::Color
                                    << window << 211.0 << whole << qint64(0) << 1 << false;
    QTest::newRow("gray jpg") << "mixed.pdf" << inARow << ImageFormat::Jpeg << PixelMode::Gray << window << 150.0
                              << whole << qint64(0) << 1 << false;
    QTest::newRow("gray png, test card") << "testcard.pdf" << QList<int>{0} << ImageFormat::Png << PixelMode::Gray
                                         << window << 150.0 << whole << qint64(0) << 1 << false;
    QTest::newRow("1-bit tiff") << "mixed.pdf" << inARow << ImageFormat::Tiff << PixelMode::Mono << window << 150.0
                                << whole << qint64(0) << 1 << false;
    QTest::newRow("1-bit bmp") << "mixed.pdf" << QList<int>{2, 3} << ImageFormat::Bmp << PixelMode::Mono << window
                               << 150.0 << whole << qint64(0) << 1 << false;
    for (const auto &[name, format] : {std::pair{"png", ImageFormat::Png}, std::pair{"tiff", ImageFormat::Tiff},
                                       std::pair{"webp", ImageFormat::WebP}}) {
        QTest::addRow("%s, transparent, pages in a row", name)
            << "mixed.pdf" << inARow << format << PixelMode::ColorAlpha << transparent << 150.0 << whole
            << qint64(0) << 1 << false;
    }
    QTest::newRow("png, no anti-aliasing") << "mixed.pdf" << inARow << ImageFormat::Png << PixelMode::Color
                                           << optionsWith(false, false, true) << 150.0 << whole << qint64(0) << 1 << false;
    QTest::newRow("jpg, no anti-aliasing, embedded fonts")
        << "drawing.pdf" << QList<int>{1} << ImageFormat::Jpeg << PixelMode::Color << optionsWith(false, false, true)
        << 100.0 << whole << qint64(0) << 1 << false;
    QTest::newRow("png, no annotations") << "mixed.pdf" << QList<int>{2, 0, 2} << ImageFormat::Png << PixelMode::Color
                                         << optionsWith(false, true, false) << 150.0 << whole << qint64(0) << 1 << false;
    QTest::newRow("png, transparent, no annotations, no anti-aliasing")
        << "mixed.pdf" << QList<int>{2, 3} << ImageFormat::Png << PixelMode::ColorAlpha
        << optionsWith(true, false, false) << 150.0 << whole << qint64(0) << 1 << false;
    QTest::newRow("png, a region") << "mixed.pdf" << QList<int>{0, 2, 3} << ImageFormat::Png << PixelMode::Color
                                   << window << 150.0 << QRect(37, 41, 211, 150) << qint64(0) << 1 << false;
    QTest::newRow("bmp, a region") << "mixed.pdf" << QList<int>{1, 2} << ImageFormat::Bmp << PixelMode::Color
                                   << window << 150.0 << QRect(10, 200, 300, 101) << qint64(0) << 1 << false;
    // Bands of 30 rows and their margins.
    QTest::newRow("png, banded") << "mixed.pdf" << inARow << ImageFormat::Png << PixelMode::Color << window << 150.0
                                 << whole << qint64(625 * 4 * 34) << 1 << false;
    QTest::newRow("tiff, banded, transparent") << "mixed.pdf" << QList<int>{0, 2} << ImageFormat::Tiff
                                               << PixelMode::ColorAlpha << transparent << 150.0 << whole
                                               << qint64(625 * 4 * 34) << 1 << false;
    QTest::newRow("jpg, banded by 3 threads") << "drawing.pdf" << QList<int>{0, 1} << ImageFormat::Jpeg
                                              << PixelMode::Color << window << 100.0 << whole
                                              << qint64(827 * 4 * 64) << 3 << false;
    QTest::newRow("png, pages in a row, each stopped first") << "mixed.pdf" << inARow << ImageFormat::Png
                                                             << PixelMode::Color << window << 150.0 << whole
                                                             << qint64(0) << 1 << true;
    QTest::newRow("png, transparent, each stopped first") << "mixed.pdf" << QList<int>{0, 2, 1} << ImageFormat::Png
                                                          << PixelMode::ColorAlpha << transparent << 150.0 << whole
                                                          << qint64(0) << 1 << true;
    QTest::newRow("gray png, banded by 2 threads, a region")
        << "mixed.pdf" << QList<int>{3, 2} << ImageFormat::Png << PixelMode::Gray << window << 150.0
        << QRect(5, 5, 300, 400) << qint64(300 * 4 * 40) << 2 << false;
}

// Each page is written by the pipeline twice, from the renderer and from
// Poppler's Qt interface with the same options, and the files compared.
void TestPopplerRenderer::sameBytesAsQtInterface()
{
    QFETCH(QString, file);
    QFETCH(QList<int>, pages);
    QFETCH(ImageFormat, format);
    QFETCH(PixelMode, mode);
    QFETCH(RenderOptions, options);
    QFETCH(double, resolution);
    QFETCH(QRect, region);
    QFETCH(qint64, bandBudget);
    QFETCH(int, bandThreads);
    QFETCH(bool, stoppedFirst);

    const QString input = path(file);
    const RenderOpenResult drawing = openForRendering(RendererKind::Poppler, input, QByteArray(), options);
    const RenderOpenResult reference = openPopplerView(input, QByteArray(), options);
    QVERIFY(drawing.document && reference.document);
    QCOMPARE(drawing.document->pageCount(), reference.document->pageCount());

    std::atomic<int> copies{0};
    for (int i = 0; i < pages.size(); ++i) {
        const int page = pages.at(i);
        QCOMPARE(drawing.document->page(page)->sizeInPoints(), reference.document->page(page)->sizeInPoints());
        if (stoppedFirst) {
            const QImage stopped = drawing.document->page(page)->render(
                resolution, QRect(0, 0, 300, 300), notStopped, QDeadlineTimer(0), PixelImage::Rgb888);
            QVERIFY(stopped.isNull());
        }
        QByteArray written[2];
        for (int by = 0; by < 2; ++by) {
            PageJob job;
            job.pageIndex = page;
            job.outputPath = path(QStringLiteral("%1-%2.out").arg(i).arg(by));
            job.format = format;
            job.mode = mode;
            job.resolution = resolution;
            job.region = region;
            if (bandBudget > 0)
                job.bandBudget = bandBudget;
            // The renderer's bands on several threads; the reference's on one.
            if (by == 0 && bandThreads > 1) {
                job.bandThreads = bandThreads;
                job.openCopy = [&]() -> std::unique_ptr<RenderDocument> {
                    ++copies;
                    return openForRendering(RendererKind::Poppler, input, QByteArray(), options).document;
                };
            }
            const RenderDocument &document = by == 0 ? *drawing.document : *reference.document;
            const PageOutcome outcome = convertPage(document, job, notStopped);
            QVERIFY2(outcome.result == PageOutcome::Written, qPrintable(outcome.detail));
            written[by] = contents(job.outputPath);
            QVERIFY(!written[by].isEmpty());
        }
        QVERIFY2(written[0] == written[1], qPrintable(QStringLiteral("page %1, drawn %2th: %3 bytes, the Qt "
                                                                     "interface's %4")
                                                          .arg(page + 1)
                                                          .arg(i + 1)
                                                          .arg(written[0].size())
                                                          .arg(written[1].size())));
    }
    if (bandThreads > 1)
        QVERIFY(copies > 0);
}

void TestPopplerRenderer::previewSameAsQtInterface_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QList<int>>("pages");
    QTest::addColumn<QSize>("area");
    QTest::newRow("pages back and forth") << "mixed.pdf" << QList<int>{0, 1, 2, 3, 4, 1, 0} << QSize(800, 600);
    QTest::newRow("embedded fonts") << "drawing.pdf" << QList<int>{1, 0} << QSize(400, 300);
    QTest::newRow("no such page") << "mixed.pdf" << QList<int>{2, 7, 3} << QSize(800, 600);
}

// The window's preview, drawn by a worker's executor on the document it keeps
// open, is the image the Qt interface draws at the preview's resolution.
void TestPopplerRenderer::previewSameAsQtInterface()
{
    QFETCH(QString, file);
    QFETCH(QList<int>, pages);
    QFETCH(QSize, area);

    const PdfLoadResult loaded = loadPdf(path(file));
    QVERIFY(loaded.document);
    TaskExecutor executor;
    for (int page : pages) {
        PageTask task;
        task.kind = PageTask::Preview;
        task.path = path(file);
        task.pageIndex = page;
        task.previewArea = area;
        const TaskResult result = executor.run(task, notStopped);
        const QSize at72Dpi = pagePixelSize(loaded.document.get(), page, 72.0);
        const PageRenderResult expected =
            renderPage(loaded.document.get(), page, previewResolution(at72Dpi, area));
        if (expected.status == PageRenderStatus::NoPage) {
            QCOMPARE(result.outcome.result, PageOutcome::NoPage);
            QVERIFY(result.image.isNull());
            continue;
        }
        QCOMPARE(expected.status, PageRenderStatus::Rendered);
        QCOMPARE(result.outcome.result, PageOutcome::Written);
        const QImage shown = result.image;
        QCOMPARE(shown.format(), expected.image.format());
        QCOMPARE(shown.size(), expected.image.size());
        QVERIFY2(shown == expected.image, qPrintable(QStringLiteral("page %1").arg(page + 1)));
    }
}

void TestPopplerRenderer::bothInterfacesShareTheSetUp_data()
{
    // When the window's Qt interface opens and closes its documents, around
    // a document this renderer keeps open.
    QTest::addColumn<bool>("qtFirst");       // opened before the renderer's document, else after
    QTest::addColumn<bool>("qtClosedFirst"); // closed before the renderer draws, else after
    QTest::newRow("Qt interface opened first, closed first") << true << true;
    QTest::newRow("Qt interface opened first, closed last") << true << false;
    QTest::newRow("Qt interface opened last, closed first") << false << true;
    QTest::newRow("Qt interface opened last, closed last") << false << false;
}

// Poppler's global parameters and its error callback serve both interfaces:
// the Qt interface dropping its last document neither takes them from a
// document drawn here nor puts its own callback back in place of the notes.
void TestPopplerRenderer::bothInterfacesShareTheSetUp()
{
    QFETCH(bool, qtFirst);
    QFETCH(bool, qtClosedFirst);
    keepRendererReports();
    DrawingNotes::take();

    PdfLoadResult qt;
    if (qtFirst)
        qt = loadPdf(path("mixed.pdf"));
    const RenderOpenResult drawing = openForRendering(RendererKind::Poppler, path("reports.pdf"), QByteArray());
    QVERIFY(drawing.document);
    if (!qtFirst)
        qt = loadPdf(path("mixed.pdf"));
    QVERIFY(qt.document);
    if (qtClosedFirst)
        qt = PdfLoadResult();

    const QImage image = drawing.document->page(0)->render(72, QRect(0, 0, 100, 100), notStopped,
                                                           QDeadlineTimer(QDeadlineTimer::Forever));
    QCOMPARE(image.size(), QSize(100, 100));
    QCOMPARE(image.pixel(30, 70), qRgb(0, 0, 255));
    QCOMPARE(image.pixel(80, 10), qRgb(255, 255, 255));
    const DrawingNotes::Notes notes = DrawingNotes::take();
    QVERIFY(notes.errors);
    QVERIFY2(notes.first.join(QLatin1Char('|')).contains(QLatin1String("XObject 'Gone' is unknown")),
             qPrintable(notes.first.join(QLatin1Char('|'))));
    qt = PdfLoadResult();
}

QTEST_MAIN(TestPopplerRenderer)
#include "tst_popplerrenderer.moc"
