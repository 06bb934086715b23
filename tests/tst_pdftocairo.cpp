// The program run as pdftocairo against the real /usr/bin/pdftocairo on
// generated documents: the same file names, image sizes, pixel modes and
// pixels (within what two renderers' anti-aliasing makes of an edge), exit
// statuses and messages; standard input and output with -singlefile.
#include "support/popplertools.h"
#include "support/readback.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// How much of stderr the two must share.
enum class Said { Same, LastLine, Either };

// Sizes on either side of whole pixels at the usual resolutions, with odd
// decimals, rotations and a crop box smaller than the media box.
QStringList awkwardPages()
{
    return {"595,842", "612,792", "842,595,90", "300.5,200.25", "595.2756,841.8898", "1195.68,1054.51",
            "1151.56,868.08", "419.53,595.28,270", "333.3,444.4,180", "612,792,0,10.5,10.25,500.3,700.7",
            "100.001,50", "1,1"};
}

// Sides whose pixels at 150 and 300 ppi land on a whole number, or a hair
// past it, as Poppler's parser reads the decimals (25.92 reads below 25.92).
QStringList roundingPages()
{
    return {"1423.8804,25.92", "272,408", "60,571", "216,184,90", "1464.035,1440.24,180", "522.48,1107,180",
            "30,916.15,90", "419,228,270"};
}

DecodedImage decoded(const QString &path)
{
    if (path.endsWith(QLatin1String(".png")))
        return readPng(path);
    if (path.endsWith(QLatin1String(".jpg")))
        return readJpeg(path);
    return readTiff(path);
}

QStringList filesIn(const QString &folder, bool empty)
{
    QStringList names;
    const QDir dir(folder);
    for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
        if ((QFileInfo(dir.filePath(name)).size() == 0) == empty)
            names << name;
    return names;
}

QString lastLine(const QByteArray &text)
{
    return QString::fromUtf8(text).trimmed().section(QLatin1Char('\n'), -1);
}

// Why two drawings of a page are not the same picture, or nothing: their
// samples may differ by more than a quarter of the scale in one of 33, along
// the edges that cairo's and MuPDF's anti-aliasing draw differently; a page
// shifted, inverted, stretched or drawn without its alpha is far past it.
// Pages a few pixels across are held to their size alone: one renderer's
// anti-aliasing is the whole picture there.
QString pictureDifference(const DecodedImage &actual, const DecodedImage &expected)
{
    if (actual.width != expected.width || actual.height != expected.height || actual.channels != expected.channels
        || !actual.error.isEmpty() || !expected.error.isEmpty())
        return QStringLiteral("%1x%2x%3 (%4) against %5x%6x%7 (%8)")
            .arg(actual.width).arg(actual.height).arg(actual.channels).arg(actual.error)
            .arg(expected.width).arg(expected.height).arg(expected.channels).arg(expected.error);
    if (actual.width < 8 || actual.height < 8)
        return QString();
    qint64 far = 0;
    for (qsizetype i = 0; i < actual.samples.size(); ++i)
        if (qAbs(int(uchar(actual.samples.at(i))) - int(uchar(expected.samples.at(i)))) > 64)
            ++far;
    if (far * 33 <= actual.samples.size())
        return QString();
    return QStringLiteral("%1 of %2 samples differ by more than 64").arg(far).arg(actual.samples.size());
}

} // namespace

class TestPdftocairo : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void pagesAsPdftocairo_data();
    void pagesAsPdftocairo();
    void refusalsAsPdftocairo_data();
    void refusalsAsPdftocairo();
    void standardStreamsAsPdftocairo_data();
    void standardStreamsAsPdftocairo();
    void vectorTypesRefused_data();
    void vectorTypesRefused();
    void profileNamedAsIgnored();

private:
    // Runs both with arguments ("@name": the document name in the test's
    // folder), each in a folder of its own, and compares what they said and wrote.
    void compareRuns(const QStringList &arguments, Said said);
    QStringList withDocuments(QStringList arguments) const;

    QString ours;
    QString real;
    QTemporaryDir folder;
};

