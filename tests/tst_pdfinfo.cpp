// The program run as pdfinfo against the real /usr/bin/pdfinfo on generated
// documents: the same lines, byte for byte, and the same exit statuses and
// messages.
#include "runner/taskprotocol.h"
#include "support/pdfmaker.h"
#include "support/popplertools.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A PDF of these objects (the first the catalog, the second the page tree),
// with these entries added to its trailer (an /Info dictionary).
bool writePdf(const QString &path, const QList<QByteArray> &objects, const QByteArray &trailer,
              const QByteArray &version = "1.4")
{
    return writePdfObjects(path, objects, version, trailer);
}

// Pages given as their dictionaries' extra entries ("/MediaBox [0 0 612 792] /Rotate 90").
bool writePages(const QString &path, const QByteArray &catalog, const QList<QByteArray> &pages,
                const QByteArray &trailer = QByteArray(), const QList<QByteArray> &more = {},
                const QByteArray &version = "1.4")
{
    QList<QByteArray> objects{"<< /Type /Catalog /Pages 2 0 R " + catalog + " >>"};
    QByteArray kids;
    for (int i = 0; i < pages.size(); ++i)
        kids += QByteArray::number(3 + i) + " 0 R ";
    objects << "<< /Type /Pages /Kids [" + kids + "] /Count " + QByteArray::number(pages.size()) + " >>";
    for (const QByteArray &page : pages)
        objects << "<< /Type /Page /Parent 2 0 R " + page + " >>";
    objects << more;
    return writePdf(path, objects, trailer, version);
}

bool qpdf(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("qpdf"), arguments);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit
           && process.exitCode() == 0;
}

} // namespace

class TestPdfinfo : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sameLinesAsPdfinfo_data();
    void sameLinesAsPdfinfo();
    void failuresAsPdfinfo_data();
    void failuresAsPdfinfo();
    void standardInput_data();
    void standardInput();
    void infoCrossesFromTheWorker();

private:
    QString ours;
    QString real;
    bool haveQpdf = false;
    QTemporaryDir folder;
};

