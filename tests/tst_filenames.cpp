#include "document/opendocument.h"
#include "conversion/process.h"
#include "engine/nativepath.h"
#include "engine/render/pdfdocument.h"
#include "support/pdfmaker.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>


// What the window hands its worker thread along with the path; the thread
// draws from the path alone.
static const OpenDocument openedDocument;
namespace {

// A shell word that printf turns back into exactly these bytes, so that the
// program gets them in argv untouched by any decoding on the way.
QByteArray shellBytes(const QByteArray &bytes)
{
    QByteArray word = "\"$(printf '%b' '";
    for (unsigned char c : bytes)
        word += "\\0" + QByteArray::number(c, 8).rightJustified(3, '0');
    return word + "')\"";
}

QByteArrayList namesIn(const QByteArray &folder)
{
    QByteArrayList names;
    if (DIR *dir = opendir(folder.constData())) {
        while (dirent *entry = readdir(dir)) {
            const QByteArray name(entry->d_name);
            if (name != "." && name != "..")
                names << name;
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool isUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(bytes);
    return !decoder.hasError();
}

} // namespace

class TestFileNames : public QObject
{
    Q_OBJECT

private slots:
    void keepsBytesThatAreNotUtf8_data();
    void keepsBytesThatAreNotUtf8();
    void nativePathWorksOnBytes_data();
    void nativePathWorksOnBytes();
    void ownFileInAnyFolder();
    void commandLineConvertsAnyName_data();
    void commandLineConvertsAnyName();
    void windowWorkerWritesAnyName();
};

void TestFileNames::keepsBytesThatAreNotUtf8_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("decoded");
    QTest::addColumn<QString>("shown");

    const auto kept = [](char16_t byte) { return QChar(char16_t(0xDC00 + byte)); };
    QTest::newRow("ascii") << QByteArray("out/a.pdf") << QStringLiteral("out/a.pdf") << QStringLiteral("out/a.pdf");
    QTest::newRow("utf-8") << QByteArray("caf\xc3\xa9") << QStringLiteral("caf\u00e9") << QStringLiteral("caf\u00e9");
    QTest::newRow("four-byte utf-8") << QByteArray("\xf0\x9f\x98\x80") << QString::fromUtf8("\xf0\x9f\x98\x80")
                                     << QString::fromUtf8("\xf0\x9f\x98\x80");
    QTest::newRow("latin-1") << QByteArray("caf\xe9-\xe0") << QStringLiteral("caf") + kept(0xe9) + '-' + kept(0xe0)
                             << QStringLiteral("caf\\xe9-\\xe0");
    QTest::newRow("lone continuation") << QByteArray("\x80x") << kept(0x80) + QStringLiteral("x")
                                       << QStringLiteral("\\x80x");
    QTest::newRow("cut sequence") << QByteArray("a\xe2\x82") << QStringLiteral("a") + kept(0xe2) + kept(0x82)
                                  << QStringLiteral("a\\xe2\\x82");
    QTest::newRow("overlong slash") << QByteArray("\xc0\xaf") << QString(kept(0xc0)) + kept(0xaf)
                                    << QStringLiteral("\\xc0\\xaf");
    QTest::newRow("encoded surrogate") << QByteArray("\xed\xb3\xa9") << QString(kept(0xed)) + kept(0xb3) + kept(0xa9)
                                       << QStringLiteral("\\xed\\xb3\\xa9");
    QTest::newRow("past unicode") << QByteArray("\xf4\x90\x80\x80")
                                  << QString(kept(0xf4)) + kept(0x90) + kept(0x80) + kept(0x80)
                                  << QStringLiteral("\\xf4\\x90\\x80\\x80");
}

void TestFileNames::keepsBytesThatAreNotUtf8()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, decoded);
    QFETCH(QString, shown);
    QCOMPARE(pathFromNative(bytes), decoded);
    QCOMPARE(nativePath(decoded), bytes);
    QCOMPARE(displayPath(decoded), shown);
}