void TestPdftocairo::initTestCase()
{
    ours = QStringLiteral(VELLORAN_PDFTOCAIRO);
    QVERIFY2(QFileInfo(ours).isExecutable(), qPrintable(ours));
    real = QStandardPaths::findExecutable(QStringLiteral("pdftocairo"), {QStringLiteral("/usr/bin")});
    if (real.isEmpty())
        QSKIP("poppler-utils' pdftocairo is needed to compare with");
    QVERIFY(makeBoxesPdf(folder.filePath("awkward.pdf"), awkwardPages()));
    QVERIFY(makeBoxesPdf(folder.filePath("rounding.pdf"), roundingPages()));
    QVERIFY(makeBoxesPdf(folder.filePath("twelve.pdf"), QStringList(12, QStringLiteral("595,842"))));
    QVERIFY(makeBoxesPdf(folder.filePath("one.pdf"), {"612,792"}));
    QVERIFY(makeBoxesPdf(folder.filePath("Report.PDF"), {"300,200", "200,300"}));
    // The shorter side scaled lands a hair above a whole pixel, or on it.
    QVERIFY(makeBoxesPdf(folder.filePath("ratios.pdf"), {"300,500", "600,1000", "500,300", "333,555", "420,700"}));
    // At -scale-to-x 300 the second page is 81650 pixels tall: past cairo's largest.
    QVERIFY(makeBoxesPdf(folder.filePath("tall.pdf"), {"100,100", "1.659,451.52", "100,100"}));
    QFile notPdf(folder.filePath("notapdf.pdf"));
    QVERIFY(notPdf.open(QIODevice::WriteOnly));
    notPdf.write("garbage\n");
    notPdf.close();
    QFile notProfile(folder.filePath("notaprofile.icc"));
    QVERIFY(notProfile.open(QIODevice::WriteOnly));
    notProfile.write(QByteArray(200, 'x'));
    notProfile.close();
    const QString data = qEnvironmentVariable("VELLORAN_TEST_DATA");
    QVERIFY(QFile::copy(data + QStringLiteral("/user-password.pdf"), folder.filePath("locked.pdf")));
    QVERIFY(QFile::copy(data + QStringLiteral("/count-3-two-kids.pdf"), folder.filePath("missingpage.pdf")));
}

QStringList TestPdftocairo::withDocuments(QStringList arguments) const
{
    for (QString &argument : arguments) {
        if (argument.startsWith(QLatin1Char('@')))
            argument = folder.filePath(argument.mid(1));
        else if (argument == QLatin1String("\"\""))
            argument.clear();
    }
    return arguments;
}

void TestPdftocairo::compareRuns(const QStringList &given, Said said)
{
    const QStringList arguments = withDocuments(given);
    QTemporaryDir theirs;
    QTemporaryDir mine;
    const ToolRun expected = runTool(real, arguments, theirs.path());
    const ToolRun actual = runTool(ours, arguments, mine.path());
    QCOMPARE(actual.status, expected.status);
    switch (said) {
    case Said::Same:
        QCOMPARE(QString::fromUtf8(actual.err), QString::fromUtf8(expected.err));
        break;
    case Said::LastLine:
        QCOMPARE(lastLine(actual.err), lastLine(expected.err));
        break;
    case Said::Either:
        QCOMPARE(actual.err.isEmpty(), expected.err.isEmpty());
        break;
    }
    // pdftocairo leaves an empty file where it gave up on a page; this
    // program leaves nothing there.
    QCOMPARE(filesIn(mine.path(), true), QStringList());
    const QStringList names = filesIn(theirs.path(), false);
    QCOMPARE(filesIn(mine.path(), false), names);
    for (const QString &name : names) {
        QCOMPARE(name + QLatin1Char(' ') + fileHeader(mine.filePath(name)),
                 name + QLatin1Char(' ') + fileHeader(theirs.filePath(name)));
        const QString difference = pictureDifference(decoded(mine.filePath(name)), decoded(theirs.filePath(name)));
        QVERIFY2(difference.isEmpty(), qPrintable(name + QStringLiteral(": ") + difference));
    }
}

