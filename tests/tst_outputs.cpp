#include "engine/atomicfile.h"
#include "engine/image/pixelconvert.h"
#include "engine/image/pngencoder.h"
#include "engine/image/tiffencoder.h"
#include "engine/pagepipeline.h"
#include "engine/render/popplerview.h"
#include "engine/pixelsize.h"
#include "engine/render/pagerenderer.h"
#include "engine/render/pdfdocument.h"
#include "support/drawingpdf.h"
#include "support/pdfmaker.h"
#include "support/readback.h"

#include <poppler-qt6.h>

#include <QBuffer>
#include <QDir>
#include <QImageReader>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(ImageFormat)
Q_DECLARE_METATYPE(PixelMode)
Q_DECLARE_METATYPE(PixelLayout)

namespace {

const std::atomic<bool> notStopped{false};

// What a file of the image should hold: each row put in the mode's layout by
// the pixel conversions (checked on their own against worked values), 1-bit
// pixels spread to 0 and 255 as the readers give them.
DecodedImage expectedRows(const QImage &drawn, PixelMode mode)
{
    DecodedImage expected;
    expected.width = drawn.width();
    expected.height = drawn.height();
    expected.channels = mode == PixelMode::Color ? 3 : mode == PixelMode::ColorAlpha ? 4 : 1;
    expected.samples.resize(qsizetype(expected.width) * expected.height * expected.channels);
    QByteArray packed(qsizetype(packedRowBytes(mode, expected.width)), '\0');
    for (int y = 0; y < expected.height; ++y) {
        auto *to = const_cast<uchar *>(expected.row(y));
        if (mode != PixelMode::Mono) {
            convertRow(mode, PixelLayout::Pixels32, drawn.constScanLine(y), to, expected.width);
            continue;
        }
        const auto *bits = reinterpret_cast<const uchar *>(packed.constData());
        convertRow(mode, PixelLayout::Pixels32, drawn.constScanLine(y), reinterpret_cast<uchar *>(packed.data()),
                   expected.width);
        for (int x = 0; x < expected.width; ++x)
            to[x] = (bits[x / 8] >> (7 - x % 8)) & 1 ? 255 : 0;
    }
    return expected;
}

// What the file of a page should hold: the page drawn whole, each row put in
// the mode's layout by the pixel conversions (checked on their own against
// worked values), 1-bit pixels spread to 0 and 255 as the readers give them.
DecodedImage expectedFile(const Poppler::Document *document, double dpi, PixelMode mode)
{
    const PageRenderer page(document, 0);
    const PixelSize size = pixelSizeAt(page.sizeInPoints(), dpi);
    // With alpha when the document draws without paper.
    const QImage drawn = page.render(dpi, QRect(0, 0, size.width, size.height), notStopped);
    if (drawn.size() != QSize(size.width, size.height)) {
        DecodedImage failed;
        failed.error = QStringLiteral("the page could not be drawn");
        return failed;
    }
    return expectedRows(drawn, mode);
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// The pixel layouts and formats beyond plain colour files: gray, 1-bit,
// alpha, WebP and many pages in one TIFF, each read back as a viewer would.
class TstOutputs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void pixelConversions_data();
    void tonesKeepTheLayout_data();
    void tonesKeepTheLayout();
    void pixelConversions();
    void losslessFilesMatchDrawing_data();
    void losslessFilesMatchDrawing();
    void pngPiecesReadBack_data();
    void pngPiecesReadBack();
    void packedRowsWriteTheSameBytes_data();
    void packedRowsWriteTheSameBytes();
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

// Each pixel layout on hand-worked values: BT.601 weights of 77, 150 and 29
// 256ths with rounding, 1 bit from half luminance up, leftmost in the high
// bit, and alpha taken out of the colour with rounding to the nearest level.
void TstOutputs::pixelConversions_data()
{
    QTest::addColumn<PixelMode>("mode");
    QTest::addColumn<QList<quint32>>("pixels"); // Format_RGB32, or premultiplied ARGB32 for alpha
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("colour in R, G, B order") << PixelMode::Color << QList<quint32>{0xff102030, 0xfffe0001}
                                             << QByteArray::fromHex("102030 fe0001");
    // 255 * 77 / 256 = 76.7: 77 with rounding; red and blue swapped give 29 and 77.
    QTest::newRow("gray of red, green, blue, white, black, (200, 100, 50)")
        << PixelMode::Gray << QList<quint32>{0xffff0000, 0xff00ff00, 0xff0000ff, 0xffffffff, 0xff000000, 0xffc86432}
        << QByteArray::fromHex("4d 95 1d ff 00 7c");
    // Gray 128 is white, 127 black; red (77) black, green (149) white.
    QTest::newRow("1-bit threshold and bit order")
        << PixelMode::Mono
        << QList<quint32>{0xff808080, 0xff7f7f7f, 0xffffffff, 0xff000000, 0xffff0000, 0xff00ff00, 0xff0000ff,
                          0xffffffff, 0xffffffff, 0xff000000}
        << QByteArray::fromHex("a5 80");
    QList<quint32> wide(264, 0xffffffff);
    wide[259] = 0xff000000;
    QTest::newRow("1-bit past a run of 256") << PixelMode::Mono << wide
                                              << QByteArray(32, char(0xff)) + QByteArray::fromHex("ef");
    // (64 * 255 + 64) / 128 = 128; truncated it would be 127.
    QTest::newRow("alpha unmultiplied with rounding")
        << PixelMode::ColorAlpha << QList<quint32>{0x80402010, 0xc8646464, 0x01010000, 0x00000000, 0xff123456}
        << QByteArray::fromHex("80402080 808080c8 ff000001 00000000 123456ff");
}

void TstOutputs::pixelConversions()
{
    QFETCH(PixelMode, mode);
    QFETCH(QList<quint32>, pixels);
    QFETCH(QByteArray, expected);

    QByteArray row(qsizetype(packedRowBytes(mode, pixels.size())), '\x5a');
    QCOMPARE(row.size(), expected.size());
    convertRow(mode, PixelLayout::Pixels32, reinterpret_cast<const uchar *>(pixels.constData()),
               reinterpret_cast<uchar *>(row.data()), int(pixels.size()));
    QCOMPARE(row.toHex(' '), expected.toHex(' '));
}

void TstOutputs::tonesKeepTheLayout_data()
{
    QTest::addColumn<PixelLayout>("layout");
    QTest::addColumn<PixelMode>("tone");
    QTest::addColumn<QByteArray>("expected"); // a value a pixel, in every channel
    // Red, green, blue, white, (200, 100, 50): the gray mode's luminance, and
    // its threshold (124 is black, 149 white).
    for (const auto &[layout, name] : {std::pair{PixelLayout::Rgb24, "rgb"}, std::pair{PixelLayout::Bgr24, "bgr"},
                                        std::pair{PixelLayout::Pixels32, "32-bit"}}) {
        QTest::newRow(qPrintable(QStringLiteral("%1, gray").arg(name))) << layout << PixelMode::Gray
                                                                          << QByteArray::fromHex("4d 95 1d ff 7c");
        QTest::newRow(qPrintable(QStringLiteral("%1, mono").arg(name))) << layout << PixelMode::Mono
                                                                          << QByteArray::fromHex("00 ff 00 ff 00");
    }
}

// Gray, or black and white, pixels stored in colour (pdftoppm's PNG and JPEG
// with -gray or -mono): each pixel's channels all hold what the gray or 1-bit
// mode makes of it, whichever order the drawing's layout keeps them in.
void TstOutputs::tonesKeepTheLayout()
{
    QFETCH(PixelLayout, layout);
    QFETCH(PixelMode, tone);
    QFETCH(QByteArray, expected);
    const QList<QRgb> colours{qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255), qRgb(255, 255, 255), qRgb(200, 100, 50)};
    const int size = layout == PixelLayout::Pixels32 ? 4 : 3;
    QByteArray row;
    for (const QRgb colour : colours) {
        if (layout == PixelLayout::Pixels32) {
            const quint32 pixel = colour;
            row.append(reinterpret_cast<const char *>(&pixel), 4);
        } else {
            const char rgb[3] = {char(qRed(colour)), char(qGreen(colour)), char(qBlue(colour))};
            const char bgr[3] = {rgb[2], rgb[1], rgb[0]};
            row.append(layout == PixelLayout::Rgb24 ? rgb : bgr, 3);
        }
    }
    toneRow(tone, layout, reinterpret_cast<uchar *>(row.data()), int(colours.size()));
    QByteArray toned;
    for (qsizetype i = 0; i < colours.size(); ++i) {
        const QByteArray pixel = row.mid(i * size, 3);
        QVERIFY2(pixel == QByteArray(3, pixel.at(0)), qPrintable(QStringLiteral("pixel %1: %2").arg(i).arg(QString::fromLatin1(pixel.toHex(' ')))));
        if (size == 4)
            QCOMPARE(uchar(row.at(i * size + 3)), uchar(0xff)); // alpha kept
        toned += pixel.at(0);
    }
    QCOMPARE(toned.toHex(' '), expected.toHex(' '));
}

// Every lossless file, decoded by the format's own library, holds exactly
// the rows that were drawn: whole, and in bands of 16 rows whose edges fall
// on the test card's hairlines.
void TstOutputs::losslessFilesMatchDrawing_data()
{
    QTest::addColumn<ImageFormat>("format");
    QTest::addColumn<PixelMode>("mode");
    QTest::addColumn<QSizeF>("page");
    QTest::addColumn<double>("resolution");
    QTest::addColumn<int>("bandRows"); // 0: drawn whole
    QTest::addColumn<int>("threads");  // the page's threads, which its encoder may use

    const struct
    {
        ImageFormat format;
        const char *name;
    } formats[] = {{ImageFormat::Png, "png"}, {ImageFormat::Bmp, "bmp"}, {ImageFormat::Tiff, "tiff"}};
    const struct
    {
        PixelMode mode;
        const char *name;
    } modes[] = {{PixelMode::Color, "colour"}, {PixelMode::Gray, "gray"}, {PixelMode::Mono, "1-bit"},
                 {PixelMode::ColorAlpha, "alpha"}};
    const QSizeF card(240, 160);
    for (const auto &format : formats) {
        for (const auto &mode : modes) {
            if (!formatStores(format.format, mode.mode))
                continue;
            QTest::addRow("%s %s", format.name, mode.name) << format.format << mode.mode << card << 72.0 << 0 << 1;
            QTest::addRow("%s %s in bands", format.name, mode.name) << format.format << mode.mode << card << 72.0 << 16
                                                                     << 1;
        }
    }
    // A colour row of 300000 bytes, more than a strip's 256 KiB: one row a strip.
    QTest::newRow("tiff colour 100000 px wide") << ImageFormat::Tiff << PixelMode::Color << QSizeF(14400, 8) << 500.0
                                               << 0 << 1;
    // 100000 x 125 pixels, 37.5 MB of rows: past what PNG deflates whole, so
    // streamed in pieces of 1 MiB that end mid-row, across bands of 16 rows,
    // deflated on two threads; the bytes are those of one thread.
    QTest::newRow("png colour in pieces on 2 threads") << ImageFormat::Png << PixelMode::Color << QSizeF(14400, 18)
                                                       << 500.0 << 16 << 2;
}

void TstOutputs::losslessFilesMatchDrawing()
{
    QFETCH(ImageFormat, format);
    QFETCH(PixelMode, mode);
    QFETCH(QSizeF, page);
    QFETCH(double, resolution);
    QFETCH(int, bandRows);
    QFETCH(int, threads);

    const QString pdf = dir.filePath(QStringLiteral("card-%1x%2.pdf").arg(page.width()).arg(page.height()));
    if (!QFileInfo::exists(pdf))
        QVERIFY(makeTestCardPdf(pdf, page));
    PdfLoadResult loaded = loadPdf(pdf);
    QVERIFY(loaded.document);
    loaded.document->setRenderHint(Poppler::Document::IgnorePaperColor, mode == PixelMode::ColorAlpha);
    const DecodedImage expected = expectedFile(loaded.document.get(), resolution, mode);
    QVERIFY2(expected.error.isEmpty(), qPrintable(expected.error));

    PageJob job;
    job.outputPath = dir.filePath(QStringLiteral("card.out"));
    job.format = format;
    job.mode = mode;
    job.resolution = resolution;
    if (bandRows > 0)
        job.bandBudget = bandBytes(expected.width, bandRows + 2 * bandMargin);
    job.bandThreads = threads;
    const PageOutcome outcome = convertPage(*popplerView(loaded.document.get()), job, notStopped);
    QVERIFY2(outcome.result == PageOutcome::Written, qPrintable(outcome.detail));
    if (threads > 1) {
        PageJob alone = job;
        alone.outputPath = dir.filePath(QStringLiteral("card-one-thread.out"));
        alone.bandThreads = 1;
        const PageOutcome one = convertPage(*popplerView(loaded.document.get()), alone, notStopped);
        QVERIFY2(one.result == PageOutcome::Written, qPrintable(one.detail));
        QVERIFY2(fileBytes(alone.outputPath) == fileBytes(job.outputPath), "more threads wrote other bytes");
    }

    const DecodedImage file = format == ImageFormat::Png ? readPng(job.outputPath)
                              : format == ImageFormat::Bmp ? readBmp(job.outputPath)
                                                           : readTiff(job.outputPath);
    const QString differences = imageDifferences(file, expected);
    QVERIFY2(differences.isEmpty(), qPrintable(differences));
}

// The pieces of a streamed PNG at their edges: pieces smaller than deflate's
// 32 KiB window (each primed from several before it), rows longer than a
// piece, band edges elsewhere, every layout. Rows of noise, repeats of rows
// far back and gradients make deflate reach across pieces. Read back by
// libpng pixel for pixel, and the same bytes on one thread and on three.
void TstOutputs::pngPiecesReadBack_data()
{
    QTest::addColumn<PixelMode>("mode");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("pieceBytes");
    QTest::addColumn<int>("bandRows");

    QTest::newRow("colour, pieces of 1000 bytes") << PixelMode::Color << 300 << 1000 << 7;
    QTest::newRow("colour, a row over five pieces") << PixelMode::Color << 1000 << 700 << 5;
    QTest::newRow("gray") << PixelMode::Gray << 513 << 4096 << 9;
    QTest::newRow("1-bit, pieces of 50 bytes") << PixelMode::Mono << 1001 << 50 << 3;
    QTest::newRow("alpha, pieces past the window") << PixelMode::ColorAlpha << 257 << 65536 << 64;
}

void TstOutputs::pngPiecesReadBack()
{
    QFETCH(PixelMode, mode);
    QFETCH(int, width);
    QFETCH(int, pieceBytes);
    QFETCH(int, bandRows);

    const int height = 240;
    QImage image(width, height, mode == PixelMode::ColorAlpha ? QImage::Format_ARGB32_Premultiplied
                                                              : QImage::Format_RGB32);
    QRandomGenerator random(11);
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<quint32 *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const quint32 alpha = mode == PixelMode::ColorAlpha ? quint32(x * 255 / width) : 255;
            quint32 pixel = 0;
            if (y % 5 == 0)
                pixel = random.generate(); // noise
            else if (y % 5 == 1 && y > 40)
                pixel = reinterpret_cast<const quint32 *>(image.constScanLine(y - 40))[x]; // 40 rows back
            else
                pixel = quint32(x * 7 + y) << 8 | quint32(y * 3);
            row[x] = qPremultiply((pixel & 0xffffff) | alpha << 24);
        }
    }
    const DecodedImage expected = expectedRows(image, mode);

    QByteArray written[2];
    const int threadCounts[2] = {1, 3};
    for (int i = 0; i < 2; ++i) {
        const QString path = dir.filePath(QStringLiteral("pieces-%1.png").arg(threadCounts[i]));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        PngEncoder encoder(0, pieceBytes);
        EncodeSettings settings{width, height, 72, 75, mode, {}, threadCounts[i]};
        QVERIFY2(encoder.begin(&file, settings), qPrintable(encoder.errorString()));
        for (int top = 0; top < height; top += bandRows) {
            QVERIFY2(encoder.writeRows(image.constScanLine(top), image.bytesPerLine(), qMin(bandRows, height - top)),
                     qPrintable(encoder.errorString()));
        }
        QVERIFY2(encoder.finish(), qPrintable(encoder.errorString()));
        file.close();
        const QString differences = imageDifferences(readPng(path), expected);
        QVERIFY2(differences.isEmpty(), qPrintable(differences));
        written[i] = fileBytes(path);
    }
    QVERIFY2(written[0] == written[1], "three threads wrote other bytes than one");
}