void TestPdfinfo::initTestCase()
{
    ours = QStringLiteral(VELLORAN_PDFINFO);
    QVERIFY2(QFileInfo(ours).isExecutable(), qPrintable(ours));
    real = QStandardPaths::findExecutable(QStringLiteral("pdfinfo"), {QStringLiteral("/usr/bin")});
    if (real.isEmpty())
        QSKIP("poppler-utils' pdfinfo is needed to compare with");
    QVERIFY(folder.isValid());
    const auto path = [this](const char *name) { return folder.filePath(QString::fromLatin1(name)); };

    QVERIFY(writePages(path("bare.pdf"), "", {"/MediaBox [0 0 612 792]"}));
    // Every Info entry, marked content flags, rotations that need
    // normalising, a crop box inside the media box, boxes of each kind.
    QVERIFY(writePages(path("described.pdf"), "/MarkInfo << /Marked true >>",
                       {"/MediaBox [0 0 595.28 841.89] /Rotate 90",
                        "/MediaBox [0 0 200.5 100] /CropBox [10 10 150 90] /Rotate -90",
                        "/MediaBox [0 0 842 1191] /Rotate 180 /TrimBox [5 5 100 100]",
                        "/MediaBox [0 0 612 792] /Rotate 450 /BleedBox [1 2 3 4] /ArtBox [0.125 0.5 611.994 791.006]"},
                       "/Info 7 0 R",
                       {"<< /Title (A title) /Author (Someone) /Subject (Subj) /Keywords (k1 k2) /Creator (Maker)"
                        " /Producer (Prod) /CreationDate (D:20231105143000+01'00') /ModDate (D:20240101000000Z)"
                        " /Custom (x) >>"},
                       "1.7"));
    // UTF-16 and PDFDocEncoding text, dates with minutes of offset, without
    // a zone, and cut short; a metadata stream, a form and a page's script.
    QVERIFY(writePages(path("texts.pdf"), "/AcroForm << /Fields [] >> /Metadata 5 0 R /MarkInfo << /UserProperties true /Suspects true >>",
                       {"/MediaBox [0 0 100 100] /Annots [4 0 R]", },
                       "/Info << /Title <FEFF00E9004100200042> /Author (caf\xe9) /Trapped /True"
                       " /CreationDate (D:20200102030405+05'30') /ModDate (D:2020) >>",
                       {"<< /Type /Annot /Subtype /Link /Rect [0 0 10 10] /A << /S /JavaScript /JS (app.alert(1)) >> >>",
                        "<< /Type /Metadata /Subtype /XML /Length 5 >>\nstream\n<x/>\n\nendstream"}));
    QVERIFY(writePages(path("dates.pdf"), "", {"/MediaBox [0 0 612 792]"},
                       "/Info << /CreationDate (D:20200102030405) /ModDate (D:20200102030405-08'00) /Producer (x) >>"));
    QVERIFY(writePages(path("undated.pdf"), "", {"/MediaBox [0 0 612 792]"},
                       "/Info << /CreationDate (not a date) /ModDate (D:199) >>"));
    // Papers and near misses: letter within a point, ISO sizes A0 to A6
    // within a margin that shrinks with the size, and sizes past it.
    QList<QByteArray> papers;
    const QList<QSizeF> near{{612.9, 792.9}, {613.1, 792}, {611.01, 792}, {792, 612}, {2383.94, 3370.39},
                             {2393.65, 3372.05}, {1683.78, 2390.74}, {1191.72, 1680.45}, {419.53, 595.28},
                             {421.3, 595.28}, {297.64, 419.53}, {209.76, 297.64}, {595.276, 839.89},
                             {595.276, 844.89}, {100.123456, 50.5}, {1e-3, 14400}};
    for (const QSizeF &size : near)
        papers << "/MediaBox [0 0 " + QByteArray::number(size.width(), 'g', 9) + ' '
                      + QByteArray::number(size.height(), 'g', 9) + "]";
    // Each ISO paper as printed on it, a millimetre either way, and sizes
    // scattered across the margin's edges, the same for every run.
    const double points = 72 / 25.4;
    const QList<QSizeF> iso{{841, 1189}, {594, 841}, {420, 594}, {297, 420}, {210, 297}, {148, 210}, {105, 148}};
    for (const QSizeF &size : iso)
        for (const double by : {-1.0, 0.0, 1.0})
            papers << "/MediaBox [0 0 " + QByteArray::number((size.width() + by) * points, 'f', 3) + ' '
                          + QByteArray::number((size.height() - by) * points, 'f', 3) + "]";
    QRandomGenerator random(7);
    for (int size = 0; size < iso.size(); ++size) {
        const double spread = 14 / std::pow(std::sqrt(2.0), size);
        for (int i = 0; i < 40; ++i) {
            const double w = iso.at(size).width() * points + (random.generateDouble() * 2 - 1) * spread;
            const double h = iso.at(size).height() * points + (random.generateDouble() * 2 - 1) * spread;
            papers << "/MediaBox [0 0 " + QByteArray::number(w, 'f', 3) + ' ' + QByteArray::number(h, 'f', 3) + "]";
        }
    }
    QVERIFY(writePages(path("papers.pdf"), "", papers));

    haveQpdf = !QStandardPaths::findExecutable(QStringLiteral("qpdf")).isEmpty();
    if (haveQpdf) {
        QVERIFY(qpdf({"--linearize", path("described.pdf"), path("linearized.pdf")}));
        QVERIFY(qpdf({"--encrypt", "user", "owner", "256", "--print=none", "--modify=none", "--",
                      path("described.pdf"), path("aes256.pdf")}));
        QVERIFY(qpdf({"--encrypt", "user", "owner", "128", "--use-aes=y", "--extract=n", "--",
                      path("bare.pdf"), path("aes128.pdf")}));
        QVERIFY(qpdf({"--allow-weak-crypto", "--encrypt", "", "owner", "128", "--use-aes=n", "--annotate=n", "--",
                      path("bare.pdf"), path("rc4.pdf")}));
    }
    QFile damaged(path("damaged.pdf"));
    QVERIFY(damaged.open(QIODevice::WriteOnly));
    damaged.write("garbage\n");
}