void TestPdftocairo::pagesAsPdftocairo_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("said");
    const auto row = [](const char *name, const QString &arguments, Said said = Said::Same) {
        QTest::newRow(name) << arguments.split(QLatin1Char(' '), Qt::SkipEmptyParts) << int(said);
    };
    // Sizes: pdftocairo turns the page, then scales it in double precision.
    row("72 ppi", "-png -r 72 @awkward.pdf out");
    row("fractional ppi", "-png -r 37.3 @awkward.pdf out");
    row("sides as Poppler reads them, 150 ppi", "-png -r 150 -gray @rounding.pdf out");
    row("sides as Poppler reads them, 300 ppi", "-png -r 300 -mono @rounding.pdf out");
    row("scale-to: the shorter side rounded up", "-png -scale-to 300 @ratios.pdf out");
    row("scale-to: the longer side a pixel over", "-png -scale-to 100 -gray @awkward.pdf out");
    row("turned pages scaled to a width", "-png -scale-to-x 200 -scale-to-y -1 -gray @awkward.pdf out");
    row("turned pages scaled to a height", "-png -scale-to-y 150 -scale-to-x -1 -gray @awkward.pdf out");
    row("scaled to a width and a height", "-png -scale-to-x 160 -scale-to-y 120 @awkward.pdf out");
    row("x and y resolutions, turned pages", "-png -rx 40 -ry 20 -gray @awkward.pdf out");
    row("-r while -ry is 150", "-png -r 20 -rx 45 @one.pdf out");
    row("-r after -rx and -ry", "-png -rx 20 -ry 30 -r 99 @one.pdf out");
    row("crop box", "-png -cropbox -r 33 @awkward.pdf out");
    row("area", "-png -x 13 -y 7 -W 120 -H 80 -r 60 -f 2 -l 11 @awkward.pdf out");
    row("square area", "-png -sz 64 -r 50 -gray @awkward.pdf out");
    row("area from before the page's corner", "-png -x -30 -y -20 -r 40 @one.pdf out");
    row("area with scale-to", "-png -scale-to 300 -x 10 -y 5 -W 400 -H 400 -gray @ratios.pdf out");
    // A page whose image would have no pixels or more than cairo holds: the
    // pages before it are written, then it stops.
    row("area past a page's edge", "-png -x 13 -y 7 -W 20 -H 20 -r 30 @awkward.pdf out", Said::LastLine);
    row("area past the first page's edge", "-png -r 40 -x 5000 @awkward.pdf out", Said::LastLine);
    row("past cairo's largest side", "-png -scale-to-x 300 -scale-to-y -1 @tall.pdf out", Said::LastLine);
    row("a page the document lacks", "-png -r 5 @missingpage.pdf out", Said::LastLine);
    // Modes.
    row("gray png", "-png -gray -r 20 @awkward.pdf out");
    row("mono png", "-png -mono -r 20 @awkward.pdf out");
    row("transparent png", "-png -transp -r 20 -l 4 @awkward.pdf out");
    row("transparent wins over gray", "-png -transp -gray -r 20 -l 2 @awkward.pdf out");
    row("jpeg", "-jpeg -r 20 -l 4 @awkward.pdf out");
    row("gray jpeg", "-jpeg -gray -r 20 -l 2 @awkward.pdf out");
    row("jpeg options", "-jpeg -jpegopt quality=50,progressive=y,optimize=y -r 30 @one.pdf out");
    row("tiff", "-tiff -r 20 -l 4 @awkward.pdf out");
    row("gray tiff", "-tiff -gray -r 20 -l 2 @awkward.pdf out");
    row("mono tiff", "-tiff -mono -r 20 -l 2 @awkward.pdf out");
    row("transparent tiff", "-tiff -transp -r 20 -l 2 @awkward.pdf out");
    row("no anti-aliasing", "-png -antialias none -r 30 @one.pdf out");
    // Names.
    row("padded to the last page's digits", "-png -r 10 -f 7 -l 9 @twelve.pdf out");
    row("odd pages", "-png -r 10 -o -l 5 @twelve.pdf out");
    row("even pages", "-png -r 10 -e -f 3 @twelve.pdf out");
    row("last page past the end", "-png -r 10 -f 11 -l 30 @twelve.pdf out");
    row("first page below one", "-png -r 10 -f 0 -l 1 @twelve.pdf out");
    row("single file", "-png -r 10 -singlefile -f 3 @twelve.pdf out");
    row("single file of a range", "-png -r 10 -singlefile -f 3 -l 5 @twelve.pdf out");
    row("single file of a range, quiet", "-png -r 10 -singlefile -f 3 -l 5 -q @twelve.pdf out");
    row("one-page document", "-tiff -r 10 @one.pdf out");
    row("named after the document", "-png -r 30 @Report.PDF");
    row("options after the files", "@twelve.pdf out -png -r 10 -l 1");
    row("owner password", "-png -r 10 -opw owner @locked.pdf out");
    row("user password", "-png -r 10 -upw secret @locked.pdf out");
}

