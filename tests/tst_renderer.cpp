#include "engine/pagepipeline.h"
#include "engine/pixelsize.h"
#include "engine/render/renderdocument.h"
#include "engine/render/rendererbackend.h"
#include "support/warnings.h"
#include "support/drawingpdf.h"
#include "support/pdfmaker.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QImage>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

Q_DECLARE_METATYPE(RendererKind)
Q_DECLARE_METATYPE(ImageFormat)
Q_DECLARE_METATYPE(PixelMode)
Q_DECLARE_METATYPE(RendererAbilities)
Q_DECLARE_METATYPE(RenderOptions)

namespace {

// One page written by hand, for what QPdfWriter cannot set: page boxes,
// /Rotate and /UserUnit. The page shows a red square near its lower left
// corner and a blue bar along its top, so that a turn or a mirror shows.
bool writeBoxedPdf(const QString &path, const QByteArray &pageEntries)
{
    const QByteArray content = "1 0 0 rg 10 10 40 40 re f 0 0 1 rg 0 80 150 15 re f\n";
    const QList<QByteArray> objects{
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R " + pageEntries + " /Contents 4 0 R /Resources << >> >>",
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "endstream",
    };
    return writePdfObjects(path, objects, "1.6");
}

QString fixture(const QString &name)
{
    return qEnvironmentVariable("VELLORAN_TEST_DATA") + QLatin1Char('/') + name;
}

// One 200 x 100 page for the drawing options: a trim box of 140 x 60, a
// black diagonal hairline alone in its square (anti-aliased: greys beside
// it), a DeviceCMYK fill (C 20% M 40% Y 60% K 10%), a red Square annotation
// with its own appearance, and a corner left blank.
bool writeOptionsPdf(const QString &path)
{
    const QByteArray content = "0 0 0 RG 1.5 w 10 10 m 90 90 l S 0.2 0.4 0.6 0.1 k 100 10 30 30 re f\n";
    const QByteArray red = "1 0 0 rg 0 0 50 40 re f\n";
    const auto stream = [](const QByteArray &dictionary, const QByteArray &data) {
        return "<< " + dictionary + " /Length " + QByteArray::number(data.size()) + " >>\nstream\n" + data
               + "endstream";
    };
    const QList<QByteArray> objects{
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /TrimBox [30 20 170 80] /Contents 4 0 R "
        "/Annots [5 0 R] /Resources << >> >>",
        stream("", content),
        "<< /Type /Annot /Subtype /Square /Rect [140 50 190 90] /F 4 /C [1 0 0] /IC [1 0 0] /AP << /N 6 0 R >> >>",
        stream("/Type /XObject /Subtype /Form /BBox [0 0 50 40]", red),
    };
    return writePdfObjects(path, objects, "1.4");
}

const std::atomic<bool> notStopped{false};

QImage drawWhole(const RenderDocument &document, int pageIndex, double dpi,
                 PixelImage::Format wanted = PixelImage::Rgb32)
{
    const std::unique_ptr<RenderPage> page = document.page(pageIndex);
    const PixelSize size = pixelSizeAt(page->sizeInPoints(), dpi);
    if (size.status != PixelSize::Ok)
        return QImage();
    return page->render(dpi, QRect(0, 0, size.width, size.height), notStopped,
                        QDeadlineTimer(QDeadlineTimer::Forever), wanted);
}

} // namespace

class TestRenderer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void rendererOption_data();
    void rendererOption();

    void samePixelsAsMutool_data();
    void samePixelsAsMutool();
    void sameSizesAsPoppler_data();
    void sameSizesAsPoppler();
    void threadedBandsGiveTheSameBytes_data();
    void threadedBandsGiveTheSameBytes();
    void stopAndDeadlineEndADrawing_data();
    void stopAndDeadlineEndADrawing();
    void sameFailuresFromBothRenderers_data();
    void sameFailuresFromBothRenderers();
    void refusalsWordedFromAbilities_data();
    void refusalsWordedFromAbilities();
    void backEndsDrawWhatTheyClaim_data();
    void backEndsDrawWhatTheyClaim();

private:
    QString path(const QString &name) const { return dir.filePath(name); }

    QTemporaryDir dir;
};

