// The program run as pdftoppm against the real /usr/bin/pdftoppm on
// generated documents: the same file names, image sizes and modes, exit
// statuses and messages; standard output split into its pages. And the
// netpbm encoder's bytes.
#include "engine/image/imagecheck.h"
#include "engine/image/pnmencoder.h"
#include "support/popplertools.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Sizes that sit on either side of whole pixels at the usual resolutions,
// with odd decimals, rotations and a crop box smaller than the media box.
QStringList awkwardPages()
{
    return {"595,842", "612,792", "842,595,90", "300.5,200.25", "595.2756,841.8898", "1195.68,1054.51",
            "1151.56,868.08", "419.53,595.28,270", "333.3,444.4,180", "612,792,0,10.5,10.25,500.3,700.7",
            "100.001,50", "1,1"};
}

} // namespace

class TestPdftoppm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sameFilesAsPdftoppm_data();
    void sameFilesAsPdftoppm();
    void standardOutputSplitsIntoPages_data();
    void standardOutputSplitsIntoPages();
    void readerLeavingEndsTheRun();
    void failuresAsPdftoppm_data();
    void failuresAsPdftoppm();
    void stretchedLikePdftoppm_data();
    void stretchedLikePdftoppm();
    void grayAndMonoInColourFiles_data();
    void grayAndMonoInColourFiles();
    void pnmBytes_data();
    void pnmBytes();
    void pnmWholeFileCheck();

private:
    QString ours;
    QString real;
    QTemporaryDir folder;
};

void TestPdftoppm::initTestCase()
{
    ours = QStringLiteral(VELLORAN_PDFTOPPM);
    QVERIFY2(QFileInfo(ours).isExecutable(), qPrintable(ours));
    real = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"), {QStringLiteral("/usr/bin")});
    if (real.isEmpty())
        QSKIP("poppler-utils' pdftoppm is needed to compare with");
    QVERIFY(makeBoxesPdf(folder.filePath("twelve.pdf"), QStringList(12, QStringLiteral("595,842"))));
    QVERIFY(makeBoxesPdf(folder.filePath("awkward.pdf"), awkwardPages()));
    QVERIFY(makeBoxesPdf(folder.filePath("one.pdf"), {"612,792"}));
    // Sides in proportions whose scaled shorter side lands a hair above a whole pixel.
    QVERIFY(makeBoxesPdf(folder.filePath("ratios.pdf"), {"300,500", "600,1000", "240,400", "500,300", "333,555", "420,700"}));
}