// What the window and the command line do to a path from outside before it
// reaches a file: made absolute in a working folder whose name is not UTF-8
// either, split, joined, read from a dropped URL, all by bytes.
void TestFileNames::nativePathWorksOnBytes_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QByteArray>("path");   // "~" stands for the working folder
    QTest::addColumn<QByteArray>("result"); // the same

    QTest::newRow("relative made absolute") << "absolute" << QByteArray("caf\xe9.pdf") << QByteArray("~/caf\xe9.pdf");
    QTest::newRow("dots taken out") << "absolute" << QByteArray("./a\xe0//b/../caf\xe9.pdf")
                                    << QByteArray("~/a\xe0/caf\xe9.pdf");
    QTest::newRow("absolute cleaned") << "absolute" << QByteArray("/x\xe9//y/./../z") << QByteArray("/x\xe9/z");
    QTest::newRow("no parent above the root") << "absolute" << QByteArray("/../\xe9") << QByteArray("/\xe9");
    QTest::newRow("folder") << "folder" << QByteArray("/opt/b\xe9n/velloran-cli") << QByteArray("/opt/b\xe9n");
    QTest::newRow("folder of a bare name") << "folder" << QByteArray("caf\xe9") << QByteArray(".");
    QTest::newRow("folder at the root") << "folder" << QByteArray("/caf\xe9") << QByteArray("/");
    QTest::newRow("joined") << "join velloran-cli" << QByteArray("/opt/b\xe9n") << QByteArray("/opt/b\xe9n/velloran-cli");
    QTest::newRow("dropped URL") << "url" << QByteArray("file:///tmp/caf%E9%20x.pdf") << QByteArray("/tmp/caf\xe9 x.pdf");
    QTest::newRow("remote URL") << "url" << QByteArray("https://host/caf%E9.pdf") << QByteArray();
}

void TestFileNames::nativePathWorksOnBytes()
{
    QFETCH(QString, operation);
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, result);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const auto removeAll = qScopeGuard([&dir] { QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), dir.path()}); });
    const QByteArray working = QFile::encodeName(dir.path()) + "/w\xe9rk";
    QVERIFY(::mkdir(working.constData(), 0777) == 0);
    const QString before = QDir::currentPath();
    QVERIFY(::chdir(working.constData()) == 0);
    const auto back = qScopeGuard([&before] { QDir::setCurrent(before); });

    NativePath made;
    if (operation == QLatin1String("absolute"))
        made = NativePath(path).absolute();
    else if (operation == QLatin1String("folder"))
        made = NativePath(path).folder();
    else if (operation == QLatin1String("url"))
        made = NativePath::fromLocalFileUrl(QUrl::fromEncoded(path));
    else
        made = NativePath(path).joined(operation.section(QLatin1Char(' '), 1).toUtf8());
    QCOMPARE(made.bytes(), QByteArray(result).replace('~', working));
}

// The program finds its own file, where it starts its workers from, in a
// folder whose name is not UTF-8: a copy of this test run from there.
void TestFileNames::ownFileInAnyFolder()
{
    const QByteArray expected = QByteArray::fromHex(qgetenv("VELLORAN_TEST_OWN_FILE"));
    if (!expected.isEmpty()) {
        // The copy: the path it was started by, read back as bytes.
        const NativePath own = NativePath::runningExecutable();
        QCOMPARE(own.bytes(), expected);
        QVERIFY(own.folder().joined(own.fileName()).exists());
        return;
    }
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const auto removeAll = qScopeGuard([&dir] { QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), dir.path()}); });
    const QByteArray folder = QFile::encodeName(dir.path()) + "/b\xe9n";
    const QByteArray copy = folder + "/tst_filenames";
    QVERIFY(::mkdir(folder.constData(), 0777) == 0);
    QFile self(QCoreApplication::applicationFilePath());
    QVERIFY(self.open(QIODevice::ReadOnly));
    const int fd = ::open(copy.constData(), O_WRONLY | O_CREAT | O_EXCL, 0755);
    QVERIFY(fd >= 0);
    const QByteArray program = self.readAll();
    const bool whole = ::write(fd, program.constData(), size_t(program.size())) == program.size();
    ::close(fd);
    QVERIFY(whole);

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VELLORAN_TEST_OWN_FILE"), QString::fromLatin1(copy.toHex()));
    child.setProcessEnvironment(environment);
    // The program's name through /bin/sh, so that its bytes reach execve untouched.
    child.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QString::fromLatin1("exec " + shellBytes(copy) + " ownFileInAnyFolder")});
    QVERIFY(child.waitForFinished(120000));
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
             child.readAllStandardOutput() + child.readAllStandardError());
}

void TestFileNames::commandLineConvertsAnyName_data()
{
    QTest::addColumn<QByteArray>("name");   // of the PDF, without .pdf
    QTest::addColumn<QByteArray>("folder"); // given with -o
    QTest::addColumn<QString>("shown");     // the name in the JSON report
    QTest::addColumn<bool>("isPdf");        // false: the file is refused

    QTest::newRow("latin-1") << QByteArray("caf\xe9-\xe0") << QByteArray("out") << QStringLiteral("caf\\xe9-\\xe0")
                             << true;
    QTest::newRow("lone continuation") << QByteArray("\x80lone") << QByteArray("out") << QStringLiteral("\\x80lone")
                                       << true;
    QTest::newRow("utf-8") << QByteArray("caf\xc3\xa9") << QByteArray("out") << QStringLiteral("caf\u00e9") << true;
    QTest::newRow("latin-1 folder") << QByteArray("plain") << QByteArray("d\xe9j\xe0/sub")
                                    << QStringLiteral("plain") << true;
    QTest::newRow("latin-1, refused") << QByteArray("caf\xe9-\xe0") << QByteArray("out")
                                      << QStringLiteral("caf\\xe9-\\xe0") << false;
}