void TestRenderer::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY(makeDrawingPdf(path("drawing.pdf"), 300));
    QVERIFY(makeDrawingPdf(path("heavy.pdf"), 20000));
    QVERIFY(makeRedBluePdf(path("redblue.pdf")));
    QVERIFY(makePdf(path("sizes.pdf"), {a4Portrait, a4Landscape, QSizeF(100, 200), QSizeF(33.3, 77.7)}));
    const QList<std::pair<const char *, QByteArray>> boxed{
        {"plain", "/MediaBox [0 0 200 100]"},
        {"rotate-90", "/MediaBox [0 0 200 100] /Rotate 90"},
        {"rotate-180", "/MediaBox [0 0 200 100] /Rotate 180"},
        {"rotate-270", "/MediaBox [0 0 200 100] /Rotate 270"},
        {"rotate-minus-90", "/MediaBox [0 0 200 100] /Rotate -90"},
        {"crop", "/MediaBox [0 0 200 100] /CropBox [10.3 5.2 150.7 90.9]"},
        {"crop-rotate-90", "/MediaBox [0 0 200 100] /CropBox [10.3 5.2 150.7 90.9] /Rotate 90"},
        {"offset-media", "/MediaBox [-50 -20 150.5 80.25]"},
        {"user-unit", "/MediaBox [0 0 200 100] /UserUnit 2"},
        {"user-unit-rotate", "/MediaBox [0 0 200 100] /UserUnit 3.5 /Rotate 270"},
    };
    for (const auto &[name, entries] : boxed)
        QVERIFY(writeBoxedPdf(path(QLatin1String(name) + ".pdf"), entries));
    QVERIFY(writeOptionsPdf(path("options.pdf")));
}

void TestRenderer::init()
{
    const QByteArray name = QTest::currentTestFunction();
    const bool eitherBuild = name == "rendererOption" || name == "refusalsWordedFromAbilities"
                             || name == "backEndsDrawWhatTheyClaim";
    if (!eitherBuild && !rendererBuiltIn(RendererKind::MuPdf))
        QSKIP("built without MuPDF");
}

void TestRenderer::rendererOption_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("renderer"); // named in the JSON summary

    const bool muPdf = rendererBuiltIn(RendererKind::MuPdf);
    QTest::newRow("default") << QStringList{} << 0 << QString() << (muPdf ? "mupdf" : "poppler");
    QTest::newRow("poppler") << QStringList{"--renderer", "poppler"} << 0 << QString() << "poppler";
    QTest::newRow("upper case") << QStringList{"--renderer", "Poppler"} << 0 << QString() << "poppler";
    if (muPdf)
        QTest::newRow("mupdf") << QStringList{"--renderer", "mupdf"} << 0 << QString() << "mupdf";
    else
        QTest::newRow("mupdf, not built") << QStringList{"--renderer", "mupdf"} << 2
                                          << "velloran-cli: this velloran-cli was built without MuPDF: "
                                             "use --renderer poppler\n"
                                          << QString();
    QTest::newRow("unknown") << QStringList{"--renderer", "splash"} << 2
                             << "velloran-cli: unknown renderer \"splash\": use mupdf or poppler\n" << QString();
}

// --renderer picks the library, refuses what is not there with a message
// that says so, and the JSON summary names the one that drew.
void TestRenderer::rendererOption()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, error);
    QFETCH(QString, renderer);

    QVERIFY(makePdf(path("one.pdf"), 1));
    QTemporaryDir out;
    QVERIFY(out.isValid());
    QProcess process;
    process.start(QStringLiteral(VELLORAN_CLI),
                  QStringList{"-q", "--json", "-r", "10", "-o", out.path(), path("one.pdf")} + arguments);
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitCode(), status);
    QCOMPARE(programErrors(process.readAllStandardError()), error);
    const QList<QByteArray> lines = process.readAllStandardOutput().split('\n');
    if (status != 0) {
        QCOMPARE(lines, QList<QByteArray>{""});
        return;
    }
    QCOMPARE(lines.size(), 3); // a page, the summary, the last newline
    QVERIFY2(lines.at(1).contains("\"renderer\":\"" + renderer.toLatin1() + "\""), lines.at(1).constData());
}

void TestRenderer::samePixelsAsMutool_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("dpi");
    QTest::addColumn<QImage::Format>("format"); // asked for; gray against mutool's gray
    // Not /UserUnit: mutool scales the page by it, the engine keeps Poppler's size.
    for (const char *file : {"drawing.pdf", "redblue.pdf", "rotate-90.pdf", "crop-rotate-90.pdf"}) {
        for (int dpi : {72, 150})
            QTest::addRow("%s at %d dpi", file, dpi) << QString::fromLatin1(file) << dpi << QImage::Format_RGB32;
    }
    // Drawn straight into the layouts the encoders take: red and blue in place,
    // rows padded to 32 bits (the drawing is 595 pixels wide at 72 dpi).
    const struct
    {
        QImage::Format format;
        const char *name;
    } packed[] = {{QImage::Format_RGB888, "RGB"}, {QImage::Format_BGR888, "BGR"}, {QImage::Format_Grayscale8, "gray"}};
    for (const auto &[format, name] : packed) {
        for (const char *file : {"drawing.pdf", "redblue.pdf"})
            QTest::addRow("%s at 72 dpi in %s", file, name) << QString::fromLatin1(file) << 72 << format;
    }
}