void TestPdftoppm::sameFilesAsPdftoppm_data()
{
    QTest::addColumn<QString>("pdf");
    QTest::addColumn<QStringList>("arguments");
    const auto row = [](const char *name, const char *pdf, const QString &arguments) {
        QTest::newRow(name) << QString::fromLatin1(pdf) << arguments.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    };
    row("default 150 dpi ppm", "awkward.pdf", "");
    row("72 dpi", "awkward.pdf", "-r 72 -mono");
    row("300 dpi", "awkward.pdf", "-r 300 -mono");
    row("fractional dpi", "awkward.pdf", "-r 97.3 -mono");
    row("scale-to 100", "awkward.pdf", "-scale-to 100 -png");
    row("scale-to 1024", "awkward.pdf", "-scale-to 1024 -mono");
    row("scale-to 300, shorter side a hair above 180", "ratios.pdf", "-scale-to 300 -mono");
    row("scale-to 150", "ratios.pdf", "-scale-to 150 -mono");
    row("scale-to 100", "ratios.pdf", "-scale-to 100 -mono");
    row("scale-to with an area", "ratios.pdf", "-scale-to 300 -x 10 -y 5 -W 400 -H 400 -mono");
    // An area past the page's edge: the whole page.
    row("area past the right edge", "awkward.pdf", "-r 40 -x 5000 -y 3 -W 20 -H 20 -mono");
    row("area past the bottom edge", "awkward.pdf", "-r 40 -x 3 -y 5000 -mono");
    row("scale-to-x 400 keeps ratio", "one.pdf", "-scale-to-x 400 -scale-to-y -1 -png");
    // A quarter-turned page is scaled by its box's width before the turn.
    row("turned pages scaled to a width", "awkward.pdf", "-scale-to-x 300 -scale-to-y -1 -mono");
    row("turned pages scaled to a height", "awkward.pdf", "-scale-to-y 200 -scale-to-x -1 -mono");
    row("turned pages scaled to a height alone", "awkward.pdf", "-scale-to-y 120 -mono");
    // pdf2image's size=(w, h): two resolutions.
    row("scaled to a width and a height", "awkward.pdf", "-scale-to-x 300 -scale-to-y 200 -png");
    row("x and y resolutions", "awkward.pdf", "-rx 100 -ry 50 -mono");
    // -r is applied last, and to both only while one of them is still 150.
    row("-r and -rx", "one.pdf", "-r 40 -rx 90 -mono");
    row("-rx and -ry, then -r", "one.pdf", "-rx 20 -ry 30 -r 99 -mono");
    row("-r 0", "one.pdf", "-r 0 -mono");
    row("x and y resolutions, area", "awkward.pdf", "-rx 40 -ry 90 -x 5 -y 9 -W 30 -H 70 -gray");
    row("crop box", "awkward.pdf", "-cropbox -r 133 -mono");
    row("area x y W H", "awkward.pdf", "-x 13 -y 7 -W 200 -H 100 -r 100 -png");
    row("square area", "awkward.pdf", "-sz 64 -r 50 -gray");
    row("gray pgm", "awkward.pdf", "-gray -r 40");
    row("gray tiff", "one.pdf", "-gray -tiff -r 40");
    row("mono tiff", "one.pdf", "-mono -tiff -r 40");
    row("gray jpeg is colour", "one.pdf", "-gray -jpeg -r 40");
    row("gray png", "awkward.pdf", "-gray -png -r 40");
    row("mono png", "awkward.pdf", "-mono -png -r 40");
    row("jpeg", "awkward.pdf", "-jpeg -r 30 -f 2 -l 4");
    row("jpeg options", "one.pdf", "-jpeg -jpegopt quality=50,progressive=y -r 30");
    row("tiff", "one.pdf", "-tiff -r 20");
    row("padded to the last page's digits", "twelve.pdf", "-r 10 -f 7 -l 8");
    row("odd pages", "twelve.pdf", "-r 10 -o -l 5");
    row("even pages", "twelve.pdf", "-r 10 -e");
    row("last page past the end", "twelve.pdf", "-r 10 -f 11 -l 30");
    row("first page below one", "twelve.pdf", "-r 10 -f 0 -l 1");
    row("separator", "twelve.pdf", "-r 10 -sep _ -l 2");
    row("empty separator", "twelve.pdf", "-r 10 -sep \"\" -l 2");
    row("single file", "twelve.pdf", "-r 10 -singlefile -f 3");
    row("single file numbered", "twelve.pdf", "-r 10 -singlefile -forcenum -f 3");
    row("one-page document", "one.pdf", "-r 10");
    row("hidden annotations, no anti-aliasing", "one.pdf", "-r 10 -hide-annotations -aa no -aaVector no");
}

void TestPdftoppm::sameFilesAsPdftoppm()
{
    QFETCH(QString, pdf);
    QFETCH(QStringList, arguments);
    for (QString &argument : arguments)
        if (argument == QLatin1String("\"\""))
            argument.clear();
    QTemporaryDir theirs;
    QTemporaryDir mine;
    const ToolRun expected = runTool(real, arguments + QStringList{folder.filePath(pdf), theirs.filePath("out")}, theirs.path());
    const ToolRun actual = runTool(ours, arguments + QStringList{folder.filePath(pdf), mine.filePath("out")}, mine.path());
    QCOMPARE(actual.status, expected.status);
    const QStringList names = QDir(theirs.path()).entryList(QDir::Files, QDir::Name);
    QVERIFY(!names.isEmpty());
    QCOMPARE(QDir(mine.path()).entryList(QDir::Files, QDir::Name), names);
    for (const QString &name : names)
        QCOMPARE(name + QLatin1Char(' ') + fileHeader(mine.filePath(name)),
                 name + QLatin1Char(' ') + fileHeader(theirs.filePath(name)));
}