void TestPdftocairo::pagesAsPdftocairo()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, said);
    compareRuns(arguments, Said(said));
}

void TestPdftocairo::refusalsAsPdftocairo_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("said");
    const auto row = [](const char *name, const QString &arguments, Said said = Said::Same) {
        QTest::newRow(name) << arguments.split(QLatin1Char(' '), Qt::SkipEmptyParts) << int(said);
    };
    row("missing file", "-png missing.pdf out");
    row("missing file, quiet", "-png -q missing.pdf out");
    row("not a PDF", "-png @notapdf.pdf out", Said::LastLine);
    row("wrong password", "-png -upw wrong @locked.pdf out");
    row("no password", "-png @locked.pdf out");
    row("output folder missing", "-png -r 10 @one.pdf nowhere/out");
    row("first page after the last", "-png -f 20 @twelve.pdf out");
    row("no document's pages", "-png -f 3 -l 2 -q @twelve.pdf out");
    row("no type", "@one.pdf out");
    row("two types", "-png -tiff @one.pdf out");
    row("a PostScript option", "-png -paperw 100 -nocrop @one.pdf out");
    row("antialias value", "-png -antialias bogus @one.pdf out");
    row("-icc with jpeg", "-jpeg -icc x.icc @one.pdf out");
    row("-transp with jpeg", "-jpeg -transp @one.pdf out");
    row("mono and gray", "-png -mono -gray @one.pdf out");
    row("-mono with jpeg", "-jpeg -mono @one.pdf out");
    row("-jpegopt with png", "-png -jpegopt quality=5 @one.pdf out");
    row("jpeg quality", "-jpeg -jpegopt quality=101 @one.pdf out");
    row("jpeg option", "-jpeg -jpegopt quality @one.pdf out");
    row("-tiffcompression with png", "-png -tiffcompression lzw @one.pdf out");
    row("standard output without -singlefile", "-png @one.pdf -");
    row("standard input without an output", "-png -");
    row("an output name from a folder's", "-png ./");
    row("profile missing", "-png -icc missing.icc @one.pdf out");
    row("not a profile", "-png -icc @notaprofile.icc @one.pdf out");
    row("value not a number", "-png -r abc @one.pdf out");
    row("value missing", "-png -f");
    row("unknown option read as the file", "-png -bogus @one.pdf");
    // pdftocairo's copyright lines stand for this program's own line.
    row("too many arguments", "-png @one.pdf out more", Said::Either);
    row("options ended by --", "-png -- -l 1 @one.pdf out", Said::Either);
    row("help", "-h", Said::Either);
    row("version", "-v", Said::Either);
}

void TestPdftocairo::refusalsAsPdftocairo()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, said);
    compareRuns(arguments, Said(said));
}