// MuPDF drawn in-process is MuPDF as its own tool draws it: the same
// antialiasing and the same page placement. Debian's mutool is a build of
// its own, and a few antialiased pixels of curved strokes come out a little
// apart (the same whether the engine draws plain RGB, with alpha, or through
// a display list as mutool does): at most 3 levels a channel, on at most one
// pixel in ten thousand (97 of 2.2 million on the drawing at 150 dpi).
void TestRenderer::samePixelsAsMutool()
{
    QFETCH(QString, file);
    QFETCH(int, dpi);
    QFETCH(QImage::Format, format);
    const QString mutool = QStandardPaths::findExecutable(QStringLiteral("mutool"));
    if (mutool.isEmpty())
        QSKIP("mutool (mupdf-tools) is needed to draw the reference");

    const bool gray = format == QImage::Format_Grayscale8;
    const QString reference = path(QStringLiteral("%1-%2.%3").arg(file).arg(dpi).arg(gray ? "pgm" : "ppm"));
    QProcess process;
    process.start(mutool, {"draw", "-q", "-c", gray ? "gray" : "rgb", "-r", QString::number(dpi), "-o", reference,
                           path(file), "1"});
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitCode(), 0);
    const QImage expected = QImage(reference).convertToFormat(QImage::Format_RGB32);
    QVERIFY(!expected.isNull());

    const RenderOpenResult opened = openForRendering(RendererKind::MuPdf, path(file), QByteArray());
    QVERIFY(opened.document);
    const QImage packed = drawWhole(*opened.document, 0, dpi, PixelImage::Format(format));
    QCOMPARE(packed.format(), format);
    const QImage drawn = packed.convertToFormat(QImage::Format_RGB32);
    QVERIFY(!drawn.isNull());
    // mutool rounds a fractional page edge up, the engine to the nearest
    // pixel (Poppler's rule): the sizes may differ by that one pixel.
    QVERIFY2(qAbs(drawn.width() - expected.width()) <= 1 && qAbs(drawn.height() - expected.height()) <= 1,
             qPrintable(QStringLiteral("%1 x %2 against mutool's %3 x %4")
                            .arg(drawn.width()).arg(drawn.height()).arg(expected.width()).arg(expected.height())));
    const int width = qMin(drawn.width(), expected.width());
    const int height = qMin(drawn.height(), expected.height());
    qint64 differing = 0;
    for (int y = 0; y < height; ++y) {
        const auto *a = reinterpret_cast<const QRgb *>(drawn.constScanLine(y));
        const auto *b = reinterpret_cast<const QRgb *>(expected.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            const int apart = qMax(qAbs(qRed(a[x]) - qRed(b[x])),
                                   qMax(qAbs(qGreen(a[x]) - qGreen(b[x])), qAbs(qBlue(a[x]) - qBlue(b[x]))));
            if (apart > 3)
                QFAIL(qPrintable(QStringLiteral("pixel (%1, %2): %3, mutool %4")
                                     .arg(x).arg(y).arg(a[x], 8, 16).arg(b[x], 8, 16)));
            differing += apart > 0 ? 1 : 0;
        }
    }
    QVERIFY2(differing <= qint64(width) * height / 10000,
             qPrintable(QStringLiteral("%1 pixels apart").arg(differing)));
}

void TestRenderer::sameSizesAsPoppler_data()
{
    QTest::addColumn<QString>("file");
    const QStringList files{"sizes.pdf", "plain.pdf", "rotate-90.pdf", "rotate-180.pdf", "rotate-270.pdf",
                            "rotate-minus-90.pdf", "crop.pdf", "crop-rotate-90.pdf", "offset-media.pdf",
                            "user-unit.pdf", "user-unit-rotate.pdf"};
    for (const QString &file : files)
        QTest::newRow(qPrintable(file)) << path(file);
    for (const char *file : {"thin-middle-page.pdf", "huge-mediabox.pdf", "count-3-two-kids.pdf",
                             "owner-password.pdf"})
        QTest::newRow(file) << fixture(QLatin1String(file));
}