void TestPdftoppm::standardOutputSplitsIntoPages_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("ppm") << QStringList{"-r", "20"};
    QTest::newRow("pgm") << QStringList{"-r", "20", "-gray"};
    QTest::newRow("pbm") << QStringList{"-r", "33", "-mono"};
    QTest::newRow("png pages") << QStringList{"-r", "20", "-png", "-f", "2", "-l", "5"};
}

void TestPdftoppm::standardOutputSplitsIntoPages()
{
    QFETCH(QStringList, arguments);
    const ToolRun expected = runTool(real, arguments + QStringList{folder.filePath("awkward.pdf")}, folder.path());
    const ToolRun actual = runTool(ours, arguments + QStringList{folder.filePath("awkward.pdf")}, folder.path());
    QCOMPARE(actual.status, 0);
    QCOMPARE(actual.status, expected.status);
    QVERIFY(!expected.out.isEmpty());
    // Split as pdf2image splits it: each page's header tells where it ends.
    const auto split = [](const QByteArray &stream) {
        QStringList pages;
        if (stream.startsWith("\x89PNG")) {
            for (qsizetype at = 0; at >= 0 && at < stream.size(); at = stream.indexOf("\x89PNG", at + 1))
                pages << imageHeader(stream.mid(at, 64));
            return pages;
        }
        for (qsizetype at = 0; at < stream.size();) {
            qsizetype length = 0;
            pages << imageHeader(stream.mid(at), &length);
            if (length <= 0)
                break;
            at += length;
        }
        return pages;
    };
    QCOMPARE(split(actual.out), split(expected.out));
    // Netpbm's pages have one size for one image; PNG's follow the compression.
    if (!expected.out.startsWith("\x89PNG"))
        QCOMPARE(actual.out.size(), expected.out.size());
    // The pages drawn side by side come out whole and in order: the bytes of
    // the same pages written to files, one after another.
    QTemporaryDir files;
    QCOMPARE(runTool(ours, arguments + QStringList{folder.filePath("awkward.pdf"), files.filePath("p")}, files.path()).status, 0);
    QByteArray pages;
    for (const QString &name : QDir(files.path()).entryList(QDir::Files, QDir::Name)) {
        QFile page(files.filePath(name));
        QVERIFY(page.open(QIODevice::ReadOnly));
        pages += page.readAll();
    }
    QVERIFY(actual.out == pages);
}

// A reader that stops reading (a pipe into head) ends the run at once with
// a write failure: it is not taken for an interrupt, and the pages after are
// not drawn for nobody.
void TestPdftoppm::readerLeavingEndsTheRun()
{
    QProcess process;
    process.start(QStringLiteral("bash"), {QStringLiteral("-c"),
                                           QStringLiteral("\"$0\" -r 150 \"$1\" | head -c 1 >/dev/null; exit ${PIPESTATUS[0]}"),
                                           ours, folder.filePath("twelve.pdf")});
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 1);
    QCOMPARE(QString::fromUtf8(process.readAllStandardError()), QStringLiteral("Could not write image to (null); exiting\n"));
}

void TestPdftoppm::failuresAsPdftoppm_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("sameMessage");
    QTest::newRow("missing file") << QStringList{"missing.pdf", "out"} << true;
    QTest::newRow("not a PDF") << QStringList{"notapdf.pdf", "out"} << false;
    QTest::newRow("output folder missing") << QStringList{"one.pdf", "nowhere/out"} << true;
    QTest::newRow("first page after the last") << QStringList{"-f", "20", "twelve.pdf", "out"} << true;
    QTest::newRow("not a number") << QStringList{"-r", "abc", "one.pdf", "out"} << false;
    QTest::newRow("help") << QStringList{"-h"} << false;
    QTest::newRow("version") << QStringList{"-v"} << false;
    QTest::newRow("unknown option read as the file") << QStringList{"-bogus", "one.pdf"} << false;
    QTest::newRow("progress") << QStringList{"-progress", "-r", "5", "-l", "3", "twelve.pdf", "p"} << true;
    QTest::newRow("quiet") << QStringList{"-q", "missing.pdf", "out"} << true;
}