// Rows drawn in the layout an encoder takes write the bytes that 32-bit rows
// of the same picture write, for every format and mode it stores: red and
// blue in their places, 1 bit cut from gray where it is cut from colour, rows
// 32-bit aligned with padding (an odd width), fed in bands. Gray and 1-bit
// pictures are gray, so that both conversions agree to the level.
void TstOutputs::packedRowsWriteTheSameBytes_data()
{
    QTest::addColumn<ImageFormat>("format");
    QTest::addColumn<PixelMode>("mode");
    QTest::addColumn<PixelLayout>("layout"); // of the packed rows

    const struct
    {
        ImageFormat format;
        const char *name;
    } formats[] = {{ImageFormat::Jpeg, "jpg"}, {ImageFormat::Png, "png"}, {ImageFormat::Bmp, "bmp"},
                   {ImageFormat::Tiff, "tiff"}, {ImageFormat::WebP, "webp"}};
    const struct
    {
        PixelMode mode;
        const char *name;
    } modes[] = {{PixelMode::Color, "colour"}, {PixelMode::Gray, "gray"}, {PixelMode::Mono, "1-bit"}};
    for (const auto &format : formats) {
        for (const auto &mode : modes) {
            if (!formatStores(format.format, mode.mode))
                continue;
            const PixelLayout layout = makeEncoder(format.format)->layoutFor(mode.mode);
            QTest::addRow("%s %s", format.name, mode.name) << format.format << mode.mode << layout;
        }
    }
    // Not what BMP asks for, but what it must take.
    QTest::newRow("bmp colour from R, G, B") << ImageFormat::Bmp << PixelMode::Color << PixelLayout::Rgb24;
}