// The page's size decides its pixels, bands, --width and the format's limits:
// MuPDF must give Poppler's size on every page, at every resolution.
void TestRenderer::sameSizesAsPoppler()
{
    QFETCH(QString, file);
    const RenderOpenResult poppler = openForRendering(RendererKind::Poppler, file, QByteArray());
    const RenderOpenResult muPdf = openForRendering(RendererKind::MuPdf, file, QByteArray());
    QVERIFY(poppler.document && muPdf.document);
    QCOMPARE(muPdf.document->pageCount(), poppler.document->pageCount());
    for (int i = 0; i < poppler.document->pageCount(); ++i) {
        const std::unique_ptr<RenderPage> expected = poppler.document->page(i);
        const std::unique_ptr<RenderPage> page = muPdf.document->page(i);
        QCOMPARE(page->exists(), expected->exists());
        for (double dpi : {1.0, 72.0, 96.0, 150.0, 299.0, 720.0}) {
            const PixelSize a = pixelSizeAt(page->sizeInPoints(), dpi);
            const PixelSize b = pixelSizeAt(expected->sizeInPoints(), dpi);
            const QString at = QStringLiteral("page %1 at %2 dpi").arg(i + 1).arg(dpi);
            QVERIFY2(a.status == b.status && a.width == b.width && a.height == b.height,
                     qPrintable(QStringLiteral("%1: %2 x %3, Poppler %4 x %5")
                                    .arg(at).arg(a.width).arg(a.height).arg(b.width).arg(b.height)));
        }
    }
}

void TestRenderer::threadedBandsGiveTheSameBytes_data()
{
    QTest::addColumn<RendererKind>("renderer");
    QTest::addColumn<int>("threads");
    QTest::addColumn<ImageFormat>("format");
    QTest::addColumn<PixelMode>("mode");
    for (RendererKind renderer : {RendererKind::MuPdf, RendererKind::Poppler}) {
        const QByteArray name = rendererName(renderer).toLatin1();
        QTest::addRow("%s, 2 threads, bmp", name.constData()) << renderer << 2 << ImageFormat::Bmp << PixelMode::Color;
        QTest::addRow("%s, 3 threads, png", name.constData()) << renderer << 3 << ImageFormat::Png << PixelMode::Color;
        QTest::addRow("%s, 4 threads, png with alpha", name.constData())
            << renderer << 4 << ImageFormat::Png << PixelMode::ColorAlpha;
        // Gray made in the band threads (from Poppler's 32-bit pixels) and by
        // the encoder from the rows of one thread.
        QTest::addRow("%s, 2 threads, gray jpg", name.constData()) << renderer << 2 << ImageFormat::Jpeg << PixelMode::Gray;
        QTest::addRow("%s, 2 threads, 1-bit tiff", name.constData())
            << renderer << 2 << ImageFormat::Tiff << PixelMode::Mono;
    }
}

// One page's bands drawn by several threads, each on its own copy of the
// document, come out in order and make the file one thread makes.
void TestRenderer::threadedBandsGiveTheSameBytes()
{
    QFETCH(RendererKind, renderer);
    QFETCH(int, threads);
    QFETCH(ImageFormat, format);
    QFETCH(PixelMode, mode);
    const bool alpha = mode == PixelMode::ColorAlpha;
    const QString file = path("drawing.pdf");
    RenderOptions options;
    options.withoutPaper = alpha;
    const RenderOpenResult opened = openForRendering(renderer, file, QByteArray(), options);
    QVERIFY(opened.document);

    QByteArray single;
    for (int drawing : {1, threads}) {
        PageJob job;
        job.outputPath = path(QStringLiteral("bands-%1.out").arg(drawing));
        job.format = format;
        job.resolution = 200;
        job.mode = mode;
        job.bandBudget = 1653 * 4 * 97; // bands of 93 rows and their margins: 26 bands
        job.bandThreads = drawing;
        std::atomic<int> copies{0};
        job.openCopy = [&]() -> std::unique_ptr<RenderDocument> {
            ++copies;
            return openForRendering(renderer, file, QByteArray(), options).document;
        };
        const PageOutcome outcome = convertPage(*opened.document, job, notStopped);
        QCOMPARE(outcome.result, PageOutcome::Written);
        QCOMPARE(outcome.width, 1653);
        QCOMPARE(copies.load(), drawing - 1);
        QFile written(job.outputPath);
        QVERIFY(written.open(QIODevice::ReadOnly));
        if (drawing == 1)
            single = written.readAll();
        else
            QVERIFY2(written.readAll() == single, "threaded bands wrote other bytes than one thread");
    }
}

void TestRenderer::stopAndDeadlineEndADrawing_data()
{
    QTest::addColumn<RendererKind>("renderer");
    QTest::addColumn<bool>("byDeadline");
    QTest::addColumn<int>("threads");
    for (RendererKind renderer : {RendererKind::MuPdf, RendererKind::Poppler}) {
        const QByteArray name = rendererName(renderer).toLatin1();
        for (int threads : {1, 2}) {
            QTest::addRow("%s, stop, %d threads", name.constData(), threads) << renderer << false << threads;
            QTest::addRow("%s, deadline, %d threads", name.constData(), threads) << renderer << true << threads;
        }
    }
}