void TestPdftoppm::failuresAsPdftoppm()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, sameMessage);
    QFile notPdf(folder.filePath("notapdf.pdf"));
    QVERIFY(notPdf.open(QIODevice::WriteOnly));
    notPdf.write("garbage\n");
    notPdf.close();
    const ToolRun expected = runTool(real, arguments, folder.path());
    const ToolRun actual = runTool(ours, arguments, folder.path());
    QCOMPARE(actual.status, expected.status);
    if (sameMessage)
        QCOMPARE(QString::fromUtf8(actual.err), QString::fromUtf8(expected.err));
    else
        QCOMPARE(actual.err.isEmpty(), expected.err.isEmpty());
}

void TestPdftoppm::grayAndMonoInColourFiles_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("png, gray") << QStringList{"-png", "-gray"};
    QTest::newRow("png, mono") << QStringList{"-png", "-mono"};
    QTest::newRow("jpeg, gray") << QStringList{"-jpeg", "-gray"};
    QTest::newRow("jpeg, mono") << QStringList{"-jpeg", "-mono"};
    QTest::newRow("png, colour") << QStringList{"-png"};
}

// PNG and JPEG pages are stored in colour whatever -gray and -mono say, but
// their pixels are gray, or black and white, as pdftoppm's are: a script that
// asks for -png -mono gets what it can threshold no further.
void TestPdftoppm::grayAndMonoInColourFiles()
{
    QFETCH(QStringList, arguments);
    arguments << QStringList{"-r", "30", "-f", "1", "-l", "2"};
    // "black and white" (every channel 0 or 255), "gray" (the channels
    // within 8 of each other: JPEG's rounding) or "colour".
    const auto tones = [](const QString &path) {
        const QImage image = QImage(path).convertToFormat(QImage::Format_RGB32);
        bool gray = !image.isNull();
        bool blackAndWhite = gray;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QRgb pixel = image.pixel(x, y);
                const int r = qRed(pixel), g = qGreen(pixel), b = qBlue(pixel);
                gray = gray && qAbs(r - g) <= 8 && qAbs(g - b) <= 8;
                blackAndWhite = blackAndWhite && (r == 0 || r == 255) && r == g && g == b;
            }
        return QStringLiteral("%1 %2").arg(QFileInfo(path).fileName(),
                                           blackAndWhite ? "black and white" : gray ? "gray" : "colour");
    };
    QTemporaryDir theirs;
    QTemporaryDir mine;
    QCOMPARE(runTool(real, arguments + QStringList{folder.filePath("awkward.pdf"), theirs.filePath("p")}, theirs.path()).status, 0);
    QCOMPARE(runTool(ours, arguments + QStringList{folder.filePath("awkward.pdf"), mine.filePath("p")}, mine.path()).status, 0);
    const QStringList names = QDir(theirs.path()).entryList(QDir::Files, QDir::Name);
    QCOMPARE(QDir(mine.path()).entryList(QDir::Files, QDir::Name), names);
    for (const QString &name : names)
        QCOMPARE(tones(mine.filePath(name)), tones(theirs.filePath(name)));
}

void TestPdftoppm::stretchedLikePdftoppm_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("x and y resolutions") << QStringList{"-rx", "60", "-ry", "30"};
    QTest::newRow("y above x") << QStringList{"-rx", "20", "-ry", "75"};
    QTest::newRow("width and height") << QStringList{"-scale-to-x", "200", "-scale-to-y", "90"};
    QTest::newRow("turned, width") << QStringList{"-scale-to-x", "120", "-scale-to-y", "-1", "-f", "3", "-l", "3"};
}