void TstOutputs::packedRowsWriteTheSameBytes()
{
    QFETCH(ImageFormat, format);
    QFETCH(PixelMode, mode);
    QFETCH(PixelLayout, layout);
    QVERIFY(layout != PixelLayout::Pixels32);

    const int width = 37;
    const int height = 29;
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(5);
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<quint32 *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const quint32 noise = random.generate();
            const quint32 level = (noise & 0xff) / 2 + quint32(x * 3); // around the 1-bit threshold
            row[x] = mode == PixelMode::Color ? 0xff000000 | noise : qRgb(int(level), int(level), int(level));
        }
    }
    const QImage packed = image.convertToFormat(QImage::Format(imageFormatFor(layout)));
    QCOMPARE(int(packed.format()), int(imageFormatFor(layout)));
    QVERIFY(packed.bytesPerLine() > packedRowBytes(mode, width)); // padded

    QByteArray written[2];
    const QImage *sources[2] = {&image, &packed};
    for (int i = 0; i < 2; ++i) {
        QBuffer buffer(&written[i]);
        QVERIFY(buffer.open(QIODevice::WriteOnly));
        const std::unique_ptr<RowEncoder> encoder = makeEncoder(format);
        EncodeSettings settings{width, height, 72, 75, mode, {}, 1};
        settings.layout = i == 0 ? PixelLayout::Pixels32 : layout;
        QVERIFY2(encoder->begin(&buffer, settings), qPrintable(encoder->errorString()));
        for (int top = 0; top < height; top += 8) {
            QVERIFY2(encoder->writeRows(sources[i]->constScanLine(top), sources[i]->bytesPerLine(),
                                        qMin(8, height - top)),
                     qPrintable(encoder->errorString()));
        }
        QVERIFY2(encoder->finish(), qPrintable(encoder->errorString()));
    }
    QVERIFY(!written[0].isEmpty());
    QVERIFY2(written[1] == written[0], "packed rows wrote other bytes than 32-bit rows");
}