void TestPdfinfo::sameLinesAsPdfinfo_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("zone");
    QTest::addColumn<bool>("needsQpdf");
    const auto row = [](const char *name, const QString &arguments, const char *zone = "UTC", bool qpdf = false) {
        QTest::newRow(name) << arguments.split(QLatin1Char(' '), Qt::SkipEmptyParts) << QString::fromLatin1(zone) << qpdf;
    };
    row("no info dictionary", "bare.pdf");
    row("info, flags, rotated first page", "described.pdf");
    row("every page", "-l 4 described.pdf");
    row("pages two to three", "-f 2 -l 3 described.pdf");
    row("first page past one without -l", "-f 2 described.pdf");
    row("last page past the end", "-l 40 described.pdf");
    row("negative last page", "-l -1 described.pdf");
    row("page zero", "-f 0 -l 0 described.pdf");
    row("boxes of the first page", "-box described.pdf");
    row("boxes of a later page", "-box -f 2 described.pdf");
    row("boxes of every page", "-box -l 4 described.pdf");
    row("dates in Paris", "described.pdf", "Europe/Paris");
    row("ISO dates", "-isodates described.pdf");
    row("raw dates", "-rawdates described.pdf");
    row("texts, form, script, metadata", "texts.pdf");
    row("texts, ISO dates", "-isodates texts.pdf");
    row("dates without zones", "dates.pdf", "America/New_York");
    row("dates without zones, ISO", "-isodates dates.pdf");
    row("dates that are not dates", "undated.pdf");
    row("papers", "-l 1000 papers.pdf");
    row("options after the file", "papers.pdf -l 3 -f 2");
    row("linearized", "linearized.pdf", "UTC", true);
    row("AES-256 with the user password", "-upw user aes256.pdf", "UTC", true);
    row("AES-256 with the owner password", "-opw owner -box aes256.pdf", "UTC", true);
    row("AES-128", "-upw user aes128.pdf", "UTC", true);
    row("RC4 without a user password", "rc4.pdf", "UTC", true);
}

void TestPdfinfo::sameLinesAsPdfinfo()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, zone);
    QFETCH(bool, needsQpdf);
    if (needsQpdf && !haveQpdf)
        QSKIP("qpdf is needed to make this document");
    const ToolRun expected = runTool(real, arguments, folder.path(), QByteArray(), zone);
    const ToolRun actual = runTool(ours, arguments, folder.path(), QByteArray(), zone);
    QCOMPARE(expected.status, 0);
    QCOMPARE(actual.status, expected.status);
    // Line by line first, so that a difference names its line.
    const QList<QByteArray> mine = actual.out.split('\n');
    const QList<QByteArray> theirs = expected.out.split('\n');
    for (qsizetype i = 0; i < qMin(mine.size(), theirs.size()); ++i)
        QCOMPARE(QString::fromUtf8(mine.at(i)), QString::fromUtf8(theirs.at(i)));
    QCOMPARE(actual.out, expected.out);
}

void TestPdfinfo::failuresAsPdfinfo_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("sameMessage");
    QTest::addColumn<bool>("needsQpdf");
    QTest::newRow("missing file") << QStringList{"missing.pdf"} << 1 << true << false;
    QTest::newRow("a folder") << QStringList{"."} << 1 << false << false;
    QTest::newRow("not a PDF") << QStringList{"damaged.pdf"} << 1 << true << false;
    QTest::newRow("first page after the last") << QStringList{"-f", "3", "-l", "2", "described.pdf"} << 99 << true << false;
    QTest::newRow("first page past the end") << QStringList{"-f", "5", "described.pdf"} << 99 << true << false;
    QTest::newRow("not a number") << QStringList{"-f", "x", "bare.pdf"} << 99 << false << false;
    QTest::newRow("no file") << QStringList{} << 99 << false << false;
    QTest::newRow("two files") << QStringList{"bare.pdf", "bare.pdf"} << 99 << false << false;
    QTest::newRow("value missing") << QStringList{"bare.pdf", "-l"} << 99 << false << false;
    QTest::newRow("help") << QStringList{"-h"} << 0 << false << false;
    QTest::newRow("version") << QStringList{"-v"} << 0 << false << false;
    QTest::newRow("no password") << QStringList{"aes256.pdf"} << 1 << true << true;
    QTest::newRow("wrong password") << QStringList{"-upw", "wrong", "aes256.pdf"} << 1 << true << true;
}

void TestPdfinfo::failuresAsPdfinfo()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(bool, sameMessage);
    QFETCH(bool, needsQpdf);
    if (needsQpdf && !haveQpdf)
        QSKIP("qpdf is needed to make this document");
    const ToolRun expected = runTool(real, arguments, folder.path(), QByteArray(), QStringLiteral("UTC"));
    const ToolRun actual = runTool(ours, arguments, folder.path(), QByteArray(), QStringLiteral("UTC"));
    QCOMPARE(expected.status, status);
    QCOMPARE(actual.status, expected.status);
    QCOMPARE(actual.out, expected.out);
    if (sameMessage)
        QCOMPARE(QString::fromUtf8(actual.err), QString::fromUtf8(expected.err));
    else
        QCOMPARE(actual.err.isEmpty(), expected.err.isEmpty());
}