// A page that takes minutes to draw ends within seconds of a stop or of its
// deadline, through the pipeline, and leaves no file. The bound is wide for a
// busy machine; bench_stop measures the half-second goal.
void TestRenderer::stopAndDeadlineEndADrawing()
{
    QFETCH(RendererKind, renderer);
    QFETCH(bool, byDeadline);
    QFETCH(int, threads);
    const RenderOpenResult opened = openForRendering(renderer, path("heavy.pdf"), QByteArray());
    QVERIFY(opened.document);

    const QString output =
        path(QStringLiteral("stopped-%1-%2-%3.png").arg(rendererName(renderer)).arg(byDeadline).arg(threads));
    PageJob job;
    job.outputPath = output;
    job.format = ImageFormat::Png;
    job.resolution = 1200;
    job.timeLimitMs = byDeadline ? 300 : 0;
    // 9917 x 14033 pixels: drawn in 9 bands, by several threads with threads > 1.
    job.bandThreads = threads;
    job.openCopy = [&renderer, this] { return openForRendering(renderer, path("heavy.pdf"), QByteArray()).document; };
    std::atomic<bool> stop{false};
    QElapsedTimer sinceStart;
    sinceStart.start();
    std::atomic<qint64> endedAt{-1};
    PageOutcome outcome;
    std::thread worker([&] {
        outcome = convertPage(*opened.document, job, stop);
        endedAt = sinceStart.elapsed();
    });
    constexpr qint64 stopAt = 300;
    if (!byDeadline) {
        QTRY_VERIFY_WITH_TIMEOUT(sinceStart.elapsed() >= stopAt || endedAt >= 0, 10000);
        stop = true;
    }
    worker.join();
    QCOMPARE(outcome.result, byDeadline ? PageOutcome::TimedOut : PageOutcome::Stopped);
    QVERIFY2(endedAt < stopAt + 5000, qPrintable(QStringLiteral("ended after %1 ms").arg(endedAt.load())));
    QVERIFY(!QFileInfo::exists(output));
    QCOMPARE(QDir(dir.path()).entryList({"*.png"}, QDir::Files | QDir::Hidden), QStringList());
}

void TestRenderer::sameFailuresFromBothRenderers_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("written");

    const QString notPdf = QStringLiteral("cannot be opened as a PDF (damaged or not a PDF)");
    // A file that cannot be used costs that file: exit 1, nothing written of it.
    QTest::newRow("not a PDF") << "notpdf.pdf" << QStringList{} << 1 << "notpdf.pdf: " + notPdf << QStringList{};
    QTest::newRow("damaged") << "damaged.pdf" << QStringList{} << 1 << "damaged.pdf: " + notPdf << QStringList{};
    QTest::newRow("truncated") << "truncated.pdf" << QStringList{} << 1 << "truncated.pdf: " + notPdf
                               << QStringList{};
    QTest::newRow("needs a password") << fixture("user-password.pdf") << QStringList{} << 1
                                      << "user-password.pdf: the PDF needs a password: give it with --password"
                                      << QStringList{};
    QTest::newRow("wrong password") << fixture("user-password.pdf") << QStringList{"--password", "guess"} << 1
                                    << "user-password.pdf: wrong password: give the right one with --password"
                                    << QStringList{};
    QTest::newRow("right password") << fixture("user-password.pdf") << QStringList{"--password", "secret"} << 0
                                    << QString() << QStringList{"user-password_1.png"};
    QTest::newRow("owner password only") << fixture("owner-password.pdf") << QStringList{} << 0 << QString()
                                         << QStringList{"owner-password_1.png"};
    QTest::newRow("no pages") << fixture("no-kids-count-0.pdf") << QStringList{} << 1
                              << "no-kids-count-0.pdf: the document has no pages" << QStringList{};
    QTest::newRow("promises a page it lacks") << fixture("no-kids-count-1.pdf") << QStringList{} << 1
                                              << "no-kids-count-1.pdf: page 1: no such page" << QStringList{};
    QTest::newRow("promises more pages") << fixture("count-3-two-kids.pdf") << QStringList{} << 1
                                         << "count-3-two-kids.pdf: page 3: no such page"
                                         << QStringList{"count-3-two-kids_1.png", "count-3-two-kids_2.png"};
    QTest::newRow("too large for the format") << "sizes.pdf" << QStringList{"-t", "jpg", "-r", "20000", "-p", "1"}
                                              << 1
                                              << "sizes.pdf: page 1: page too large to render at 20000 dpi "
                                                 "(165278 x 233889 pixels; a JPEG image has at most 65500 pixels"
                                              << QStringList{};
    // Its one page fits at no resolution asked: refused before drawing.
    QTest::newRow("page box past any size") << fixture("huge-mediabox.pdf") << QStringList{} << 2
                                            << "velloran-cli: no page can be drawn at 72 dpi: page 1 of "
                                            << QStringList{};
    QTest::newRow("page box past any size, with a page that fits")
        << fixture("huge-mediabox.pdf") << QStringList{"sizes.pdf", "-p", "1"} << 1
        << "huge-mediabox.pdf: page 1: page too large to render at 72 dpi (1000000000 x 1000000000 pixels)"
        << QStringList{"sizes_1.png"};
    QTest::newRow("under one pixel") << fixture("thin-middle-page.pdf") << QStringList{} << 1
                                     << "thin-middle-page.pdf: page 2: page smaller than one pixel at 72 dpi"
                                     << QStringList{"thin-middle-page_1.png", "thin-middle-page_3.png"};
}