void TestPdftocairo::standardStreamsAsPdftocairo_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("fromStandardInput");
    QTest::addColumn<QString>("extension");
    QTest::newRow("png out") << QStringList{"-png", "-r", "20", "-singlefile", "@awkward.pdf", "-"} << false
                             << QStringLiteral("png");
    QTest::newRow("jpeg out, a later page") << QStringList{"-jpeg", "-r", "20", "-singlefile", "-f", "3", "@awkward.pdf", "-"}
                                            << false << QStringLiteral("jpg");
    QTest::newRow("gray png out") << QStringList{"-png", "-gray", "-r", "20", "-singlefile", "@awkward.pdf", "-"} << false
                                  << QStringLiteral("png");
    QTest::newRow("in and out") << QStringList{"-png", "-transp", "-r", "20", "-singlefile", "-", "-"} << true
                                << QStringLiteral("png");
}

void TestPdftocairo::standardStreamsAsPdftocairo()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, fromStandardInput);
    QFETCH(QString, extension);
    QByteArray input;
    if (fromStandardInput) {
        QFile pdf(folder.filePath("awkward.pdf"));
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        input = pdf.readAll();
    }
    QTemporaryDir work;
    const ToolRun expected = runTool(real, withDocuments(arguments), work.path(), input);
    const ToolRun actual = runTool(ours, withDocuments(arguments), work.path(), input);
    QCOMPARE(actual.status, 0);
    QCOMPARE(actual.status, expected.status);
    QCOMPARE(actual.err, expected.err);
    QCOMPARE(filesIn(work.path(), false), QStringList());
    const auto keep = [&work, &extension](const char *name, const QByteArray &bytes) {
        const QString path = work.filePath(QLatin1String(name) + QLatin1Char('.') + extension);
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() ? path : QString();
    };
    const QString theirs = keep("theirs", expected.out);
    const QString mine = keep("mine", actual.out);
    QCOMPARE(fileHeader(mine), fileHeader(theirs));
    const QString difference = pictureDifference(decoded(mine), decoded(theirs));
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void TestPdftocairo::vectorTypesRefused_data()
{
    QTest::addColumn<QString>("type");
    for (const char *type : {"-pdf", "-ps", "-eps", "-svg"})
        QTest::newRow(type) << QString::fromLatin1(type);
}

// The vector types are pdftocairo's and not this program's: one line that
// names the type, the status of a usage error, nothing written.
void TestPdftocairo::vectorTypesRefused()
{
    QFETCH(QString, type);
    QTemporaryDir work;
    const ToolRun run = runTool(ours, {type, folder.filePath("one.pdf"), QStringLiteral("out")}, work.path());
    QCOMPARE(run.status, 99);
    QCOMPARE(run.err.count('\n'), 1);
    QVERIFY2(run.err.contains(type.toLatin1() + " is not available"), run.err.constData());
    QCOMPARE(QDir(work.path()).entryList(QDir::Files), QStringList());
}

// A profile that reads as one is accepted and named as ignored; the pages
// are those written without it.
void TestPdftocairo::profileNamedAsIgnored()
{
    QByteArray profile(128, '\0');
    profile.replace(36, 4, "acsp");
    QFile file(folder.filePath("header.icc"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(profile);
    file.close();
    QTemporaryDir theirs;
    QTemporaryDir mine;
    const QStringList arguments{"-png", "-r", "20", folder.filePath("one.pdf"), "out"};
    const ToolRun expected = runTool(real, arguments, theirs.path());
    const ToolRun actual = runTool(ours, QStringList{"-icc", file.fileName()} + arguments, mine.path());
    QCOMPARE(actual.status, 0);
    QCOMPARE(actual.status, expected.status);
    QCOMPARE(actual.err, QByteArray("pdftocairo: -icc is ignored: this program cannot honour it\n"));
    QCOMPARE(filesIn(mine.path(), false), filesIn(theirs.path(), false));
    QCOMPARE(fileHeader(mine.filePath("out-1.png")), fileHeader(theirs.filePath("out-1.png")));
}

QTEST_GUILESS_MAIN(TestPdftocairo)
#include "tst_pdftocairo.moc"