void TestPdfinfo::standardInput_data()
{
    QTest::addColumn<QString>("pdf");
    QTest::newRow("a document") << QStringLiteral("described.pdf");
    QTest::newRow("nothing") << QString();
}

// "-" reads the document from standard input, as pdfinfo does.
void TestPdfinfo::standardInput()
{
    QFETCH(QString, pdf);
    QByteArray bytes;
    if (!pdf.isEmpty()) {
        QFile file(folder.filePath(pdf));
        QVERIFY(file.open(QIODevice::ReadOnly));
        bytes = file.readAll();
    }
    const QStringList arguments{"-box", "-"};
    const ToolRun expected = runTool(real, arguments, folder.path(), bytes, QStringLiteral("UTC"));
    const ToolRun actual = runTool(ours, arguments, folder.path(), bytes, QStringLiteral("UTC"));
    QCOMPARE(actual.status, expected.status);
    QCOMPARE(actual.out, expected.out);
    QCOMPARE(QString::fromUtf8(actual.err), QString::fromUtf8(expected.err));
}

// What a worker reads reaches the program whole: read back and sent again,
// a result gives the same bytes, every field set to what no default is; one
// that says it has more pages than it holds is refused.
void TestPdfinfo::infoCrossesFromTheWorker()
{
    TaskResult result;
    result.outcome.result = PageOutcome::Written;
    for (QString *text : {&result.outcome.outputPath, &result.outcome.heldAt, &result.outcome.detail,
                          &result.outcome.redoneBecause, &result.outcome.renderer})
        *text = QStringLiteral("-");
    PdfDocumentInfo &info = result.info;
    info.status = PdfLoadStatus::Loaded;
    info.title = QStringLiteral("T\u00e9");
    info.subject = QStringLiteral("S");
    info.keywords = QString(QLatin1String("")); // present and empty: a line with nothing after it
    info.author = QStringLiteral("A");
    info.creator = QStringLiteral("C");
    info.producer = QStringLiteral("P");
    info.creationDate = "D:2020";
    info.modDate = QByteArray("", 0);
    info.customMetadata = info.metadataStream = info.tagged = info.userProperties = info.suspects = true;
    info.form = PdfDocumentInfo::XfaForm;
    info.documentJavaScript = info.encrypted = info.linearized = true;
    info.mayPrint = info.mayCopy = info.mayChange = info.mayAddNotes = false;
    info.encryption = QStringLiteral("AES-256");
    info.pageCount = 2;
    info.fileSize = qint64(5) << 32;
    info.majorVersion = 2;
    info.minorVersion = 0;
    PdfPageInfo page;
    page.mediaBox = {0.1, 0.2, 612.3, 792.4};
    page.cropBox = {1, 2, 3, 4};
    page.bleedBox = {5, 6, 7, 8};
    page.trimBox = {9, 10, 11, 12};
    page.artBox = {13, 14, 15, 16};
    page.rotation = 270;
    page.javaScript = true;
    info.pages = {page, PdfPageInfo()};

    const QByteArray frame = TaskProtocol::frame(result);
    const std::optional<TaskResult> back = TaskProtocol::readResult(frame.mid(4));
    QVERIFY(back);
    QCOMPARE(TaskProtocol::frame(*back), frame);
    QCOMPARE(back->info.title, info.title);
    QVERIFY(!back->info.keywords.isNull());
    QVERIFY(back->info.subject != back->info.keywords);
    QCOMPARE(back->info.pages.size(), 2);
    QCOMPARE(back->info.pages.at(0).mediaBox.y2, 792.4);
    QCOMPARE(back->info.pages.at(0).rotation, 270);

    // The count of pages is the four bytes before the pages, which end the
    // message: each is 20 doubles, a rotation and a flag.
    QByteArray body = frame.mid(4);
    const qsizetype countAt = body.size() - 2 * (20 * 8 + 4 + 1) - 4;
    QCOMPARE(body.at(countAt + 3), char(2));
    body[countAt + 3] = char(3);
    QVERIFY(!TaskProtocol::readResult(body));
}

QTEST_GUILESS_MAIN(TestPdfinfo)
#include "tst_pdfinfo.moc"