// Every input the command line refuses or fails on gives the same exit
// status, the same message and the same files with either renderer.
void TestRenderer::sameFailuresFromBothRenderers()
{
    QFETCH(QString, file);
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, message);
    QFETCH(QStringList, written);

    if (!QFileInfo::exists(path("notpdf.pdf"))) {
        QFile plain(path("notpdf.pdf"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.write("Dear reader,\nthis is a letter, not a document of pages.\n");
        plain.close();
        QFile damaged(path("damaged.pdf"));
        QVERIFY(damaged.open(QIODevice::WriteOnly));
        damaged.write("%PDF-1.4\nthis is not the rest of a PDF file\n");
        damaged.close();
        // Three pages cut off in the second page's drawing: the first page and
        // the page tree are whole, the rest of the file is gone.
        QVERIFY(makePdf(path("whole.pdf"), 3));
        QFile whole(path("whole.pdf"));
        QVERIFY(whole.open(QIODevice::ReadOnly));
        const QByteArray bytes = whole.readAll();
        const qsizetype cut = bytes.indexOf("stream", bytes.indexOf("stream") + 20);
        QVERIFY(cut > 0);
        QFile truncated(path("truncated.pdf"));
        QVERIFY(truncated.open(QIODevice::WriteOnly));
        truncated.write(bytes.left(cut + 10));
    }
    const QString input = QFileInfo(file).isAbsolute() ? file : path(file);
    for (QString &argument : arguments) {
        if (argument.endsWith(".pdf"))
            argument = path(argument); // another input beside it
    }

    QString firstErrors;
    for (const char *renderer : {"poppler", "mupdf"}) {
        QTemporaryDir out;
        QVERIFY(out.isValid());
        QProcess process;
        process.start(QStringLiteral(VELLORAN_CLI), QStringList{"--renderer", renderer, "-t", "png", "-r", "72",
                                                                "-o", out.path(), input} + arguments);
        QVERIFY(process.waitForFinished(120000));
        const QString err = programErrors(process.readAllStandardError());
        const QString context = QStringLiteral("%1: %2").arg(QLatin1String(renderer), err);
        QVERIFY2(process.exitCode() == status, qPrintable(context));
        if (!message.isEmpty())
            QVERIFY2(err.contains(message), qPrintable(context));
        else
            QVERIFY2(err.isEmpty(), qPrintable(context));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name), written);
        // The same words, line for line, whichever library drew.
        if (firstErrors.isNull())
            firstErrors = err;
        else
            QCOMPARE(err, firstErrors);
    }
}