void TstOutputs::modesReadBack_data()
{
    QTest::addColumn<ImageFormat>("format");
    QTest::addColumn<PixelMode>("mode");
    QTest::addColumn<int>("quality");
    QTest::addColumn<int>("depth"); // bits a pixel as read back: 8 (gray) or 32

    QTest::newRow("jpg gray") << ImageFormat::Jpeg << PixelMode::Gray << 75 << 8;
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
    const PageOutcome outcome = convertPage(*popplerView(loaded.document.get()), job, notStopped);
    QCOMPARE(outcome.result, PageOutcome::Written);

    QImageReader reader(job.outputPath);
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(image.size(), QSize(413, 585));
    QCOMPARE(image.hasAlphaChannel(), alpha);
    QCOMPARE(image.isGrayscale(), depth == 8);
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
    const PageOutcome outcome = convertPage(*popplerView(loaded.document.get()), job, notStopped);
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
        const PageOutcome outcome = appendPage(*popplerView(loaded.document.get()), job, encoder, file.device(), notStopped);
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
    QCOMPARE(convertPage(*popplerView(loaded.document.get()), job, notStopped).result, PageOutcome::Written);
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
    const PageOutcome outcome = convertPage(*popplerView(loaded.document.get()), job, notStopped);
    QCOMPARE(outcome.result, PageOutcome::TimedOut);
    QCOMPARE(outcome.detail, QStringLiteral("timed out after 0.2 s"));
    QVERIFY(!QFileInfo::exists(job.outputPath));
    QCOMPARE(QDir(dir.path()).entryList({QStringLiteral(".*.tmp")}, QDir::Files | QDir::Hidden), QStringList());
}

QTEST_MAIN(TstOutputs)
#include "tst_outputs.moc"