void TestFileNames::commandLineConvertsAnyName()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, folder);
    QFETCH(QString, shown);
    QFETCH(bool, isPdf);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // QTemporaryDir cannot remove what it cannot name.
    const auto removeAll = qScopeGuard([&dir] { QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), dir.path()}); });
    const QByteArray root = QFile::encodeName(dir.path()) + '/';
    if (isPdf) {
        QVERIFY(makePdf(dir.filePath(QStringLiteral("made.pdf")), 2));
    } else {
        QFile notPdf(dir.filePath(QStringLiteral("made.pdf")));
        QVERIFY(notPdf.open(QIODevice::WriteOnly));
        notPdf.write("%PDF-1.4\nnot the rest of a PDF file\n");
    }
    QVERIFY(::rename((root + "made.pdf").constData(), (root + name + ".pdf").constData()) == 0);

    // In the C locale, where nothing but ASCII has a meaning.
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(dir.path());
    const QByteArray command = "exec \"$0\" -q --json -j 1 -t png -r 20 -o " + shellBytes(folder) + ' '
                               + shellBytes(name + ".pdf");
    process.start(QStringLiteral("sh"), {QStringLiteral("-c"), QString::fromLatin1(command), QStringLiteral(VELLORAN_CLI)});
    QVERIFY(process.waitForFinished(60000));
    const QByteArray out = process.readAllStandardOutput();
    QVERIFY2(process.exitCode() == (isPdf ? 0 : 1), process.readAllStandardError().constData());

    // Each line is JSON a strict reader takes: UTF-8, no escaped lone
    // surrogate (which Qt writes for a QString holding a name's raw bytes,
    // and which jq and Python refuse), the name's bytes shown as \xNN.
    QVERIFY(isUtf8(out));
    QVERIFY2(!out.contains("\\u"), out.constData());
    const QList<QByteArray> lines = out.trimmed().split('\n');
    QCOMPARE(lines.size(), isPdf ? 3 : 2);
    QJsonParseError error;
    const QJsonObject first = QJsonDocument::fromJson(lines.first(), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(first.value(QStringLiteral("file")).toString(), shown + QStringLiteral(".pdf"));
    if (!isPdf) {
        QCOMPARE(first.value(QStringLiteral("status")).toString(), QStringLiteral("refused"));
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("out"))));
        return;
    }

    QCOMPARE(namesIn(root + folder), QByteArrayList({name + "_1.png", name + "_2.png"}));
    QFile page;
    const int fd = ::open((root + folder + '/' + name + "_1.png").constData(), O_RDONLY);
    QVERIFY(fd >= 0 && page.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
    QCOMPARE(page.read(8), QByteArray("\x89PNG\r\n\x1a\n"));

    QCOMPARE(first.value(QStringLiteral("status")).toString(), QStringLiteral("written"));
    QVERIFY(first.value(QStringLiteral("output")).toString().endsWith(shown + QStringLiteral("_1.png")));
}

// The window's worker, given a document opened by such a name, names its
// files with the document's own bytes, in a folder named the same way.
void TestFileNames::windowWorkerWritesAnyName()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const auto removeAll = qScopeGuard([&dir] { QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), dir.path()}); });
    const QByteArray root = QFile::encodeName(dir.path()) + '/';
    QVERIFY(makePdf(dir.filePath(QStringLiteral("made.pdf")), 2));
    QVERIFY(::rename((root + "made.pdf").constData(), (root + "r\xe9sum\xe9.pdf").constData()) == 0);
    QVERIFY(::mkdir((root + "sortie-\xe9").constData(), 0777) == 0);

    const QString pdfPath = pathFromNative(root + "r\xe9sum\xe9.pdf");
    const PdfLoadResult loaded = loadPdf(pdfPath);
    QCOMPARE(loaded.status, PdfLoadStatus::Loaded);
    Process process;
    process.pdfDoc = &openedDocument; // the window's, as it would be
    process.qsPdfFile = pdfPath;
    process.qsOutputDir = pathFromNative(root + "sortie-\xe9");
    process.qsExtension = QStringLiteral("png");
    process.resolution = 20;
    process.pageList = {1, 0};
    process.start();
    QVERIFY(process.wait(QDeadlineTimer(60000)));
    QCOMPARE(process.convertedCount, 2u);
    QCOMPARE(namesIn(root + "sortie-\xe9"), QByteArrayList({"r\xe9sum\xe9_1.png", "r\xe9sum\xe9_2.png"}));
}

QTEST_MAIN(TestFileNames)
#include "tst_filenames.moc"