QTEST_MAIN(TestRenderer)
void TestRenderer::refusalsWordedFromAbilities_data()
{
    QTest::addColumn<RendererAbilities>("can");
    QTest::addColumn<RenderOptions>("options");
    QTest::addColumn<QStringList>("others"); // "wide": can everything; "gone": the same, not built in
    QTest::addColumn<QString>("refusal");

    const RendererAbilities nothing{boxBit(PageBox::Crop), false, false, false, false};
    const RendererAbilities everything{everyBox, true, true, true, true};
    const auto asking = [](auto set) {
        RenderOptions options;
        set(options);
        return options;
    };
    const RenderOptions trim = asking([](RenderOptions &o) { o.box = PageBox::Trim; });
    const RenderOptions cmyk = asking([](RenderOptions &o) { o.cmyk = true; });
    const RenderOptions allOfThem = asking([](RenderOptions &o) {
        o.box = PageBox::Art;
        o.cmyk = true;
        o.antialias = false;
        o.annotations = false;
        o.withoutPaper = true;
    });
    const QStringList wide{"wide"};

    QTest::newRow("defaults, by one that can nothing more") << nothing << RenderOptions() << wide << QString();
    QTest::newRow("everything, by one that can") << everything << allOfThem << QStringList() << QString();
    QTest::newRow("box") << nothing << trim << wide
                         << "--box trim needs --renderer wide: Narrow's drawing draws the crop box only";
    QTest::newRow("box, two drawn") << RendererAbilities{boxBit(PageBox::Media) | boxBit(PageBox::Crop)} << trim
                                    << wide
                                    << "--box trim needs --renderer wide: Narrow's drawing draws the media and crop "
                                       "boxes only";
    QTest::newRow("box, three drawn")
        << RendererAbilities{boxBit(PageBox::Media) | boxBit(PageBox::Crop) | boxBit(PageBox::Bleed)} << trim << wide
        << "--box trim needs --renderer wide: Narrow's drawing draws the media, crop and bleed boxes only";
    QTest::newRow("a box it has") << RendererAbilities{boxBit(PageBox::Crop) | boxBit(PageBox::Trim)} << trim << wide
                                  << QString();
    QTest::newRow("cmyk") << nothing << cmyk << wide
                          << "--cmyk needs --renderer wide: Narrow's drawing draws in RGB only";
    QTest::newRow("no anti-aliasing") << nothing << asking([](RenderOptions &o) { o.antialias = false; }) << wide
                                      << "--no-antialias needs --renderer wide: Narrow's drawing always anti-aliases";
    QTest::newRow("no annotations") << nothing << asking([](RenderOptions &o) { o.annotations = false; }) << wide
                                    << "--no-annotations needs --renderer wide: Narrow's drawing always draws "
                                       "annotations";
    QTest::newRow("alpha") << nothing << asking([](RenderOptions &o) { o.withoutPaper = true; }) << wide
                           << "--transparent needs --renderer wide: Narrow's drawing draws on white paper only";
    QTest::newRow("the box is named first") << nothing << allOfThem << wide
                                            << "--box art needs --renderer wide: Narrow's drawing draws the crop "
                                               "box only";
    QTest::newRow("what it lacks, not the first asked")
        << RendererAbilities{everyBox, true, true, false, true} << allOfThem << wide
        << "--no-annotations needs --renderer wide: Narrow's drawing always draws annotations";
    QTest::newRow("none other built in can") << nothing << cmyk << QStringList{"gone"}
                                             << "--cmyk needs a renderer this build lacks: Narrow's drawing draws in "
                                                "RGB only";
    QTest::newRow("no other at all") << nothing << cmyk << QStringList()
                                     << "--cmyk needs a renderer this build lacks: Narrow's drawing draws in RGB only";
    QTest::newRow("the first built in that can") << nothing << cmyk << QStringList{"gone", "narrow", "wide", "also"}
                                                 << "--cmyk needs --renderer wide: Narrow's drawing draws in RGB only";
}

// A back-end's refusal says what was asked, which other back-end of the build
// draws it, and what this one does instead, all from the descriptions.
void TestRenderer::refusalsWordedFromAbilities()
{
    QFETCH(RendererAbilities, can);
    QFETCH(RenderOptions, options);
    QFETCH(QStringList, others);
    QFETCH(QString, refusal);

    const RendererAbilities everything{everyBox, true, true, true, true};
    const RendererBackEnd narrow{RendererKind::Poppler, "narrow", "Narrow's drawing", can, 0, "narrow.so", {}};
    const RendererBackEnd wide{RendererKind::MuPdf, "wide", "Wide's drawing", everything, 0, "wide.so", {}};
    const RendererBackEnd also{RendererKind::MuPdf, "also", "Also's drawing", everything, 0, "also.so", {}};
    const RendererBackEnd gone{RendererKind::MuPdf, "gone", "Gone's drawing", everything, 0, nullptr, {}};
    const QHash<QString, const RendererBackEnd *> named{
        {"narrow", &narrow}, {"wide", &wide}, {"also", &also}, {"gone", &gone}};
    QList<const RendererBackEnd *> list;
    for (const QString &name : others)
        list << named.value(name);
    QCOMPARE(renderOptionsRefusedBy(narrow, options, list), refusal);
}

void TestRenderer::backEndsDrawWhatTheyClaim_data()
{
    QTest::addColumn<RendererKind>("renderer");
    QTest::addColumn<QString>("option");
    QTest::addColumn<bool>("claimed");
    for (const RendererBackEnd *backEnd : rendererBackEnds()) {
        if (!backEnd->module)
            continue;
        const RendererAbilities &can = backEnd->can;
        const std::pair<const char *, bool> options[] = {{"trim box", (can.boxes & boxBit(PageBox::Trim)) != 0},
                                                         {"cmyk", can.cmyk},
                                                         {"no anti-aliasing", can.antialiasOff},
                                                         {"no annotations", can.annotationsOff},
                                                         {"alpha", can.alpha}};
        for (const auto &[option, claimed] : options)
            QTest::addRow("%s, %s", backEnd->name, option) << backEnd->kind << QString::fromLatin1(option) << claimed;
    }
}