// Pages drawn at two resolutions look like pdftoppm's, not merely have its
// size: under one byte in a hundred differs by more than a quarter of the
// gray scale (anti-aliased edges; a page drawn at its x resolution alone
// differs in more than one in eighty). Unturned
// pages: pdftoppm draws a turned page at two resolutions in an image of the
// other sides, and this program fills the image instead.
void TestPdftoppm::stretchedLikePdftoppm()
{
    QFETCH(QStringList, arguments);
    arguments << QStringList{"-gray", "-f", "1", "-l", "3"};
    const ToolRun expected = runTool(real, arguments + QStringList{folder.filePath("awkward.pdf")}, folder.path());
    const ToolRun actual = runTool(ours, arguments + QStringList{folder.filePath("awkward.pdf")}, folder.path());
    QCOMPARE(actual.status, 0);
    QCOMPARE(actual.out.size(), expected.out.size());
    qint64 different = 0;
    for (qsizetype i = 0; i < actual.out.size(); ++i)
        if (qAbs(int(uchar(actual.out.at(i))) - int(uchar(expected.out.at(i)))) > 64)
            ++different;
    QVERIFY2(different * 100 < actual.out.size(), qPrintable(QStringLiteral("%1 of %2 bytes differ")
                                                                 .arg(different).arg(actual.out.size())));
}

void TestPdftoppm::pnmBytes_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("expected");
    // A 10 x 2 image: the left half black, the right white; 1-bit rows pad to two bytes.
    QTest::newRow("ppm") << int(PixelMode::Color)
                         << QByteArray("P6\n10 2\n255\n") + QByteArray(15, '\0') + QByteArray(15, '\xff')
                                + QByteArray(15, '\0') + QByteArray(15, '\xff');
    QTest::newRow("pgm") << int(PixelMode::Gray)
                         << QByteArray("P5\n10 2\n255\n") + QByteArray(5, '\0') + QByteArray(5, '\xff')
                                + QByteArray(5, '\0') + QByteArray(5, '\xff');
    QTest::newRow("pbm") << int(PixelMode::Mono) << QByteArray("P4\n10 2\n\xf8\x00\xf8\x00", 12);
}

void TestPdftoppm::pnmBytes()
{
    QFETCH(int, mode);
    QFETCH(QByteArray, expected);
    QImage image(10, 2, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 5; ++x)
            image.setPixel(x, y, qRgb(0, 0, 0));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    PnmEncoder encoder;
    EncodeSettings settings;
    settings.width = 10;
    settings.height = 2;
    settings.mode = PixelMode(mode);
    QVERIFY(encoder.begin(&buffer, settings));
    QVERIFY(encoder.writeRows(image.constBits(), image.bytesPerLine(), 1));
    QVERIFY(encoder.writeRows(image.constScanLine(1), image.bytesPerLine(), 1));
    QVERIFY(encoder.finish());
    QCOMPARE(buffer.data().toHex(' '), expected.toHex(' '));
}

void TestPdftoppm::pnmWholeFileCheck()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("page.ppm");
    const QByteArray whole = QByteArray("P6\n3 2\n255\n") + QByteArray(18, 'x');
    const auto write = [&path](const QByteArray &bytes) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
    };
    QVERIFY(write(whole));
    QCOMPARE(whyNotWholeImage(path, ImageFormat::Ppm), QString());
    QVERIFY(write(whole.chopped(1)));
    QCOMPARE(whyNotWholeImage(path, ImageFormat::Ppm), QStringLiteral("cut short: 28 bytes of the 29 its PPM header gives"));
    QVERIFY(write(whole));
    QCOMPARE(whyNotWholeImage(path, ImageFormat::Pgm), QStringLiteral("not a PGM file"));
    QVERIFY(write(QByteArray("P4\n9 2\n") + QByteArray(4, '\0')));
    QCOMPARE(whyNotWholeImage(path, ImageFormat::Pbm), QString());
}

QTEST_GUILESS_MAIN(TestPdftoppm)
#include "tst_pdftoppm.moc"