// What a back-end says it can draw, it draws, and changes the pixels the way
// the option says; what it says it cannot, it refuses rather than ignores.
void TestRenderer::backEndsDrawWhatTheyClaim()
{
    QFETCH(RendererKind, renderer);
    QFETCH(QString, option);
    QFETCH(bool, claimed);

    RenderOptions options;
    if (option == "trim box")
        options.box = PageBox::Trim;
    else if (option == "cmyk")
        options.cmyk = true;
    else if (option == "no anti-aliasing")
        options.antialias = false;
    else if (option == "no annotations")
        options.annotations = false;
    else
        options.withoutPaper = true;

    const QString file = path("options.pdf");
    const RenderOpenResult asked = openForRendering(renderer, file, QByteArray(), options);
    if (!claimed) {
        QVERIFY(!renderOptionsRefused(renderer, options).isEmpty());
        QVERIFY(!asked.document);
        return;
    }
    QCOMPARE(renderOptionsRefused(renderer, options), QString());
    const RenderOpenResult plain = openForRendering(renderer, file, QByteArray());
    QVERIFY(asked.document && plain.document);
    const QImage drawn = drawWhole(*asked.document, 0, 72);
    const QImage usual = drawWhole(*plain.document, 0, 72);
    QVERIFY(!drawn.isNull() && !usual.isNull());
    QCOMPARE(usual.size(), QSize(200, 100));
    QCOMPARE(usual.format(), QImage::Format_RGB32);

    // Distinct colours of the hairline's square.
    const auto colours = [](const QImage &image) {
        QSet<QRgb> seen;
        for (int y = 10; y < 90; ++y) {
            for (int x = 10; x < 90; ++x)
                seen.insert(image.pixel(x, y));
        }
        return seen.size();
    };
    const QPoint annotation(165, 30); // within the Square's rectangle
    const QPoint blank(195, 5);
    if (option == "trim box") {
        QCOMPARE(drawn.size(), QSize(140, 60));
        // The same page from the trim box's corner. Anti-aliased edges may
        // fall a few levels apart where the library's sample grid starts
        // elsewhere; a page shifted by one pixel puts the hairline 255 apart.
        for (int y = 0; y < drawn.height(); ++y) {
            for (int x = 0; x < drawn.width(); ++x) {
                const QRgb a = drawn.pixel(x, y);
                const QRgb b = usual.pixel(x + 30, y + 20);
                const int apart = qMax(qAbs(qRed(a) - qRed(b)),
                                       qMax(qAbs(qGreen(a) - qGreen(b)), qAbs(qBlue(a) - qBlue(b))));
                if (apart > 32)
                    QFAIL(qPrintable(QStringLiteral("pixel (%1, %2): %3, the media box's %4")
                                         .arg(x).arg(y).arg(a, 8, 16).arg(b, 8, 16)));
            }
        }
    } else if (option == "cmyk") {
        QCOMPARE(drawn.size(), usual.size());
        const uchar *inks = drawn.constScanLine(75) + 115 * 4; // the CMYK fill
        const int expected[] = {51, 102, 153, 26};
        for (int i = 0; i < 4; ++i)
            QVERIFY2(qAbs(inks[i] - expected[i]) <= 2, qPrintable(QStringLiteral("ink %1: %2").arg(i).arg(inks[i])));
        const uchar *paper = drawn.constScanLine(blank.y()) + blank.x() * 4;
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(paper), 4), QByteArray(4, '\0')); // no ink
    } else if (option == "no anti-aliasing") {
        QVERIFY2(colours(usual) > 2, "the plain drawing has no grey beside the hairline");
        QCOMPARE(colours(drawn), 2); // black and white
    } else if (option == "no annotations") {
        QCOMPARE(usual.pixel(annotation), qRgb(255, 0, 0));
        QCOMPARE(drawn.pixel(annotation), qRgb(255, 255, 255));
        QCOMPARE(drawn.pixel(115, 75), usual.pixel(115, 75)); // the page's own drawing is kept
    } else {
        QCOMPARE(drawn.format(), QImage::Format_ARGB32_Premultiplied);
        QCOMPARE(usual.pixel(blank), qRgb(255, 255, 255));
        QCOMPARE(drawn.pixel(blank), qRgba(0, 0, 0, 0));
        QCOMPARE(drawn.pixel(annotation), qRgb(255, 0, 0)); // opaque where drawn
    }
}

#include "tst_renderer.moc"
