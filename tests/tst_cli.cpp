#include "document/opendocument.h"
#include "cli/batchjob.h"
#include "cli/cliapp.h"
#include "cli/workerconversion.h"
#include "conversion/process.h"
#include "engine/pagelist.h"
#include "engine/render/pdfdocument.h"
#include "engine/render/renderdocument.h"
#include "support/warnings.h"
#include "support/drawingpdf.h"
#include "support/pdfmaker.h"
#include "support/readback.h"

#include <poppler-qt6.h>

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>


// What the window hands its worker thread along with the path; the thread
// draws from the path alone.
static const OpenDocument openedDocument;
namespace {

// How soon a run must end after Ctrl-C: wide enough for a machine busy with
// other work. What shows the stop is what did not happen after it (no page
// written, no file left, the workers gone); bench_stop measures the half
// second the program aims at.
constexpr qint64 stopBoundMs = 5000;

// The batch checked as the program checks it: its inputs opened in workers.
BatchPlan planInWorkers(const BatchOptions &options)
{
    static const std::atomic<bool> running{false};
    return BatchWorkers(options, WorkerLimits{}, running).plan(options);
}

struct CliRun
{
    int status = -1;
    QString out;
    QString err;
    QByteArray outBytes; // standard output as it came
};

CliRun runCli(const QStringList &arguments, const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(VELLORAN_CLI), arguments);
    CliRun run;
    if (!process.waitForFinished(240000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.status = process.exitCode();
    run.outBytes = process.readAllStandardOutput();
    run.out = QString::fromLocal8Bit(run.outBytes);
    run.err = programErrors(process.readAllStandardError());
    return run;
}

QStringList filesIn(const QString &folder)
{
    QDir dir(folder);
    return dir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

QByteArray bytesOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QList<QJsonObject> jsonLines(const QString &text)
{
    QList<QJsonObject> objects;
    for (const QString &line : text.split('\n', Qt::SkipEmptyParts))
        objects << QJsonDocument::fromJson(line.toUtf8()).object();
    return objects;
}

// CPU seconds a process has used so far, from /proc; -1 once it is gone.
double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // Fields after the command name in parentheses: utime and stime are the 12th and 13th.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    double seconds = double(fields.at(11).toLongLong() + fields.at(12).toLongLong()) / double(sysconf(_SC_CLK_TCK));
    // With its worker processes, which do the drawing.
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
    if (children.open(QIODevice::ReadOnly))
        for (const QByteArray &child : children.readAll().split(' '))
            if (!child.trimmed().isEmpty())
                seconds += qMax(0.0, cpuSeconds(child.trimmed().toLongLong()));
    return seconds;
}

// One page of 12 million "q" and "Q" operators: nothing to see, seconds to
// read, even to draw one pixel of it. Flate-compressed to a few kilobytes.
bool makeManyOperatorsPdf(const QString &path)
{
    QByteArray content;
    content.reserve(24000000);
    for (int i = 0; i < 6000000; ++i)
        content.append("q Q\n", 4);
    const QByteArray stream = qCompress(content, 9).mid(4); // zlib data without Qt's length prefix
    const QList<QByteArray> objects{
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 4 0 R >>",
        "<< /Length " + QByteArray::number(stream.size()) + " /Filter /FlateDecode >>\nstream\n" + stream
            + "\nendstream"};
    return writePdfObjects(path, objects);
}

#if defined(__x86_64__)
constexpr __u32 seccompArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr __u32 seccompArch = AUDIT_ARCH_AARCH64;
#else
constexpr __u32 seccompArch = 0; // unknown here: the syncs are not made to fail
#endif

// Run in a started program's process before exec: from then on, in it and in
// every process it starts, fsync and fdatasync fail with EIO, as on a disk
// that reports an error while flushing. Whether the program asks for a flush
// then shows in what it reports, with no tracer and no preloaded library.
void failSyncCalls()
{
    static sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, seccompArch, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_fdatasync, 2, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_fsync, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EIO & SECCOMP_RET_DATA)),
    };
    static sock_fprog program = {sizeof filter / sizeof filter[0], filter};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
        ::_exit(125);
}

// A tmpfs of a few kilobytes, mounted for the life of the object (root only).
class TinyFileSystem
{
public:
    explicit TinyFileSystem(const QString &path)
        : path(path)
    {
        mounted = ::geteuid() == 0
                  && QProcess::execute(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=16k", "tmpfs", path}) == 0;
    }
    ~TinyFileSystem()
    {
        if (mounted)
            QProcess::execute(QStringLiteral("umount"), {path});
    }
    bool isMounted() const { return mounted; }

private:
    QString path;
    bool mounted = false;
};

// A new folder that cannot be written into, for the life of the object: a
// read-only tmpfs for root, whom permissions do not stop, else mode 0555.
// reason() is what the system says of a write there, empty when it could
// not be made.
class ReadOnlyFolder
{
public:
    explicit ReadOnlyFolder(const QString &path)
        : path(path)
    {
        if (!QDir().mkpath(path))
            return;
        if (::geteuid() == 0) {
            mounted = QProcess::execute(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "ro,size=16k", "tmpfs", path}) == 0;
            if (mounted)
                why = QStringLiteral("Read-only file system");
        } else if (QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner)) {
            why = QStringLiteral("Permission denied");
        }
    }
    ~ReadOnlyFolder()
    {
        if (mounted)
            QProcess::execute(QStringLiteral("umount"), {path});
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QDir().rmdir(path);
    }
    QString reason() const { return why; }

private:
    QString path;
    QString why;
    bool mounted = false;
};

// Five pages of 200 x 100 points for the drawing options, each a pixel per
// point at 72 dpi:
// 1. a grid of 10-point cells, each of its own colour, over the media box,
//    with a crop, bleed, trim and art box each of another size and place;
// 2. line art: slanted strokes, a circle and text, black and red on white;
// 3. a pale page under a Square annotation and a push button form field,
//    each with its own appearance (red, green);
// 4. page 3 without its annotations;
// 5. DeviceCMYK fills: C 20% M 40% Y 60% K 10% on the left, K 100% on the right.
bool makeDrawingOptionsPdf(const QString &path)
{
    QByteArray grid;
    for (int i = 0; i < 20; ++i) {
        for (int j = 0; j < 10; ++j)
            grid += QStringLiteral("%1 %2 %3 rg %4 %5 10 10 re f\n")
                        .arg((10 * i + 5) / 255.0, 0, 'f', 4)
                        .arg((20 * j + 15) / 255.0, 0, 'f', 4)
                        .arg(((i * 7 + j * 13) % 256) / 255.0, 0, 'f', 4)
                        .arg(10 * i)
                        .arg(10 * j)
                        .toLatin1();
    }
    const QByteArray lineArt = "1 1 1 rg 0 0 200 100 re f 0 0 0 RG 1.3 w 5.2 5.7 m 195.3 93.1 l S 10.4 90.2 m 190.6 7.3 l S\n"
                               "150 50 m 150 66.6 136.6 80 120 80 c 103.4 80 90 66.6 90 50 c 90 33.4 103.4 20 120 20 c "
                               "136.6 20 150 33.4 150 50 c S\n"
                               "BT /F1 23.3 Tf 1 0 0 rg 12.3 40.7 Td (Line art 42) Tj ET";
    const QByteArray pale = "0.8 0.8 1 rg 5 5 190 90 re f";
    const QByteArray inks = "0.2 0.4 0.6 0.1 k 0 0 100 100 re f 0 0 0 1 k 100 0 100 100 re f";
    const QByteArray red = "1 0 0 rg 0 0 60 60 re f";
    const QByteArray green = "0 1 0 rg 0 0 60 60 re f";
    const auto stream = [](const QByteArray &dictionary, const QByteArray &data) {
        return "<< " + dictionary + " /Length " + QByteArray::number(data.size()) + " >>\nstream\n" + data
               + "\nendstream";
    };
    const QByteArray page = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] ";
    const QList<QByteArray> objects{
        "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [9 0 R] >> >>",
        "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R 6 0 R 7 0 R] /Count 5 >>",
        page + "/CropBox [10 10 190 90] /BleedBox [20 15 180 85] /TrimBox [30 20 170 80] /ArtBox [40 30 120 70] "
               "/Contents 10 0 R >>",
        page + "/Contents 11 0 R /Resources << /Font << /F1 14 0 R >> >> >>",
        page + "/Contents 12 0 R /Annots [8 0 R 9 0 R] >>",
        page + "/Contents 12 0 R >>",
        page + "/Contents 13 0 R >>",
        "<< /Type /Annot /Subtype /Square /Rect [20 20 80 80] /F 4 /C [1 0 0] /IC [1 0 0] /AP << /N 15 0 R >> >>",
        "<< /Type /Annot /Subtype /Widget /FT /Btn /Ff 65536 /T (button) /Rect [110 20 170 80] /F 4 /P 5 0 R "
        "/AP << /N 16 0 R >> >>",
        stream("", grid),
        stream("", lineArt),
        stream("", pale),
        stream("", inks),
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
        stream("/Type /XObject /Subtype /Form /BBox [0 0 60 60]", red),
        stream("/Type /XObject /Subtype /Form /BBox [0 0 60 60]", green),
    };
    return writePdfObjects(path, objects, "1.4");
}

QStringList pngNames(const QString &base, const QList<int> &pageNumbers)
{
    QStringList names;
    for (int n : pageNumbers)
        names << QStringLiteral("%1_%2.png").arg(base).arg(n);
    names.sort();
    return names;
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void badUsage_data();
    void badUsage();
    void unusableInputCostsItself_data();
    void unusableInputCostsItself();
    void helpAndVersion();
    void optionBoundsAccepted_data();
    void optionBoundsAccepted();
    void outputOptionsReadBack_data();
    void outputOptionsReadBack();
    void encoderChoicesReadBack_data();
    void encoderChoicesReadBack();
    void drawingOptionsReadBack_data();
    void drawingOptionsReadBack();
    void namePatterns_data();
    void namePatterns();
    void standardOutputHoldsTheFile_data();
    void standardOutputHoldsTheFile();
    void standardOutputRefusesATerminal();
    void standardOutputOutlivesItsWorker_data();
    void standardOutputOutlivesItsWorker();
    void pageTimeoutGivesUpSlowPages();
    void pageList_data();
    void pageList();
    void typeSpellings_data();
    void typeSpellings();
    void outputNamesAndSizes_data();
    void outputNamesAndSizes();
    void multipageDirectoriesInOrder_data();
    void multipageDirectoriesInOrder();
    void multipagePagesAreTheSinglePages_data();
    void multipagePagesAreTheSinglePages();
    void multipageOutlivesItsWorkers_data();
    void multipageOutlivesItsWorkers();
    void everyTypeAndSeveralFiles();
    void sameBytesFromWindowAndCommandLine_data();
    void sameBytesFromWindowAndCommandLine();
    void leavesNoSettingsFolder();
    void lockedPdf_data();
    void lockedPdf();
    void hugePageIsRefused_data();
    void hugePageIsRefused();
    void failedPageDoesNotStopOthers();
    void progressLineOnTerminalOnly();
    void interruptLeavesWholeFiles();

    void interruptedMultipageLeavesNoFile();
    void interruptInsideAHugePage();
    void planKeepsPageOrder();
    void planWritesNothingWhenAFileFails();
    void stopBeforeStartConvertsNothing();
    void longNamesFitTheirTemporaryFile();
    void warmUpDrawsOnTinyPages();

    void hostileEnvironments_data();
    void hostileEnvironments();
    void sigtermWithStderrClosed();
    void outputTreeKeepsSameNamesApart();
    void skipExistingChecksWholeness_data();
    void skipExistingChecksWholeness();
    void refusedInputInJson();
    void staleTemporariesAreRemoved();
    void workersGiveUpOnePage_data();
    void workersGiveUpOnePage();
    void workersAreConfined_data();
    void workersAreConfined();
    void fallsBackToPopplerPerFile();
    void drawingReportsKept_data();
    void drawingReportsKept();
    void strictLeavesWhatWasThere_data();
    void strictLeavesWhatWasThere();
    void strictGivesUpAMultipageFile();
    void claimedPagesAreNotListed_data();
    void claimedPagesAreNotListed();
    void missingPageWithEitherRenderer_data();
    void missingPageWithEitherRenderer();
    void workerNoiseKeptOffTheTerminal();
    void imagesAtTheStatedFloor_data();
    void imagesAtTheStatedFloor();
    void posterPeakUnderACeiling_data();
    void posterPeakUnderACeiling();
    void posterUnderAMemoryCeiling_data();
    void posterUnderAMemoryCeiling();
    void stopInsideAHungPage_data();
    void stopInsideAHungPage();

private:
    QString pdf(const QString &name) const { return dir.filePath(name); }
    QString freshOutput();

    QTemporaryDir dir;
    int outputs = 0;
};

void TestCli::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY(QFileInfo(QStringLiteral(VELLORAN_CLI)).isExecutable());
    QVERIFY(makePdf(pdf("ten.pdf"), 10));
    QVERIFY(makePdf(pdf("three.pdf"), 3));
    QVERIFY(makePdf(pdf("a.b.pdf"), {a4Portrait, a4Landscape, QSizeF(100, 200)}));
    QVERIFY(makePdf(pdf("forty.pdf"), 40));
    QVERIFY(makeDrawingPdf(pdf("heavy.pdf"), 20000));
    QVERIFY(makeTestCardPdf(pdf("card.pdf")));
    QVERIFY(makePdf(pdf("one.pdf"), 1));
    QVERIFY(makeDrawingOptionsPdf(pdf("drawn.pdf")));
    QDir(dir.path()).mkdir(QStringLiteral("other"));
    QVERIFY(makePdf(pdf("other/three.pdf"), 1));

    QFile broken(pdf("broken.pdf"));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("%PDF-1.4\nthis is not the rest of a PDF file\n");
    broken.close();

    QFile plain(pdf("afile"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
}

void TestCli::init()
{
    QTest::failOnWarning(QRegularExpression(".*"));
}

QString TestCli::freshOutput()
{
    return dir.filePath(QStringLiteral("out%1").arg(++outputs));
}

void TestCli::badUsage_data()
{
    QTest::addColumn<QStringList>("arguments");
    // A part of stderr; all of it when it ends in a newline, {dir} standing
    // for the test's folder and {reason} for the system's word on a folder
    // that cannot be written.
    QTest::addColumn<QString>("message");

    // Each guards against a run that starts, or exits 0, on input it cannot honour.
    // Usage mistakes say what to do, in the words of every other message.
    QTest::newRow("no arguments") << QStringList{}
                                  << "velloran-cli: no input file given: name the PDF files to convert; see --help\n";
    QTest::newRow("--strict with -o -") << QStringList{"--strict", "-o", "-", "-p", "1", "ten.pdf"}
                                       << "velloran-cli: --strict is for pages written to files: leave out -o -\n";
    QTest::newRow("max-memory too small for the resolution")
        << QStringList{"--max-memory", "100M", "-r", "300", "ten.pdf"}
        << "velloran-cli: invalid max-memory \"100M\": too little to draw an ordinary page at 300 dpi; the "
           "smallest that works is 132M\n";
    QTest::newRow("max-memory too small for the size in pixels")
        << QStringList{"--max-memory", "80M", "--scale-to", "5000", "ten.pdf"}
        << "velloran-cli: invalid max-memory \"80M\": too little to draw an ordinary page at 428 dpi; the "
           "smallest that works is 219M\n";
    QTest::newRow("mistyped option") << QStringList{"--jbos", "2", "ten.pdf"}
                                     << "velloran-cli: unknown option 'jbos' (did you mean --jobs?); see --help\n";
    QTest::newRow("option cut short") << QStringList{"--res", "300", "ten.pdf"}
                                      << "velloran-cli: unknown option 'res' (did you mean --resolution?); see --help\n";
    QTest::newRow("cut short, begins two") << QStringList{"--out", "x", "ten.pdf"}
                                           << "velloran-cli: unknown option 'out' (did you mean --output?); see --help\n";
    QTest::newRow("begins two unlike") << QStringList{"--no", "ten.pdf"}
                                       << "velloran-cli: unknown option 'no'; see --help\n";
    QTest::newRow("unknown option") << QStringList{"--frobnicate", "ten.pdf"}
                                    << "velloran-cli: unknown option 'frobnicate'; see --help\n";
    QTest::newRow("two unknown options") << QStringList{"--qualty", "50", "-x", "ten.pdf"}
                                         << "velloran-cli: unknown option 'qualty' (did you mean --quality?); see --help\n"
                                            "velloran-cli: unknown option 'x'; see --help\n";
    QTest::newRow("missing value") << QStringList{"ten.pdf", "-r"} << "velloran-cli: missing value after '-r'; see --help\n";
    QTest::newRow("value to a switch") << QStringList{"--gray=yes", "ten.pdf"}
                                       << "velloran-cli: unexpected value after '--gray'; see --help\n";
    QTest::newRow("folder as input") << QStringList{"other"}
                                     << "velloran-cli: {dir}/other: a folder, not a PDF file: name the files in it, "
                                        "such as {dir}/other/*.pdf\n";
    QTest::newRow("file as output folder")
        << QStringList{"-o", "afile", "ten.pdf"}
        << "velloran-cli: {dir}/afile: a file, not a folder: give -o a folder (a missing one is made)\n";
    QTest::newRow("folder cannot be made")
        << QStringList{"-o", "afile/sub", "ten.pdf"}
        << "velloran-cli: {dir}/afile/sub: cannot create the output folder ({dir}/afile: Not a directory): "
           "give -o another folder\n";
    QTest::newRow("read-only output folder")
        << QStringList{"-o", "readonly", "ten.pdf"}
        << "velloran-cli: {dir}/readonly: the output folder is not writable ({reason}): give -o a folder you can "
           "write to\n";
    QTest::newRow("backwards range") << QStringList{"-p", "3-1", "ten.pdf"}
                                     << "velloran-cli: page list \"3-1\": the range 3-1 runs backwards: write 1-3\n";
    QTest::newRow("backwards range among others")
        << QStringList{"-p", "1, 9 - 6 ,10", "ten.pdf"}
        << "velloran-cli: page list \"1, 9 - 6 ,10\": the range 9 - 6 runs backwards: write 6-9\n";
    // The page list's own mistakes are found before any file is opened: said
    // once, whatever the files.
    QTest::newRow("page list mistake, two files") << QStringList{"-p", "2,x", "ten.pdf", "broken.pdf"}
                                                  << "velloran-cli: page list \"2,x\": \"x\" is not a page number, a "
                                                     "range such as 6-9 or 6-, odd or even\n";
    QTest::newRow("unknown type") << QStringList{"-t", "gif", "ten.pdf"} << "unknown type \"gif\"";
    QTest::newRow("resolution 0") << QStringList{"-r", "0", "ten.pdf"} << "invalid resolution \"0\"";
    QTest::newRow("resolution text") << QStringList{"-r", "high", "ten.pdf"} << "invalid resolution \"high\"";
    QTest::newRow("quality 101") << QStringList{"-Q", "101", "ten.pdf"} << "invalid quality \"101\"";
    QTest::newRow("quality 0") << QStringList{"-Q", "0", "ten.pdf"} << "invalid quality \"0\"";
    QTest::newRow("resolution and width") << QStringList{"-r", "100", "--width", "800", "ten.pdf"}
                                          << "give a resolution or a size in pixels, not both";
    QTest::newRow("scale-to and height") << QStringList{"--scale-to", "800", "--height", "90", "ten.pdf"}
                                         << "give --scale-to or --width/--height, not both";
    QTest::newRow("width 0") << QStringList{"--width", "0", "ten.pdf"} << "invalid width \"0\"";
    QTest::newRow("gray and mono") << QStringList{"--gray", "--mono", "ten.pdf"}
                                   << "choose one of --gray, --mono, --transparent and --cmyk";
    QTest::newRow("cmyk and gray") << QStringList{"--cmyk", "--gray", "ten.pdf"}
                                   << "choose one of --gray, --mono, --transparent and --cmyk";
    QTest::newRow("cmyk png") << QStringList{"-t", "png", "--cmyk", "ten.pdf"}
                              << "--cmyk writes jpg and tiff files only: use -t jpg or -t tiff";
    QTest::newRow("cmyk with poppler") << QStringList{"--renderer", "poppler", "--cmyk", "ten.pdf"}
                                       << "--cmyk needs --renderer mupdf: Poppler draws in RGB only";
    QTest::newRow("cmyk subsampling") << QStringList{"--cmyk", "--subsampling", "444", "ten.pdf"}
                                      << "--subsampling is for RGB: a CMYK JPEG keeps every sample";
    QTest::newRow("box unknown") << QStringList{"--box", "paper", "ten.pdf"}
                                 << "invalid box \"paper\": use media, crop, bleed, trim or art";
    QTest::newRow("box media with poppler")
        << QStringList{"--renderer", "poppler", "--box", "media", "ten.pdf"}
        << "--box media needs --renderer mupdf: Poppler draws the crop box only";
    QTest::newRow("box trim with poppler") << QStringList{"--renderer", "poppler", "--box", "trim", "ten.pdf"}
                                           << "--box trim needs --renderer mupdf";
    QTest::newRow("crop of three numbers") << QStringList{"--crop", "1,2,3", "ten.pdf"}
                                           << "invalid crop \"1,2,3\": expected X,Y,W,H in pixels, W and H above 0";
    QTest::newRow("crop of no width") << QStringList{"--crop", "0,0,0,5", "ten.pdf"} << "invalid crop \"0,0,0,5\"";
    QTest::newRow("crop below the page") << QStringList{"--crop", "-1,0,5,5", "ten.pdf"} << "invalid crop \"-1,0,5,5\"";
    QTest::newRow("1-bit jpg") << QStringList{"--mono", "ten.pdf"} << "jpg files cannot hold 1-bit pages";
    QTest::newRow("transparent bmp") << QStringList{"-t", "bmp", "--transparent", "ten.pdf"}
                                     << "bmp files cannot hold transparent pages";
    QTest::newRow("gray webp") << QStringList{"-t", "webp", "--gray", "ten.pdf"} << "webp files cannot hold gray pages";
    QTest::newRow("multipage png") << QStringList{"-t", "png", "--multipage", "ten.pdf"}
                                   << "--multipage writes TIFF files only";
    // The rest of what the format table refuses, each in the words it gives.
    QTest::newRow("unknown type lists the types") << QStringList{"-t", "jpe", "ten.pdf"}
                                                  << "velloran-cli: unknown type \"jpe\": use jpg, png, bmp, tiff, "
                                                     "webp, ppm, pgm or pbm\n";
    QTest::newRow("1-bit webp") << QStringList{"-t", "webp", "--mono", "ten.pdf"} << "webp files cannot hold 1-bit pages";
    QTest::newRow("transparent jpg") << QStringList{"--transparent", "ten.pdf"} << "jpg files cannot hold transparent pages";
    QTest::newRow("cmyk bmp") << QStringList{"-t", "bmp", "--cmyk", "ten.pdf"}
                              << "--cmyk writes jpg and tiff files only: use -t jpg or -t tiff";
    QTest::newRow("cmyk webp") << QStringList{"-t", "webp", "--cmyk", "ten.pdf"} << "--cmyk writes jpg and tiff files only";
    QTest::newRow("multipage jpg") << QStringList{"--multipage", "ten.pdf"}
                                   << "--multipage writes TIFF files only: add -t tiff";
    QTest::newRow("multipage webp") << QStringList{"-t", "webp", "--multipage", "ten.pdf"}
                                    << "--multipage writes TIFF files only";
    QTest::newRow("page timeout 0") << QStringList{"--page-timeout", "0", "ten.pdf"} << "invalid page-timeout \"0\"";
    QTest::newRow("resolution 1000000") << QStringList{"-r", "1000000", "ten.pdf"} << "invalid resolution \"1000000\"";
    QTest::newRow("jobs 0") << QStringList{"-j", "0", "ten.pdf"} << "invalid jobs \"0\"";
    QTest::newRow("progressive png") << QStringList{"-t", "png", "--progressive", "ten.pdf"}
                                     << "--progressive is for JPEG files only";
    QTest::newRow("optimize tiff") << QStringList{"-t", "tiff", "--optimize", "ten.pdf"} << "--optimize is for JPEG files only";
    QTest::newRow("subsampling webp") << QStringList{"-t", "webp", "--subsampling", "444", "ten.pdf"}
                                      << "--subsampling is for JPEG files only";
    QTest::newRow("subsampling 411") << QStringList{"--subsampling", "411", "ten.pdf"} << "invalid subsampling \"411\"";
    QTest::newRow("gray subsampling") << QStringList{"--gray", "--subsampling", "444", "ten.pdf"}
                                      << "--subsampling is for colour";
    QTest::newRow("compression jpg") << QStringList{"--compression", "lzw", "ten.pdf"}
                                     << "--compression is for TIFF files only";
    QTest::newRow("compression zstd") << QStringList{"-t", "tiff", "--compression", "zstd", "ten.pdf"}
                                      << "invalid compression \"zstd\"";
    QTest::newRow("compression 1-bit") << QStringList{"-t", "tiff", "--mono", "--compression", "lzw", "ten.pdf"}
                                       << "1-bit pages are always CCITT G4";
    QTest::newRow("jpeg compression transparent")
        << QStringList{"-t", "tiff", "--transparent", "--compression", "jpeg", "ten.pdf"}
        << "--compression jpeg cannot hold transparent pages";
    QTest::newRow("name unknown field") << QStringList{"--name", "{title}.jpg", "ten.pdf"}
                                        << "invalid name \"{title}.jpg\": unknown field {title}";
    QTest::newRow("name with folder") << QStringList{"--name", "x/{page}.jpg", "ten.pdf"} << "a name cannot hold a /";
    QTest::newRow("name brace open") << QStringList{"--name", "{name.jpg", "ten.pdf"} << "a { without its }";
    QTest::newRow("name page width 0") << QStringList{"--name", "{page:0}.jpg", "ten.pdf"}
                                       << "{page:0}: a page number is 1 to 9 digits wide";
    QTest::newRow("name without page") << QStringList{"-p", "2,5", "--name", "{name}.{ext}", "ten.pdf"}
                                       << "ten.pdf and page 5 of";
    QTest::newRow("name without name, two files")
        << QStringList{"-p", "1", "--name", "{page}.{ext}", "three.pdf", "ten.pdf"} << "the same output";
    QTest::newRow("multipage name with page") << QStringList{"-t", "tiff", "--multipage", "--name", "{page}.tiff", "ten.pdf"}
                                              << "--name with --multipage cannot use {page}";
    QTest::newRow("stdout, ten pages") << QStringList{"-o", "-", "ten.pdf"} << "this run would write 10";
    QTest::newRow("stdout, two files") << QStringList{"-o", "-", "-p", "1", "three.pdf", "ten.pdf"}
                                       << "this run would write 2";
    QTest::newRow("stdout and json") << QStringList{"-o", "-", "-p", "1", "--json", "ten.pdf"}
                                     << "--json and -o - both write to standard output";
    QTest::newRow("stdout multipage") << QStringList{"-o", "-", "-t", "tiff", "--multipage", "one.pdf"}
                                      << "leave out --multipage";
    QTest::newRow("stdout name") << QStringList{"-o", "-", "--name", "{page}.jpg", "one.pdf"} << "leave out --name";
    QTest::newRow("stdout skip-existing") << QStringList{"-o", "-", "--skip-existing", "one.pdf"}
                                          << "leave out --skip-existing";
    QTest::newRow("same output names")
        << QStringList{"three.pdf", "other/three.pdf"} << "other/three.pdf: its output names clash with those of";
    // A file that cannot be used refuses the run when asked to.
    QTest::newRow("all or nothing, one bad among good")
        << QStringList{"--all-or-nothing", "ten.pdf", "broken.pdf", "missing.pdf"}
        << "velloran-cli: {dir}/broken.pdf: cannot be opened as a PDF (damaged or not a PDF)\n"
           "velloran-cli: {dir}/missing.pdf: no such file: check the name and the folder\n";
    QTest::newRow("all or nothing, a page past the end") << QStringList{"--all-or-nothing", "-p", "5", "ten.pdf", "three.pdf"}
                                                         << "velloran-cli: {dir}/three.pdf: page list \"5\": the "
                                                            "document has only 3 pages\n";
    // A mistake in the command refuses the run, beside files that could be used.
    QTest::newRow("folder as input among files") << QStringList{"ten.pdf", "other"}
                                                 << "velloran-cli: {dir}/other: a folder, not a PDF file: name the "
                                                    "files in it, such as {dir}/other/*.pdf\n";
    QTest::newRow("clash beside a bad file") << QStringList{"three.pdf", "other/three.pdf", "broken.pdf"}
                                             << "velloran-cli: {dir}/broken.pdf: cannot be opened as a PDF (damaged or "
                                                "not a PDF)\nvelloran-cli: {dir}/other/three.pdf: its output names "
                                                "clash with those of {dir}/three.pdf\n";
}

// A file that cannot be used costs that file: it is named on stderr, the
// others are converted, and the run exits 1. Nothing is made for a run
// whose every input is refused.
void TestCli::unusableInputCostsItself_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("errors"); // all of stderr, {dir} for the test's folder
    QTest::addColumn<QStringList>("written");

    QTest::newRow("damaged among good") << QStringList{"ten.pdf", "broken.pdf", "three.pdf"}
                                        << "velloran-cli: {dir}/broken.pdf: cannot be opened as a PDF (damaged or not "
                                           "a PDF)\n"
                                        << QStringList{"ten_1.jpg", "three_1.jpg"};
    QTest::newRow("missing among good") << QStringList{"missing.pdf", "three.pdf"}
                                        << "velloran-cli: {dir}/missing.pdf: no such file: check the name and the folder\n"
                                        << QStringList{"three_1.jpg"};
    QTest::newRow("damaged alone") << QStringList{"broken.pdf"}
                                   << "velloran-cli: {dir}/broken.pdf: cannot be opened as a PDF (damaged or not a "
                                      "PDF)\n"
                                   << QStringList();
    QTest::newRow("damaged alone, to standard output")
        << QStringList{"-o", "-", "broken.pdf"}
        << "velloran-cli: {dir}/broken.pdf: cannot be opened as a PDF (damaged or not a PDF)\n" << QStringList();
    // The missing output folder is made before the inputs are opened, but not
    // where an input is named: it would be taken for that input.
    QTest::newRow("missing, with the output folder's name") << QStringList{"-o", "missing.pdf", "missing.pdf"}
                                                            << "velloran-cli: {dir}/missing.pdf: no such file: "
                                                               "check the name and the folder\n"
                                                            << QStringList();
    QTest::newRow("a page past the end of one") << QStringList{"-p", "5", "ten.pdf", "three.pdf"}
                                                << "velloran-cli: {dir}/three.pdf: page list \"5\": the document has "
                                                   "only 3 pages\n"
                                                << QStringList{"ten_5.jpg"};
    QTest::newRow("even of one page") << QStringList{"-p", "even", "one.pdf", "three.pdf"}
                                      << "velloran-cli: {dir}/one.pdf: page list \"even\" selects no page\n"
                                      << QStringList{"three_2.jpg"};
    // The inputs are opened in workers: a file that crashes the renderer as
    // it is opened is refused, and the run goes on without it.
    QTest::newRow("opening crashes the renderer")
        << QStringList{"VELLORAN_TEST_WORKER=crash 1:open", "ten.pdf", "three.pdf"}
        << "velloran-cli: {dir}/three.pdf: cannot be opened: the renderer crashed (SIGSEGV)\n"
        << QStringList{"ten_1.jpg"};
    QTest::newRow("no worker executable")
        << QStringList{"VELLORAN_WORKER=/nonexistent/velloran-worker", "ten.pdf"}
        << "velloran-cli: {dir}/ten.pdf: cannot be opened: no worker process could be started: "
           "/nonexistent/velloran-worker: No such file or directory\n"
        << QStringList();
    QTest::newRow("a worker executable that ends at once")
        << QStringList{"VELLORAN_WORKER=/bin/true", "ten.pdf"}
        << "velloran-cli: {dir}/ten.pdf: cannot be opened: no worker process could be started: "
           "/bin/true: it ended at once (exit status 0)\n"
        << QStringList();
}

void TestCli::unusableInputCostsItself()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, errors);
    QFETCH(QStringList, written);

    const QString out = freshOutput();
    QStringList full = arguments;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    while (!full.isEmpty() && full.first().startsWith("VELLORAN_")) {
        const QString setting = full.takeFirst();
        environment.insert(setting.section('=', 0, 0), setting.section('=', 1));
    }
    for (QString &argument : full) {
        if (argument.endsWith(".pdf"))
            argument = pdf(argument);
    }
    if (!full.contains("-o"))
        full = QStringList{"-o", out, "-p", "1"} + full;
    const CliRun run = runCli(QStringList{"-q", "-r", "10"} + full, environment);
    QCOMPARE(run.status, 1);
    QCOMPARE(run.err, errors.replace("{dir}", dir.path()));
    QVERIFY(run.out.isEmpty());
    written.sort();
    if (written.isEmpty())
        QVERIFY2(!QFileInfo::exists(out), "a run with nothing to write must not make the output folder");
    else
        QCOMPARE(filesIn(out), written);
}

void TestCli::badUsage()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);

    const QString out = freshOutput();
    QStringList full = arguments;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    while (!full.isEmpty() && full.first().startsWith("VELLORAN_")) {
        const QString setting = full.takeFirst();
        environment.insert(setting.section('=', 0, 0), setting.section('=', 1));
    }
    for (QString &argument : full) {
        if (argument.endsWith(".pdf") || argument == "other" || argument.startsWith("afile") || argument == "readonly")
            argument = pdf(argument);
    }
    if (!full.isEmpty() && !full.contains("-o"))
        full = QStringList{"-o", out} + full;

    // A folder nobody may write into: read-only for root too, where root may mount.
    std::unique_ptr<ReadOnlyFolder> readOnly;
    if (arguments.contains("readonly")) {
        readOnly = std::make_unique<ReadOnlyFolder>(pdf("readonly"));
        if (readOnly->reason().isEmpty())
            QSKIP("root without mount cannot make a folder it cannot write to");
        message.replace("{reason}", readOnly->reason());
    }

    const CliRun run = runCli(full, environment);
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.startsWith("velloran-cli: "), qPrintable(run.err));
    if (message.endsWith('\n'))
        QCOMPARE(run.err, message.replace("{dir}", dir.path()));
    else
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QVERIFY(run.out.isEmpty());
    QVERIFY2(!QFileInfo::exists(out), "a refused run must not make the output folder");
    if (readOnly)
        QCOMPARE(filesIn(pdf("readonly")), QStringList());
}

void TestCli::helpAndVersion()
{
    const CliRun help = runCli({"--help"});
    QCOMPARE(help.status, 0);
    for (const char *option : {"--output", "--type", "--resolution", "--quality", "--pages", "--jobs",
                               "--password", "--quiet", "--version", "--renderer", "Exit status", "130", "--name",
                               "--progressive", "--optimize", "--subsampling", "--compression", "odd", "standard output",
                               "--box", "--crop", "--no-antialias", "--no-annotations", "--cmyk", "--all-or-nothing"})
        QVERIFY2(help.out.contains(QLatin1String(option)), option);
    // What the format table says each type takes, as the wrapped lines read.
    const QString flat = help.out.simplified();
    for (const char *taken : {"Image type: jpg, png, bmp, tiff, webp, ppm, pgm or pbm", "8-bit grayscale (jpg, png, bmp, tiff, pgm)",
                              "luminance (png, bmp, tiff, pbm; TIFF with CCITT G4)", "alpha (png, tiff, webp)",
                              "With -t tiff: every page of a file into one <name>.tiff", "With jpg or tiff: draw in CMYK",
                              "jpeg and tif are taken for jpg and tiff", "--all-or-nothing refuses them all",
                              "Refuse the whole run when any input cannot be used"})
        QVERIFY2(flat.contains(QLatin1String(taken)), taken);

    const CliRun version = runCli({"--version"});
    QCOMPARE(version.status, 0);
    const QString built = rendererBuiltIn(RendererKind::MuPdf)
                              ? QStringLiteral("Renderers: mupdf (default), poppler\n"
                                               "Licence: AGPL-3.0-or-later (built with MuPDF)\n")
                              : QStringLiteral("Renderers: poppler\nLicence: GPL-3.0-or-later\n");
    QCOMPARE(version.out, QStringLiteral("velloran-cli " VELLORAN_PROJECT_VERSION "\n") + built);

#ifdef VELLORAN_CLI_MAN_PAGE
    // help2man's page: the arguments hold the files alone, with no line of
    // --version run into them.
    const QString page = QString::fromUtf8(bytesOf(QStringLiteral(VELLORAN_CLI_MAN_PAGE)));
    const qsizetype arguments = page.indexOf(QLatin1String(".SS \"Arguments:\"\n"));
    QVERIFY2(arguments > 0, qPrintable(page));
    const qsizetype next = page.indexOf(QLatin1String("\n.SH "), arguments);
    QCOMPARE(page.mid(arguments, next - arguments), QStringLiteral(".SS \"Arguments:\"\n.TP\nfiles\nPDF files to convert."));
    QVERIFY(page.contains(QLatin1String(".TH VELLORAN-CLI \"1\"")));
    // How to have a batch refused whole, in the options and in an example.
    QCOMPARE(page.count(QLatin1String("all\\-or\\-nothing")), 3);
    QVERIFY(page.contains(QLatin1String("\"velloran-cli " VELLORAN_PROJECT_VERSION "\" \"User Commands\"")));
#endif
}

// The limits themselves are usable values: the run starts, or at the top
// resolution, where no A4 page fits in a JPEG, is refused for the pages' size
// (hugePageIsRefused), not for the number.
void TestCli::optionBoundsAccepted_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::newRow("quality 1") << QStringList{"-Q", "1"} << 0;
    QTest::newRow("quality 100") << QStringList{"-Q", "100"} << 0;
    QTest::newRow("resolution 1") << QStringList{"-r", "1"} << 0;
    QTest::newRow("resolution 999999") << QStringList{"-r", "999999"} << 2;
}

void TestCli::optionBoundsAccepted()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    const QString out = freshOutput();
    const CliRun run = runCli(QStringList{"-q", "-p", "1", "-o", out} + arguments + QStringList{pdf("three.pdf")});
    QVERIFY2(run.status == status, qPrintable(run.err));
    QVERIFY2(!run.err.contains("invalid"), qPrintable(run.err));
    QCOMPARE(filesIn(out).size(), status == 0 ? 1 : 0);
}

// Each output option, read back as a viewer would: name, pixel size, stored
// resolution, bits, alpha and the number of pages in the file.
void TestCli::outputOptionsReadBack_data()
{
    QTest::addColumn<QString>("document");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("dpi");
    QTest::addColumn<int>("depth"); // 1, 8 for gray, else 32
    QTest::addColumn<bool>("alpha");
    QTest::addColumn<int>("images");

    const QSize at20(165, 234); // A4 at 20 dpi
    QTest::newRow("width") << "three.pdf" << QStringList{"-t", "png", "--width", "800", "-p", "1"} << "three_1.png"
                           << QSize(800, 1132) << 97 << 32 << false << 1;
    QTest::newRow("width and height: a box") << "three.pdf"
                                             << QStringList{"-t", "png", "--width", "300", "--height", "1000", "-p", "1"}
                                             << "three_1.png" << QSize(300, 425) << 36 << 32 << false << 1;
    QTest::newRow("scale-to") << "three.pdf" << QStringList{"-t", "png", "--scale-to", "2000", "-p", "1"}
                              << "three_1.png" << QSize(1413, 2000) << 171 << 32 << false << 1;
    QTest::newRow("pad") << "ten.pdf" << QStringList{"-t", "png", "-r", "20", "--pad", "-p", "7"} << "ten_07.png"
                         << at20 << 20 << 32 << false << 1;
    QTest::newRow("gray jpg") << "three.pdf" << QStringList{"-r", "20", "--gray", "-p", "1"} << "three_1.jpg" << at20
                              << 20 << 8 << false << 1;
    QTest::newRow("gray bmp") << "three.pdf" << QStringList{"-t", "bmp", "-r", "20", "--gray", "-p", "1"}
                              << "three_1.bmp" << at20 << 20 << 8 << false << 1;
    QTest::newRow("1-bit png") << "three.pdf" << QStringList{"-t", "png", "-r", "20", "--mono", "-p", "1"}
                               << "three_1.png" << at20 << 20 << 1 << false << 1;
    QTest::newRow("1-bit tiff") << "three.pdf" << QStringList{"-t", "tiff", "-r", "20", "--mono", "-p", "1"}
                                << "three_1.tiff" << at20 << 20 << 1 << false << 1;
    QTest::newRow("transparent png") << "three.pdf" << QStringList{"-t", "png", "-r", "20", "--transparent", "-p", "1"}
                                     << "three_1.png" << at20 << 20 << 32 << true << 1;
    QTest::newRow("transparent tiff") << "three.pdf"
                                      << QStringList{"-t", "tiff", "-r", "20", "--transparent", "-p", "1"}
                                      << "three_1.tiff" << at20 << 20 << 32 << true << 1;
    QTest::newRow("webp") << "three.pdf" << QStringList{"-t", "webp", "-r", "20", "-p", "1"} << "three_1.webp" << at20
                          << 0 << 32 << false << 1;
    QTest::newRow("webp lossless") << "three.pdf" << QStringList{"-t", "webp", "-Q", "100", "-r", "20", "-p", "1"}
                                   << "three_1.webp" << at20 << 0 << 32 << false << 1;
    QTest::newRow("one multi-page tiff") << "three.pdf" << QStringList{"-t", "tiff", "-r", "20", "--multipage"}
                                         << "three.tiff" << at20 << 20 << 32 << false << 3;
    QTest::newRow("multi-page 1-bit tiff, pages chosen")
        << "ten.pdf" << QStringList{"-t", "tiff", "-r", "20", "--multipage", "--mono", "-p", "9,2"} << "ten.tiff"
        << at20 << 20 << 1 << false << 2;
}

void TestCli::outputOptionsReadBack()
{
    QFETCH(QString, document);
    QFETCH(QStringList, arguments);
    QFETCH(QString, file);
    QFETCH(QSize, size);
    QFETCH(int, dpi);
    QFETCH(int, depth);
    QFETCH(bool, alpha);
    QFETCH(int, images);

    const QString out = freshOutput();
    const CliRun run = runCli(QStringList{"-q", "-j", "2", "-o", out} + arguments + QStringList{pdf(document)});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(filesIn(out), QStringList{file});
    QImageReader reader(out + "/" + file);
    QCOMPARE(reader.imageCount(), images);
    for (int i = 0; i < images; ++i) {
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(image.size(), size);
        QCOMPARE(image.hasAlphaChannel(), alpha);
        if (depth == 1)
            QCOMPARE(image.depth(), 1);
        QCOMPARE(image.isGrayscale(), depth == 8);
        if (dpi > 0) // WebP has no place for it
            QCOMPARE(qRound(image.dotsPerMeterX() * 0.0254), dpi);
        // The frame is drawn 10 pt in; the corner is paper, or nothing at all.
        QVERIFY(qGray(image.pixel(size.width() * 7 / 413, size.height() / 2)) < 128);
        QCOMPARE(qAlpha(image.pixel(1, 1)), alpha ? 0 : 255);
        reader.jumpToNextImage();
    }
}

// JPEG and TIFF choices read back by libjpeg and libtiff: how the file is
// stored, and its pixels against the same page written without the choice.
// Lossless choices must give the very same pixels; lossy ones close to them.
void TestCli::encoderChoicesReadBack_data()
{
    QTest::addColumn<QStringList>("base");   // the run without the choice
    QTest::addColumn<QStringList>("choice"); // added to it
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("storage"); // as storageText() reads it
    // 0: the same pixels; else at most this much on average (halving chroma
    // costs most on the card's thin coloured stripes).
    QTest::addColumn<double>("meanDifference");
    QTest::addColumn<bool>("smaller");           // than the file without the choice

    const QStringList jpg{"-r", "150"};
    const QStringList tiff{"-t", "tiff", "-r", "150"};
    const QString rgb = "photometric 2 samples 3";
    QTest::newRow("jpg progressive") << jpg << QStringList{"--progressive"} << "card_1.jpg"
                                     << "jpeg progressive 2x2 1x1 1x1" << 0.0 << false;
    QTest::newRow("jpg optimized tables") << jpg << QStringList{"--optimize"} << "card_1.jpg"
                                          << "jpeg baseline 2x2 1x1 1x1" << 0.0 << true;
    QTest::newRow("jpg progressive and optimized, gray")
        << (jpg + QStringList{"--gray"}) << QStringList{"--progressive", "--optimize"} << "card_1.jpg"
        << "jpeg progressive 1x1" << 0.0 << false;
    QTest::newRow("jpg 444") << jpg << QStringList{"--subsampling", "444"} << "card_1.jpg" << "jpeg baseline 1x1 1x1 1x1"
                             << 8.0 << false;
    QTest::newRow("jpg 422") << jpg << QStringList{"--subsampling", "422"} << "card_1.jpg" << "jpeg baseline 2x1 1x1 1x1"
                             << 8.0 << false;
    QTest::newRow("tiff packbits") << tiff << QStringList{"--compression", "packbits"} << "card_1.tiff"
                                   << "tiff compression 32773 " + rgb << 0.0 << true;
    QTest::newRow("tiff lzw") << tiff << QStringList{"--compression", "lzw"} << "card_1.tiff"
                              << "tiff compression 5 predictor 2 " + rgb << 0.0 << true;
    QTest::newRow("tiff deflate") << tiff << QStringList{"--compression", "deflate"} << "card_1.tiff"
                                  << "tiff compression 8 predictor 2 " + rgb << 0.0 << true;
    QTest::newRow("tiff deflate, -Q 1 compresses most")
        << (tiff + QStringList{"--compression", "deflate", "-Q", "100"}) << QStringList{"-Q", "1"} << "card_1.tiff"
        << "tiff compression 8 predictor 2 " + rgb << 0.0 << true;
    QTest::newRow("tiff deflate, gray") << (tiff + QStringList{"--gray"}) << QStringList{"--compression", "deflate"}
                                        << "card_1.tiff" << "tiff compression 8 predictor 2 photometric 1 samples 1"
                                        << 0.0 << true;
    QTest::newRow("tiff lzw, transparent")
        << (tiff + QStringList{"--transparent"}) << QStringList{"--compression", "lzw"} << "card_1.tiff"
        << "tiff compression 5 predictor 2 photometric 2 samples 4" << 0.0 << true;
    QTest::newRow("tiff jpeg") << tiff << QStringList{"--compression", "jpeg", "-Q", "90"} << "card_1.tiff"
                               << "tiff compression 7 photometric 6 samples 3" << 8.0 << true;
    QTest::newRow("tiff jpeg, gray") << (tiff + QStringList{"--gray"}) << QStringList{"--compression", "jpeg", "-Q", "90"}
                                     << "card_1.tiff" << "tiff compression 7 photometric 1 samples 1"
                                     << 3.0 << true;
    QTest::newRow("tiff deflate, every page in one file")
        << QStringList{"-t", "tiff", "-r", "40", "--multipage", "-p", "3,1"} << QStringList{"--compression", "deflate"}
        << "a.b.tiff"
        << "tiff compression 8 predictor 2 " + rgb + "; tiff compression 8 predictor 2 " + rgb << 0.0 << true;
}

void TestCli::encoderChoicesReadBack()
{
    QFETCH(QStringList, base);
    QFETCH(QStringList, choice);
    QFETCH(QString, file);
    QFETCH(QString, storage);
    QFETCH(double, meanDifference);
    QFETCH(bool, smaller);

    const QString document = pdf(file.startsWith("a.b") ? "a.b.pdf" : "card.pdf");
    const QString plain = freshOutput();
    const QString chosen = freshOutput();
    const CliRun plainRun = runCli(QStringList{"-q", "-o", plain} + base + QStringList{document});
    QVERIFY2(plainRun.status == 0, qPrintable(plainRun.err));
    const CliRun chosenRun = runCli(QStringList{"-q", "-o", chosen} + base + choice + QStringList{document});
    QVERIFY2(chosenRun.status == 0, qPrintable(chosenRun.err));
    QCOMPARE(filesIn(chosen), QStringList{file});

    const QString path = chosen + "/" + file;
    QCOMPARE(storageText(path), storage);
    const qint64 size = QFileInfo(path).size();
    const qint64 plainSize = QFileInfo(plain + "/" + file).size();
    if (smaller)
        QVERIFY2(size < plainSize, qPrintable(QStringLiteral("%1 bytes, %2 without").arg(size).arg(plainSize)));

    const int pages = file.endsWith(".tiff") ? int(storage.count(';')) + 1 : 1;
    for (int i = 0; i < pages; ++i) {
        const DecodedImage got = file.endsWith(".jpg") ? readJpeg(path) : readTiff(path, i);
        const DecodedImage expected = file.endsWith(".jpg") ? readJpeg(plain + "/" + file) : readTiff(plain + "/" + file, i);
        QVERIFY2(got.error.isEmpty(), qPrintable(got.error));
        if (meanDifference == 0) {
            const QString differences = imageDifferences(got, expected);
            QVERIFY2(differences.isEmpty(), qPrintable(differences));
        } else {
            const double mean = ::meanDifference(got, expected);
            QVERIFY2(mean >= 0 && mean <= meanDifference, qPrintable(QStringLiteral("mean difference %1").arg(mean)));
        }
    }
}

// The drawing options on drawn.pdf at 72 dpi (a pixel a point), read back by
// libpng, libtiff and libjpeg. Each row's check is also made on the run
// without its option, where it must fail: the option is what passes it.
//   grid: every pixel is the grid's colour at the page point it shows,
//         origin being the point of its top left corner (PDF coordinates);
//   pure: only the page's own white, black and red;
//   like page 4: the same pixels as the page without annotations;
//   cmyk: stored as CMYK, the left fill's inks and the right's full black;
//   outside: the page fails, with its reason, and leaves no file.
void TestCli::drawingOptionsReadBack_data()
{
    QTest::addColumn<QString>("renderer");
    QTest::addColumn<QString>("type");
    QTest::addColumn<int>("page");
    QTest::addColumn<QStringList>("option");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QPoint>("origin");

    const QStringList renderers = rendererBuiltIn(RendererKind::MuPdf) ? QStringList{"mupdf", "poppler"}
                                                                       : QStringList{"poppler"};
    for (const QString &renderer : renderers) {
        const auto row = [&renderer](const char *name) -> QTestData & {
            return QTest::newRow(qPrintable(renderer + ": " + name)) << renderer;
        };
        row("crop region") << "png" << 1 << QStringList{"--crop", "30,20,50,40"} << QSize(50, 40) << "grid"
                           << QPoint(40, 70);
        row("crop region clipped to the page") << "png" << 1 << QStringList{"--crop", "150,60,100,100"} << QSize(30, 20)
                                               << "grid" << QPoint(160, 30);
        row("crop region off the page") << "png" << 1 << QStringList{"--crop", "180,0,10,10"} << QSize() << "outside"
                                        << QPoint();
        row("no antialias") << "png" << 2 << QStringList{"--no-antialias"} << QSize(200, 100) << "pure" << QPoint();
        // Past the band budget (64 MiB) in two bands, the lower one drawn by
        // a helper thread on its own copy of the document, opened with the
        // same options.
        row("no antialias, two bands on two threads") << "png" << 2
                                                      << QStringList{"--no-antialias", "-j", "2", "-r", "2874"}
                                                      << QSize(7983, 3992) << "pure" << QPoint();
        row("no annotations") << "png" << 3 << QStringList{"--no-annotations"} << QSize(200, 100) << "like page 4"
                              << QPoint();
    }
    if (!renderers.contains("mupdf"))
        return;
    const auto row = [](const char *name) -> QTestData & { return QTest::newRow(name) << QStringLiteral("mupdf"); };
    row("box media") << "png" << 1 << QStringList{"--box", "media"} << QSize(200, 100) << "grid" << QPoint(0, 100);
    row("box bleed") << "png" << 1 << QStringList{"--box", "bleed"} << QSize(160, 70) << "grid" << QPoint(20, 85);
    row("box trim") << "png" << 1 << QStringList{"--box", "trim"} << QSize(140, 60) << "grid" << QPoint(30, 80);
    row("box art") << "png" << 1 << QStringList{"--box", "art"} << QSize(80, 40) << "grid" << QPoint(40, 70);
    row("box media, its region") << "png" << 1 << QStringList{"--box", "media", "--crop", "5,5,20,10"} << QSize(20, 10)
                                 << "grid" << QPoint(5, 95);
    row("box art in tiff, sized by --width") << "tiff" << 1 << QStringList{"--box", "art", "--width", "80"}
                                             << QSize(80, 40) << "grid" << QPoint(40, 70);
    row("cmyk jpg") << "jpg" << 5 << QStringList{"--cmyk"} << QSize(200, 100) << "cmyk" << QPoint();
    row("cmyk tiff") << "tiff" << 5 << QStringList{"--cmyk"} << QSize(200, 100) << "cmyk" << QPoint();
    row("cmyk tiff lzw") << "tiff" << 5 << QStringList{"--cmyk", "--compression", "lzw"} << QSize(200, 100) << "cmyk"
                         << QPoint();
}

void TestCli::drawingOptionsReadBack()
{
    QFETCH(QString, renderer);
    QFETCH(QString, type);
    QFETCH(int, page);
    QFETCH(QStringList, option);
    QFETCH(QSize, size);
    QFETCH(QString, expected);
    QFETCH(QPoint, origin);

    const QString file = QStringLiteral("drawn_%1.%2").arg(page).arg(type);
    const auto run = [&](const QStringList &arguments, int pageNumber, const QString &out) {
        // The option last: a -r or -t in it wins over the base's.
        const QStringList resolution = arguments.contains("--width") ? QStringList{} : QStringList{"-r", "72"};
        return runCli(QStringList{"-q", "-t", type, "--renderer", renderer, "-p", QString::number(pageNumber), "-o", out}
                      + resolution + arguments + QStringList{pdf("drawn.pdf")});
    };
    const auto read = [&type](const QString &path) {
        return type == "png" ? readPng(path) : type == "tiff" ? readTiff(path) : readJpeg(path);
    };
    QString pageFour;
    if (expected == "like page 4") {
        pageFour = freshOutput();
        const CliRun plain = run({}, 4, pageFour);
        QVERIFY2(plain.status == 0, qPrintable(plain.err));
    }

    // Empty when the run's output is what the row expects; else what is wrong.
    const auto check = [&](const CliRun &done, const QString &out) -> QString {
        if (expected == "outside") {
            if (done.status != 1 || !done.err.contains("page 1: the region 180,0,10,10 lies outside the page (180 x 80 pixels)"))
                return QStringLiteral("exit %1: %2").arg(done.status).arg(done.err);
            return filesIn(out).isEmpty() ? QString() : QStringLiteral("a file was left");
        }
        if (done.status != 0)
            return QStringLiteral("exit %1: %2").arg(done.status).arg(done.err);
        const QString path = out + "/" + file;
        const DecodedImage image = read(path);
        if (!image.error.isEmpty())
            return image.error;
        if (QSize(image.width, image.height) != size)
            return QStringLiteral("%1 x %2 pixels").arg(image.width).arg(image.height);
        if (expected == "grid") {
            for (int y = 0; y < image.height; ++y) {
                for (int x = 0; x < image.width; ++x) {
                    // The cell under the pixel's centre, at origin + (x, -y) in points.
                    const int i = (origin.x() + x) / 10;
                    const int j = (origin.y() - y - 1) / 10;
                    const int want[3] = {10 * i + 5, 20 * j + 15, (i * 7 + j * 13) % 256};
                    const uchar *got = image.row(y) + qsizetype(x) * image.channels;
                    for (int c = 0; c < 3; ++c) {
                        if (qAbs(int(got[c]) - want[c]) > 1)
                            return QStringLiteral("pixel %1,%2 is %3 %4 %5, the cell's colour %6 %7 %8")
                                .arg(x).arg(y).arg(got[0]).arg(got[1]).arg(got[2]).arg(want[0]).arg(want[1]).arg(want[2]);
                    }
                }
            }
            return QString();
        }
        if (expected == "pure") {
            int black = 0, red = 0;
            for (int y = 0; y < image.height; ++y) {
                for (int x = 0; x < image.width; ++x) {
                    const uchar *got = image.row(y) + qsizetype(x) * 3;
                    const QRgb rgb = qRgb(got[0], got[1], got[2]);
                    black += rgb == qRgb(0, 0, 0);
                    red += rgb == qRgb(255, 0, 0);
                    if (rgb != qRgb(0, 0, 0) && rgb != qRgb(255, 0, 0) && rgb != qRgb(255, 255, 255))
                        return QStringLiteral("pixel %1,%2 is %3 %4 %5").arg(x).arg(y).arg(got[0]).arg(got[1]).arg(got[2]);
                }
            }
            return black > 300 && red > 300 ? QString() : QStringLiteral("%1 black and %2 red pixels").arg(black).arg(red);
        }
        if (expected == "like page 4")
            return imageDifferences(image, read(pageFour + "/" + QStringLiteral("drawn_4.%1").arg(type)));
        if (expected == "cmyk") {
            const QString storage = storageText(path);
            const QString wanted = type == "jpg" ? "1x1 1x1 1x1 1x1 cmyk adobe" : "photometric 5 samples 4 inkset 1";
            if (!storage.endsWith(wanted))
                return QStringLiteral("stored as %1").arg(storage);
            const int tolerance = type == "jpg" ? 4 : 1;
            const QList<std::array<int, 4>> inks{{51, 102, 153, 26}, {0, 0, 0, 255}};
            for (int side = 0; side < 2; ++side) {
                const uchar *got = image.row(50) + qsizetype(50 + 100 * side) * 4;
                for (int c = 0; c < 4; ++c) {
                    if (qAbs(int(got[c]) - inks.at(side)[c]) > tolerance)
                        return QStringLiteral("inks %1 %2 %3 %4 on side %5").arg(got[0]).arg(got[1]).arg(got[2]).arg(got[3]).arg(side);
                }
            }
            return QString();
        }
        return QStringLiteral("unknown expectation ") + expected;
    };

    const QString chosen = freshOutput();
    const QString failure = check(run(option, page, chosen), chosen);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    const QString plain = freshOutput();
    QVERIFY2(!check(run({}, page, plain), plain).isEmpty(), "the run without the option passes as well");
}

// Output names from a pattern, on the 10-page document and on "a.b.pdf".
void TestCli::namePatterns_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("files");

    QTest::newRow("every field") << QStringList{"--name", "{name}-p{page:3}.{ext}", "-p", "7,10", "ten.pdf"}
                                 << QStringList{"ten-p007.png", "ten-p010.png"};
    QTest::newRow("page first, then the name") << QStringList{"--name", "{page}_{name}", "-p", "2", "a.b.pdf"}
                                               << QStringList{"2_a.b.png"};
    QTest::newRow("no {ext}: the type's added") << QStringList{"--name", "{name}-{page}", "-p", "7", "ten.pdf"}
                                                << QStringList{"ten-7.png"};
    QTest::newRow("the type's own, in any case") << QStringList{"--name", "{name}-{page}.PNG", "-p", "7", "ten.pdf"}
                                                 << QStringList{"ten-7.PNG"};
    QTest::newRow("another type's, then the type's") << QStringList{"--name", "{page}.jpg", "-p", "1", "ten.pdf"}
                                                     << QStringList{"1.jpg.png"};
    QTest::newRow("page padded by --pad") << QStringList{"--name", "s{page}.{ext}", "--pad", "-p", "3,10", "ten.pdf"}
                                          << QStringList{"s03.png", "s10.png"};
    QTest::newRow("a width below the number's own") << QStringList{"--name", "{page:1}.{ext}", "-p", "10", "ten.pdf"}
                                                    << QStringList{"10.png"};
    QTest::newRow("percent signs stay") << QStringList{"--name", "%1 {name} %2.{ext}", "-p", "1", "ten.pdf"}
                                        << QStringList{"%1 ten %2.png"};
    QTest::newRow("one multi-page file") << QStringList{"-t", "tiff", "--multipage", "--name", "all-{name}.tif", "three.pdf"}
                                         << QStringList{"all-three.tif"};
}

void TestCli::namePatterns()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, files);

    for (QString &argument : arguments) {
        if (argument.endsWith(".pdf"))
            argument = pdf(argument);
    }
    const QString out = freshOutput();
    const CliRun run = runCli(QStringList{"-q", "-t", "png", "-r", "10", "-o", out} + arguments);
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(filesIn(out), files);
}

// -o -: the page on standard output, byte for byte the file that a run into
// a folder writes, with no file made anywhere.
void TestCli::standardOutputHoldsTheFile_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("file");

    QTest::newRow("jpg") << QStringList{"-p", "2"} << "three_2.jpg";
    QTest::newRow("jpg progressive") << QStringList{"-p", "3", "--progressive"} << "three_3.jpg";
    QTest::newRow("png") << QStringList{"-t", "png", "-p", "2"} << "three_2.png";
    QTest::newRow("bmp, rows written bottom-up") << QStringList{"-t", "bmp", "-p", "2"} << "three_2.bmp";
    QTest::newRow("tiff, directory written last") << QStringList{"-t", "tiff", "-p", "2"} << "three_2.tiff";
    QTest::newRow("tiff lzw") << QStringList{"-t", "tiff", "--compression", "lzw", "-p", "1"} << "three_1.tiff";
    QTest::newRow("webp") << QStringList{"-t", "webp", "-p", "2"} << "three_2.webp";
}

void TestCli::standardOutputHoldsTheFile()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, file);

    const QString out = freshOutput();
    const CliRun written = runCli(QStringList{"-q", "-r", "30", "-o", out} + arguments + QStringList{pdf("three.pdf")});
    QVERIFY2(written.status == 0, qPrintable(written.err));
    QFile expected(out + "/" + file);
    QVERIFY(expected.open(QIODevice::ReadOnly));
    const QByteArray bytes = expected.readAll();
    QVERIFY(bytes.size() > 100);

    QTemporaryDir workdir;
    QVERIFY(workdir.isValid());
    QProcess process;
    process.setWorkingDirectory(workdir.path());
    process.start(QStringLiteral(VELLORAN_CLI), QStringList{"-q", "-r", "30", "-o", "-"} + arguments + QStringList{pdf("three.pdf")});
    QVERIFY(process.waitForFinished(120000));
    QCOMPARE(process.exitCode(), 0);
    QCOMPARE(process.readAllStandardError(), QByteArray());
    const QByteArray piped = process.readAllStandardOutput();
    QCOMPARE(piped.size(), bytes.size());
    QVERIFY(piped == bytes);
    QCOMPARE(filesIn(workdir.path()), QStringList());
    QVERIFY(QDir(workdir.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
}

// -o - over a worker that dies or hangs inside the page: what it had sent
// stays on standard output, the page fails, and the program lives to say so
// and end with exit 1.
void TestCli::standardOutputOutlivesItsWorker_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("misbehave");
    QTest::addColumn<QString>("error");

    QTest::newRow("crash mid-page") << QStringList{} << "crash 0:1" << "the renderer crashed (SIGSEGV)";
    QTest::newRow("deaf to the time limit") << QStringList{"--page-timeout", "1"} << "hang 0:1"
                                            << "timed out after 1 s";
}

void TestCli::standardOutputOutlivesItsWorker()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, misbehave);
    QFETCH(QString, error);

    QTemporaryDir workdir;
    QVERIFY(workdir.isValid());
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("VELLORAN_TEST_WORKER", misbehave);
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(workdir.path());
    process.start(QStringLiteral(VELLORAN_CLI),
                  QStringList{"-q", "-t", "png", "-r", "30", "-p", "2", "-o", "-"} + arguments + QStringList{pdf("three.pdf")});
    QVERIFY(process.waitForFinished(120000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(programErrors(process.readAllStandardError()),
             QStringLiteral("velloran-cli: %1: page 2: %2\n").arg(pdf("three.pdf"), error));
    QCOMPARE(process.exitCode(), 1);
    // The half page the worker wrote before it went.
    QCOMPARE(process.readAllStandardOutput(), QByteArray(4096, 'x'));
    QCOMPARE(filesIn(workdir.path()), QStringList());
}

// An image is no use on a terminal, and would garble it.
void TestCli::standardOutputRefusesATerminal()
{
    const QString script = QStandardPaths::findExecutable("script");
    if (script.isEmpty())
        QSKIP("script is needed to run the converter on a terminal");
    const QString command = QStringLiteral("'%1' -p 1 -r 20 -o - '%2'").arg(QStringLiteral(VELLORAN_CLI), pdf("three.pdf"));
    QProcess onTerminal;
    onTerminal.start(script, {"-qec", command, "/dev/null"});
    QVERIFY(onTerminal.waitForFinished(120000));
    QCOMPARE(onTerminal.exitCode(), 2);
    QCOMPARE(QString::fromLocal8Bit(onTerminal.readAllStandardOutput()).trimmed(),
             QStringLiteral("velloran-cli: -o - writes the image to standard output, which is a terminal: "
                            "send it to a pipe or a file"));
}

// A page that takes too long is given up and reported; the run goes on.
void TestCli::pageTimeoutGivesUpSlowPages()
{
    // Thousands of curves over 5000 x 5000 pixels take seconds in any build;
    // the small plain pages a fraction of one.
    QVERIFY(makeDrawingPdf(pdf("slow.pdf"), 20000, QSizeF(300, 300)));
    QVERIFY(makePdf(pdf("quick.pdf"), QList<QSizeF>(3, QSizeF(60, 60))));
    const QString out = freshOutput();
    const CliRun run = runCli({"-q", "-j", "1", "-t", "bmp", "-r", "1200", "--page-timeout", "1", "--json", "-o", out,
                               pdf("slow.pdf"), pdf("quick.pdf")});
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains(pdf("slow.pdf") + ": page 1: timed out after 1 s"), qPrintable(run.err));
    QCOMPARE(filesIn(out), (QStringList{"quick_1.bmp", "quick_2.bmp", "quick_3.bmp"}));
    const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 5);
    const QJsonObject slow = QJsonDocument::fromJson(lines.first().toUtf8()).object();
    QCOMPARE(slow.value("file").toString(), pdf("slow.pdf"));
    QCOMPARE(slow.value("page").toInt(), 1);
    QCOMPARE(slow.value("status").toString(), QStringLiteral("failed"));
    QCOMPARE(slow.value("error").toString(), QStringLiteral("timed out after 1 s"));
    QVERIFY(slow.value("milliseconds").toInteger() >= 1000);
    const QJsonObject summary = QJsonDocument::fromJson(lines.last().toUtf8()).object().value("summary").toObject();
    QCOMPARE(summary.value("written").toInt(), 3);
    QCOMPARE(summary.value("failed").toInt(), 1);
    QCOMPARE(summary.value("exit_status").toInt(), 1);
}

void TestCli::pageList_data()
{
    QTest::addColumn<QString>("pages");
    QTest::addColumn<int>("status");
    QTest::addColumn<QList<int>>("written");
    QTest::addColumn<QString>("message");

    // The window's page-list syntax on a 10-page document, read strictly:
    // nothing the user typed is dropped without a word.
    QTest::newRow("list and range") << "1,2,3,6-9" << 0 << QList<int>{1, 2, 3, 6, 7, 8, 9} << "";
    QTest::newRow("reversed range") << "9-6" << 2 << QList<int>{} << "the range 9-6 runs backwards: write 6-9";
    QTest::newRow("repeated page") << "3,1-4" << 0 << QList<int>{1, 2, 3, 4} << "";
    QTest::newRow("one-page range") << "5-5" << 0 << QList<int>{5} << "";
    QTest::newRow("leading zeros") << "007" << 0 << QList<int>{7} << "";
    QTest::newRow("spaces around parts") << " 4 , 5 - 6 " << 0 << QList<int>{4, 5, 6} << "";
    QTest::newRow("open range") << "8-" << 0 << QList<int>{8, 9, 10} << "";
    QTest::newRow("open range from the last page") << "10-" << 0 << QList<int>{10} << "";
    QTest::newRow("page, then open range") << "2, 9 -" << 0 << QList<int>{2, 9, 10} << "";
    QTest::newRow("odd") << "odd" << 0 << QList<int>{1, 3, 5, 7, 9} << "";
    QTest::newRow("even, any case") << " Even " << 0 << QList<int>{2, 4, 6, 8, 10} << "";
    QTest::newRow("even and a page") << "1,even" << 0 << QList<int>{1, 2, 4, 6, 8, 10} << "";
    QTest::newRow("open range past the end") << "11-" << 1 << QList<int>{} << "the document has only 10 pages";
    QTest::newRow("open range from zero") << "0-" << 2 << QList<int>{} << "page numbers start at 1";
    QTest::newRow("range to nowhere") << "-4" << 2 << QList<int>{} << "\"-4\" is not a page number, a range";
    QTest::newRow("odd range") << "odd-3" << 2 << QList<int>{} << "\"odd-3\" is not a page number";
    QTest::newRow("letter after a range") << "1-4,x" << 2 << QList<int>{} << "\"x\" is not a page number";
    QTest::newRow("trailing comma") << "1,2," << 2 << QList<int>{} << "\"\" is not a page number";
    QTest::newRow("two hyphens") << "1-2-3" << 2 << QList<int>{} << "\"1-2-3\" is not a page number";
    QTest::newRow("number past any integer") << "2,99999999999" << 1 << QList<int>{} << "the document has only 10 pages";
    QTest::newRow("zero") << "0" << 2 << QList<int>{} << "page numbers start at 1";
    QTest::newRow("range from zero") << "0-3" << 2 << QList<int>{} << "page numbers start at 1";
    QTest::newRow("zero before range test") << "0-999" << 2 << QList<int>{} << "page numbers start at 1";
    QTest::newRow("past the end") << "12" << 1 << QList<int>{} << "the document has only 10 pages";
    QTest::newRow("range past the end") << "2-12" << 1 << QList<int>{} << "the document has only 10 pages";
    QTest::newRow("good then bad") << "2,12" << 1 << QList<int>{} << "the document has only 10 pages";
    QTest::newRow("empty") << "" << 2 << QList<int>{} << "the page list is empty";
}

void TestCli::pageList()
{
    QFETCH(QString, pages);
    QFETCH(int, status);
    QFETCH(QList<int>, written);
    QFETCH(QString, message);

    const QString out = freshOutput();
    const CliRun run = runCli({"-q", "-t", "png", "-r", "10", "-p", pages, "-o", out, pdf("ten.pdf")});
    QCOMPARE(run.status, status);
    QCOMPARE(filesIn(out), pngNames("ten", written));
    if (message.isEmpty()) {
        QCOMPARE(run.err, QString());
    } else {
        // A page the document lacks is the document's (exit 1); a mistake in
        // the list itself is the command's, said once with no file's name.
        const QString prefix = status == 1 ? "velloran-cli: " + pdf("ten.pdf") + ": page list \"" + pages + "\": "
                                           : QStringLiteral("velloran-cli: ");
        QVERIFY2(run.err.startsWith(prefix), qPrintable(run.err));
        QCOMPARE(run.err.contains(pdf("ten.pdf")), status == 1);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QCOMPARE(run.err.count('\n'), 1);
    }
}

// -t takes the other usual spellings of a type, in any case; the files take
// the type's own extension and are of that type.
void TestCli::typeSpellings_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("signature");

    const QByteArray jpeg("\xff\xd8\xff", 3);
    const QByteArray tiff("II*\0", 4);
    QTest::newRow("jpeg") << "jpeg" << "three_1.jpg" << jpeg;
    QTest::newRow("JPEG") << "JPEG" << "three_1.jpg" << jpeg;
    QTest::newRow("jpg") << "jpg" << "three_1.jpg" << jpeg;
    QTest::newRow("tif") << "tif" << "three_1.tiff" << tiff;
    QTest::newRow("Tif") << "Tif" << "three_1.tiff" << tiff;
    QTest::newRow("tiff") << "tiff" << "three_1.tiff" << tiff;
}

void TestCli::typeSpellings()
{
    QFETCH(QString, type);
    QFETCH(QString, name);
    QFETCH(QByteArray, signature);
    const QString out = freshOutput();
    const CliRun run = runCli({"-q", "-t", type, "-r", "10", "-p", "1", "-o", out, pdf("three.pdf")});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(filesIn(out), QStringList{name});
    QCOMPARE(bytesOf(out + "/" + name).left(signature.size()), signature);
}

void TestCli::outputNamesAndSizes_data()
{
    QTest::addColumn<int>("resolution");
    QTest::addColumn<QList<QSize>>("sizes");

    QTest::newRow("72 dpi") << 72 << QList<QSize>{{595, 842}, {842, 595}, {100, 200}};
    QTest::newRow("150 dpi") << 150 << QList<QSize>{{1240, 1754}, {1754, 1240}, {208, 417}};
}

void TestCli::outputNamesAndSizes()
{
    QFETCH(int, resolution);
    QFETCH(QList<QSize>, sizes);

    const QString out = freshOutput() + "/made/on/demand";
    const CliRun run = runCli({"-t", "png", "-r", QString::number(resolution), "-o", out, pdf("a.b.pdf")});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.err, QString());
    QCOMPARE(filesIn(out), pngNames("a.b", {1, 2, 3}));
    for (int i = 0; i < sizes.size(); ++i)
        QCOMPARE(QImage(QStringLiteral("%1/a.b_%2.png").arg(out).arg(i + 1)).size(), sizes.at(i));
}

// One TIFF of many pages: a directory a page, in the order the pages were
// asked for, each of its own page's size, numbered from 0 of the count.
void TestCli::multipageDirectoriesInOrder_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QList<QSize>>("sizes");
    QTest::addColumn<int>("bits");

    QTest::newRow("three sizes") << QStringList{} << QList<QSize>{{595, 842}, {842, 595}, {100, 200}} << 8;
    QTest::newRow("pages asked last first, 1-bit")
        << QStringList{"--mono", "-p", "3,1"} << QList<QSize>{{100, 200}, {595, 842}} << 1;
}

void TestCli::multipageDirectoriesInOrder()
{
    QFETCH(QStringList, arguments);
    QFETCH(QList<QSize>, sizes);
    QFETCH(int, bits);

    const QString out = freshOutput();
    const CliRun run = runCli(QStringList{"-q", "-j", "2", "-t", "tiff", "--multipage", "-r", "72", "-o", out}
                              + arguments + QStringList{pdf("a.b.pdf")});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(filesIn(out), QStringList{"a.b.tiff"});
    QString error;
    QStringList directories;
    for (const TiffPage &page : tiffPages(out + "/a.b.tiff", &error)) {
        directories << QStringLiteral("%1 x %2, %3 bits, page %4 of %5%6")
                           .arg(page.width).arg(page.height).arg(page.bitsPerSample).arg(page.page).arg(page.pages)
                           .arg(page.isPage ? "" : ", not marked a page");
    }
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QStringList expected;
    for (int i = 0; i < sizes.size(); ++i) {
        expected << QStringLiteral("%1 x %2, %3 bits, page %4 of %5")
                        .arg(sizes.at(i).width()).arg(sizes.at(i).height()).arg(bits).arg(i).arg(sizes.size());
    }
    QCOMPARE(directories, expected);
}

// --multipage joins the pages that workers drew one by one without drawing
// them again: each page of the file decodes to the pixels of the same page
// written alone, in the order asked, stored the same way.
void TestCli::multipagePagesAreTheSinglePages_data()
{
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("colour, uncompressed") << QStringList{"--compression", "none"};
    QTest::newRow("colour, packbits") << QStringList{"--compression", "packbits"};
    QTest::newRow("colour, lzw") << QStringList{"--compression", "lzw"};
    QTest::newRow("colour, deflate") << QStringList{"--compression", "deflate"};
    QTest::newRow("colour, jpeg: tables and YCbCr") << QStringList{"--compression", "jpeg"};
    QTest::newRow("gray, jpeg") << QStringList{"--gray", "--compression", "jpeg"};
    QTest::newRow("1-bit, CCITT G4") << QStringList{"--mono"};
    QTest::newRow("transparent") << QStringList{"--transparent"};
    QTest::newRow("cmyk") << QStringList{"--cmyk"};
}

void TestCli::multipagePagesAreTheSinglePages()
{
    QFETCH(QStringList, arguments);

    const QStringList common = QStringList{"-q", "-j", "2", "-t", "tiff", "-r", "30", "-p", "3,1,2"} + arguments;
    const QString joined = freshOutput();
    const CliRun run = runCli(common + QStringList{"--multipage", "-o", joined, pdf("a.b.pdf")});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(filesIn(joined), QStringList{"a.b.tiff"});
    const QString single = freshOutput();
    const CliRun alone = runCli(common + QStringList{"-o", single, pdf("a.b.pdf")});
    QVERIFY2(alone.status == 0, qPrintable(alone.err));

    const QString file = joined + "/a.b.tiff";
    const QList<int> order{3, 1, 2};
    QString error;
    QCOMPARE(tiffPages(file, &error).size(), order.size());
    QStringList storage;
    for (int i = 0; i < order.size(); ++i) {
        const QString page = single + QStringLiteral("/a.b_%1.tiff").arg(order.at(i));
        const DecodedImage got = readTiff(file, i);
        const DecodedImage expected = readTiff(page);
        QVERIFY2(got.error.isEmpty() && expected.error.isEmpty(), qPrintable(got.error + expected.error));
        const QString differences = imageDifferences(got, expected);
        QVERIFY2(differences.isEmpty(), qPrintable(QStringLiteral("page %1: %2").arg(i + 1).arg(differences)));
        storage << storageText(page);
    }
    QCOMPARE(storageText(file), storage.join("; "));
}

// A worker that dies on a page of a multi-page file, or while it joins the
// pages: the file is given up whole (no name taken, no temporary file left),
// the run's other file is made, and the program ends with exit 1.
void TestCli::multipageOutlivesItsWorkers_data()
{
    QTest::addColumn<QString>("misbehave");
    QTest::addColumn<QStringList>("errors"); // "<page>: <error>", {file} for the file given up

    const QString givenUp = QStringLiteral("cannot write {file}: the file was given up when page 2 failed");
    QTest::newRow("a page crashes") << "crash 0:1"
                                    << QStringList{"1: " + givenUp, "2: the renderer crashed (SIGSEGV)", "3: " + givenUp};
    const QString joinLost = QStringLiteral("cannot write {file}: its pages could not be joined: the renderer crashed (SIGSEGV)");
    QTest::newRow("the joining crashes") << "crash 0:join"
                                         << QStringList{"1: " + joinLost, "2: " + joinLost, "3: " + joinLost};
}

void TestCli::multipageOutlivesItsWorkers()
{
    QFETCH(QString, misbehave);
    QFETCH(QStringList, errors);

    const QString out = freshOutput();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("VELLORAN_TEST_WORKER", misbehave);
    const CliRun run = runCli(QStringList{"-q", "-j", "2", "-t", "tiff", "--multipage", "-r", "30", "-o", out,
                                          pdf("three.pdf"), pdf("card.pdf")},
                              environment);
    QCOMPARE(run.status, 1);
    QStringList expected;
    for (const QString &error : std::as_const(errors))
        expected << QStringLiteral("velloran-cli: %1: page %2").arg(pdf("three.pdf"), error).replace("{file}", out + "/three.tiff");
    QStringList lines = run.err.split('\n', Qt::SkipEmptyParts);
    lines.sort();
    QCOMPARE(lines, expected);
    QCOMPARE(filesIn(out), QStringList{"card.tiff"}); // hidden ones too
    QString error;
    QCOMPARE(tiffPages(out + "/card.tiff", &error).size(), 1);
}

void TestCli::everyTypeAndSeveralFiles()
{
    for (const QString type : {"jpg", "png", "bmp", "tiff"}) {
        const QString out = freshOutput();
        const CliRun run = runCli({"-t", type, "-r", "20", "-o", out, pdf("three.pdf"), pdf("ten.pdf")});
        QCOMPARE(run.status, 0);
        QCOMPARE(filesIn(out).size(), 13);
        for (const QString &name : {QStringLiteral("three_3."), QStringLiteral("ten_10.")}) {
            QImageReader reader(out + "/" + name + type);
            QCOMPARE(reader.format(), type == "jpg" ? QByteArray("jpeg") : type.toLatin1());
            QCOMPARE(reader.size(), QSize(165, 234));
        }
    }
}

void TestCli::sameBytesFromWindowAndCommandLine_data()
{
    QTest::addColumn<QString>("type");
    QTest::newRow("jpg") << "jpg";
    QTest::newRow("png") << "png";
    QTest::newRow("bmp") << "bmp";
    QTest::newRow("tiff") << "tiff";
}

// The window's worker and the command line share one page pipeline: the same
// settings give the same bytes, whatever the number of threads.
void TestCli::sameBytesFromWindowAndCommandLine()
{
    QFETCH(QString, type);

    const QString window = freshOutput();
    QVERIFY(QDir().mkpath(window));
    PdfLoadResult loaded = loadPdf(pdf("ten.pdf"));
    QVERIFY(loaded.document);
    Process process;
    process.pdfDoc = &openedDocument; // the window's, as it would be
    process.qsPdfFile = pdf("ten.pdf");
    process.qsOutputDir = window;
    process.qsExtension = type;
    process.resolution = 60;
    process.quality = 80;
    process.pageList = allPages(10);
    std::atomic<bool> ended{false};
    connect(&process, &QThread::finished, &process, [&ended] { ended.store(true, std::memory_order_release); },
            Qt::DirectConnection);
    process.start();
    QVERIFY(process.wait(QDeadlineTimer(120000)) && ended.load(std::memory_order_acquire));
    QCOMPARE(process.convertedCount, 10u);

    const QStringList names = filesIn(window);
    QCOMPARE(names.size(), 10);
    for (const char *jobs : {"1", "2"}) {
        const QString out = freshOutput();
        const CliRun run = runCli({"--renderer", "poppler", "-j", jobs, "-t", type, "-r", "60", "-Q", "80", "-o", out,
                                   pdf("ten.pdf")});
        // A thread sanitizer build reports a race here when threads share Poppler state.
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QCOMPARE(filesIn(out), names);
        for (const QString &name : names) {
            QFile a(window + "/" + name);
            QFile b(out + "/" + name);
            QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
            QVERIFY2(a.readAll() == b.readAll(), qPrintable(QStringLiteral("%1 with -j %2").arg(name, jobs)));
        }
    }
}

// The command line is built without the window's settings store, whose
// start-up makes a settings folder wherever the program runs.
void TestCli::leavesNoSettingsFolder()
{
    QTemporaryDir workdir;
    QVERIFY(workdir.isValid());
    QProcess process;
    process.setWorkingDirectory(workdir.path());
    process.start(QStringLiteral(VELLORAN_CLI), {"-q", "-p", "1", "-r", "20", pdf("three.pdf")});
    QVERIFY(process.waitForFinished(120000));
    QCOMPARE(process.exitCode(), 0);
    QCOMPARE(QDir(workdir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"three_1.jpg"});
}

void TestCli::lockedPdf_data()
{
    QTest::addColumn<QStringList>("password");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");

    // Each says what to do.
    QTest::newRow("no password") << QStringList{} << 1 << "locked.pdf: the PDF needs a password: give it with --password\n";
    QTest::newRow("wrong password") << QStringList{"--password", "guess"} << 1
                                    << "locked.pdf: wrong password: give the right one with --password\n";
    QTest::newRow("right password") << QStringList{"--password", "velvet"} << 0 << "";
}

void TestCli::lockedPdf()
{
    QFETCH(QStringList, password);
    QFETCH(int, status);
    QFETCH(QString, message);

    const QString qpdf = QStandardPaths::findExecutable("qpdf");
    if (qpdf.isEmpty())
        QSKIP("qpdf is needed to encrypt a test PDF");
    const QString locked = pdf("locked.pdf");
    if (!QFileInfo::exists(locked))
        QCOMPARE(QProcess::execute(qpdf, {"--encrypt", "velvet", "owner", "256", "--", pdf("three.pdf"), locked}), 0);

    const QString out = freshOutput();
    const CliRun run = runCli(QStringList{"-r", "20", "-o", out, locked} + password);
    QCOMPARE(run.status, status);
    if (status == 0) {
        QCOMPARE(filesIn(out), (QStringList{"locked_1.jpg", "locked_2.jpg", "locked_3.jpg"}));
    } else {
        QCOMPARE(run.err, "velloran-cli: " + dir.path() + "/" + message);
        QVERIFY(!QFileInfo::exists(out));
    }
}

// A size at which no page of any input can be drawn (past the format's own
// limits: JPEG 65500 pixels a side, WebP 16383) is the command's mistake,
// refused before anything is drawn or made (exit 2). Where some input's pages
// fit, a page that does not fails alone (exit 1).
void TestCli::hugePageIsRefused_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("errors"); // all of stderr; {dir}: the test's folder, {huge}: the fixture
    QTest::addColumn<QStringList>("written");

    QTest::newRow("past JPEG's limit") << QStringList{"-t", "jpg", "-r", "99999", "-p", "1,3", "three.pdf"} << 2
                                       << "velloran-cli: no page can be drawn at 99999 dpi: page 1 of {dir}/three.pdf "
                                          "would be 826381 x 1169433 pixels; a JPEG image has at most 65500 pixels a "
                                          "side: give a lower resolution with -r\n"
                                       << QStringList();
    QTest::newRow("the top resolution") << QStringList{"-r", "999999", "three.pdf", "ten.pdf"} << 2
                                        << "velloran-cli: no page can be drawn at 999999 dpi: page 1 of "
                                           "{dir}/three.pdf would be 8263881 x 11694433 pixels; a JPEG image has at "
                                           "most 65500 pixels a side: give a lower resolution with -r\n"
                                        << QStringList();
    QTest::newRow("pixels past WebP's limit") << QStringList{"-t", "webp", "--scale-to", "20000", "three.pdf"} << 2
                                              << "velloran-cli: no page can be drawn at that size: page 1 of "
                                                 "{dir}/three.pdf would be 14133 x 20000 pixels; a WebP image has at "
                                                 "most 16383 pixels a side: give a smaller size\n"
                                              << QStringList();
    // A page box of 1e9 points: its size in bytes is past any integer, which
    // must read as too large, not overflow into something small.
    QTest::newRow("a page box of 1e9 points") << QStringList{"-t", "png", "-r", "150", "{huge}"} << 2
                                              << "velloran-cli: no page can be drawn at 150 dpi: page 1 of {huge} "
                                                 "would be 2083333333 x 2083333333 pixels: give a lower resolution "
                                                 "with -r\n"
                                              << QStringList();
    QTest::newRow("beside a page that fits") << QStringList{"-t", "png", "-r", "150", "{huge}", "one.pdf"} << 1
                                             << "velloran-cli: {huge}: page 1: page too large to render at 150 dpi "
                                                "(2083333333 x 2083333333 pixels)\n"
                                             << QStringList{"one_1.png"};
}

void TestCli::hugePageIsRefused()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, errors);
    QFETCH(QStringList, written);
    const QString huge = qEnvironmentVariable("VELLORAN_TEST_DATA") + "/huge-mediabox.pdf";
    for (QString &argument : arguments) {
        if (argument == "{huge}")
            argument = huge;
        else if (argument.endsWith(".pdf"))
            argument = pdf(argument);
    }
    const QString out = freshOutput();
    const CliRun run = runCli(QStringList{"-q", "-o", out} + arguments);
    QCOMPARE(run.status, status);
    QCOMPARE(run.err, errors.replace("{dir}", dir.path()).replace("{huge}", huge));
    if (status == 2)
        QVERIFY2(!QFileInfo::exists(out), "a refused run must not make the output folder");
    else
        QCOMPARE(filesIn(out), written);
}

void TestCli::failedPageDoesNotStopOthers()
{
    const QString out = freshOutput();
    QVERIFY(QDir().mkpath(out + "/three_2.png"));
    const CliRun run = runCli({"-t", "png", "-r", "20", "-o", out, pdf("three.pdf")});
    QCOMPARE(run.status, 1);
    // A folder in the way of a page's output is named as such, with what to do.
    QCOMPARE(run.err, "velloran-cli: " + pdf("three.pdf") + ": page 2: cannot write " + out
                          + "/three_2.png: a folder of that name is in the way: move or rename it, or give -o "
                            "another folder\n");
    QCOMPARE(filesIn(out), (QStringList{"three_1.png", "three_3.png"}));
}

void TestCli::progressLineOnTerminalOnly()
{
    const QString script = QStandardPaths::findExecutable("script");
    if (script.isEmpty())
        QSKIP("script is needed to run the converter on a terminal");

    const QString command = QStringLiteral("'%1' -j 2 -t png -r 20 -o '%2' '%3'")
                                .arg(QStringLiteral(VELLORAN_CLI), freshOutput(), pdf("ten.pdf"));
    QProcess onTerminal;
    onTerminal.start(script, {"-qec", command, "/dev/null"});
    QVERIFY(onTerminal.waitForFinished(240000));
    QCOMPARE(onTerminal.exitCode(), 0);
    const QString shown = QString::fromLocal8Bit(onTerminal.readAllStandardOutput());
    QVERIFY2(shown.contains(QRegularExpression("\r10 of 10 pages, [0-9.]+ pages/s")), qPrintable(shown));

    const QString quietCommand = command + " -q";
    QProcess quiet;
    quiet.start(script, {"-qec", quietCommand, "/dev/null"});
    QVERIFY(quiet.waitForFinished(240000));
    QCOMPARE(quiet.exitCode(), 0);
    QCOMPARE(QString::fromLocal8Bit(quiet.readAllStandardOutput()).trimmed(), QString());

    // Not a terminal: the successful runs above through QProcess print nothing.
    const CliRun piped = runCli({"-t", "png", "-r", "20", "-o", freshOutput(), pdf("three.pdf")});
    QCOMPARE(piped.status, 0);
    QCOMPARE(piped.err, QString());
}

void TestCli::interruptLeavesWholeFiles()
{
    const QString out = freshOutput();
    QProcess process;
    process.start(QStringLiteral(VELLORAN_CLI), {"-j", "2", "-t", "png", "-r", "100", "-o", out, pdf("forty.pdf")});
    QVERIFY(process.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(!filesIn(out).isEmpty(), 60000);
    ::kill(pid_t(process.processId()), SIGINT);
    QVERIFY(process.waitForFinished(120000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 130);
    const QString err = programErrors(process.readAllStandardError());
    QVERIFY2(err.contains(QRegularExpression("^velloran-cli: interrupted: \\d+ of 40 pages written: run the same "
                                             "command with --skip-existing to do the rest\n$")),
             qPrintable(err));

    const QStringList names = filesIn(out);
    QVERIFY(names.size() < 40);
    QHash<QString, ino_t> inodes;
    for (const QString &name : names) {
        QVERIFY2(name.endsWith(".png") && name.startsWith("forty_"), qPrintable(name));
        QCOMPARE(QImage(out + "/" + name).size(), QSize(826, 1169));
        struct stat status = {};
        QCOMPARE(::stat(QFile::encodeName(out + "/" + name).constData(), &status), 0);
        inodes.insert(name, status.st_ino);
    }

    // Run again, it does only the rest: what is there stays, untouched.
    const CliRun resumed = runCli({"-q", "-j", "2", "-t", "png", "-r", "100", "--skip-existing", "--json", "-o", out,
                                   pdf("forty.pdf")});
    QVERIFY2(resumed.status == 0, qPrintable(resumed.err));
    QCOMPARE(filesIn(out).size(), 40);
    for (auto it = inodes.cbegin(); it != inodes.cend(); ++it) {
        struct stat status = {};
        QCOMPARE(::stat(QFile::encodeName(out + "/" + it.key()).constData(), &status), 0);
        QCOMPARE(status.st_ino, it.value());
    }
    const QStringList lines = resumed.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 41);
    QCOMPARE(lines.filter(QStringLiteral("\"status\":\"skipped\"")).size(), names.size());
    const QJsonObject summary = QJsonDocument::fromJson(lines.last().toUtf8()).object().value("summary").toObject();
    QCOMPARE(summary.value("skipped").toInt(), int(names.size()));
    QCOMPARE(summary.value("written").toInt(), 40 - int(names.size()));
}

// Ctrl-C while pages go into one TIFF: the pages written so far do not make
// a file, or a --skip-existing run would take it for done and never convert
// the pages it lacks.
void TestCli::interruptedMultipageLeavesNoFile()
{
    // Pages that take a third of a second or more each to draw: the stop comes once
    // the first page is in the file, with pages still to be drawn.
    QVERIFY(makeDrawingPdf(pdf("slowpages.pdf"), 700, QSizeF(300, 300), 4));
    const QString out = freshOutput();
    const QStringList arguments{"-q", "-j", "1", "-t", "tiff", "--multipage", "-r", "150", "-o", out,
                                pdf("slowpages.pdf")};
    QProcess process;
    process.start(QStringLiteral(VELLORAN_CLI), arguments);
    QVERIFY(process.waitForStarted());
    // Each page is held whole under a temporary name until the file's pages
    // are joined: two of them, the first is drawn and the second begun.
    const auto held = [&out] { return filesIn(out).size(); };
    QTRY_VERIFY_WITH_TIMEOUT(held() >= 2 || process.state() == QProcess::NotRunning, 120000);
    QVERIFY2(process.state() == QProcess::Running, "the run ended before it could be stopped");
    ::kill(pid_t(process.processId()), SIGINT);
    QVERIFY(process.waitForFinished(120000));
    QCOMPARE(process.exitCode(), 130);
    QCOMPARE(filesIn(out), QStringList());

    const CliRun resumed = runCli(arguments + QStringList{"--skip-existing", "--json"});
    QVERIFY2(resumed.status == 0, qPrintable(resumed.err));
    const QStringList lines = resumed.out.split('\n', Qt::SkipEmptyParts);
    QVERIFY(!lines.isEmpty());
    const QJsonObject summary = QJsonDocument::fromJson(lines.last().toUtf8()).object().value("summary").toObject();
    QCOMPARE(summary.value("written").toInt(), 4);
    QCOMPARE(filesIn(out), QStringList{"slowpages.tiff"});
    QString error;
    QCOMPARE(tiffPages(out + "/slowpages.tiff", &error).size(), 4);
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

// Ctrl-C while a page takes minutes to draw: the page stops where it is.
void TestCli::interruptInsideAHugePage()
{
    const QString out = freshOutput();
    QProcess process;
    process.start(QStringLiteral(VELLORAN_CLI), {"-j", "1", "-t", "png", "-r", "2000", "-o", out, pdf("heavy.pdf")});
    QVERIFY(process.waitForStarted());
    // The hidden file appears once the first band is drawn; the rest takes seconds more.
    QTRY_VERIFY_WITH_TIMEOUT(!filesIn(out).isEmpty(), 120000);
    QElapsedTimer sinceInterrupt;
    sinceInterrupt.start();
    ::kill(pid_t(process.processId()), SIGINT);
    QVERIFY(process.waitForFinished(120000));
    const qint64 elapsed = sinceInterrupt.elapsed();
    QCOMPARE(process.exitCode(), 130);
    QVERIFY2(elapsed < stopBoundMs, qPrintable(QStringLiteral("ended %1 ms after Ctrl-C").arg(elapsed)));
    QCOMPARE(filesIn(out), QStringList());
}

void TestCli::planKeepsPageOrder()
{
    BatchOptions options;
    options.files = QStringList{pdf("ten.pdf"), pdf("three.pdf")};
    options.outputDir = freshOutput();
    options.pages = "3,1-2";
    const BatchPlan plan = planInWorkers(options);
    QCOMPARE(plan.errors, QStringList());
    QCOMPARE(plan.files.size(), 2);
    QCOMPARE(plan.files.at(0).pages, (QList<int>{2, 0, 1}));
    QCOMPARE(plan.files.at(1).pages, (QList<int>{2, 0, 1}));
    QCOMPARE(plan.pageCount(), 6);
    QVERIFY(QFileInfo(options.outputDir).isDir());
}

void TestCli::planWritesNothingWhenAFileFails()
{
    BatchOptions options;
    options.files = QStringList{pdf("ten.pdf"), pdf("broken.pdf"), pdf("missing.pdf")};
    options.outputDir = freshOutput();
    // The files that open are converted; the others are reported.
    BatchPlan plan = planInWorkers(options);
    QCOMPARE(plan.errors, QStringList());
    QCOMPARE(plan.files.size(), 1);
    QCOMPARE(plan.files.first().path, pdf("ten.pdf"));
    QCOMPARE(plan.refused.size(), 2);
    QCOMPARE(refusalText(plan.refused.at(0)), pdf("broken.pdf") + ": cannot be opened as a PDF (damaged or not a PDF)");
    QCOMPARE(refusalText(plan.refused.at(1)), pdf("missing.pdf") + ": no such file: check the name and the folder");
    QVERIFY(QFileInfo(options.outputDir).isDir());

    // All or nothing: nothing, not even the folders made for the workers
    // that opened the inputs.
    const QString outer = freshOutput();
    options.outputDir = outer + "/a/b";
    options.allOrNothing = true;
    plan = planInWorkers(options);
    QCOMPARE(plan.errors.size(), 2);
    QVERIFY(plan.errors.at(0).startsWith(pdf("broken.pdf") + ": "));
    QCOMPARE(plan.errors.at(1), pdf("missing.pdf") + ": no such file: check the name and the folder");
    QVERIFY(!QFileInfo::exists(outer));
}

void TestCli::stopBeforeStartConvertsNothing()
{
    BatchOptions options;
    options.files = QStringList{pdf("three.pdf")};
    options.outputDir = freshOutput();
    const BatchPlan plan = planInWorkers(options);
    QCOMPARE(plan.errors, QStringList());

    int reported = 0;
    const std::atomic<bool> stopped{true};
    const ConversionSummary summary = BatchWorkers(options, WorkerLimits{2}, stopped)
                                          .convert(plan, [&reported](const QString &, const PageOutcome &) { ++reported; });
    QCOMPARE(reported, 0);
    QCOMPARE(summary.notStarted, 3);
    QCOMPARE(filesIn(options.outputDir), QStringList());

    const std::atomic<bool> running{false};
    const ConversionSummary done = BatchWorkers(options, WorkerLimits{4}, running).convert(plan, {});
    QCOMPARE(done.written, 3);
    QCOMPARE(done.failed + done.notStarted, 0);
    QCOMPARE(filesIn(options.outputDir), (QStringList{"three_1.jpg", "three_2.jpg", "three_3.jpg"}));
}

// 80 CJK characters take 240 bytes, near the 255 a file name may have: the
// temporary file beside the output must not be what pushes it over.
void TestCli::longNamesFitTheirTemporaryFile()
{
    const QString name = QString(80, QChar(0x8868));
    QVERIFY(QFile::copy(pdf("three.pdf"), dir.filePath(name + ".pdf")));
    const QString out = freshOutput();
    const CliRun run = runCli({"-q", "-t", "png", "-r", "20", "-o", out, dir.filePath(name + ".pdf")});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(filesIn(out), (QStringList{name + "_1.png", name + "_2.png", name + "_3.png"}));
    const QImage page(out + "/" + name + "_1.png");
    QCOMPARE(qRound(page.dotsPerMeterX() * 0.0254), 20);
}

// The drawing before the threads start must draw something even where a page
// has no pixel at a low resolution, or the race it prevents comes back.
void TestCli::warmUpDrawsOnTinyPages()
{
    QVERIFY(makePdf(pdf("stamp.pdf"), {QSizeF(20, 20)}));
    const PdfLoadResult loaded = loadPdf(pdf("stamp.pdf"));
    QVERIFY(loaded.document);
    QCOMPARE(renderPage(loaded.document.get(), 0, 1).status, PageRenderStatus::TooSmall);
    QVERIFY(drawOnePixel(loaded.document.get(), 0));
}

// Environments that go wrong: the system's own reason for a failed write, a
// lost report that is not reported as success, a stop that acts at once.
void TestCli::hostileEnvironments_data()
{
    QTest::addColumn<QStringList>("arguments");
    // "tmpfs": the output folder on a full file system; "full stdout"; "closed stdout": a
    // pipe whose reader has gone; "Ctrl-C"; "failing sync": every fsync and fdatasync fails
    QTest::addColumn<QString>("setting");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");

    for (const char *type : {"bmp", "png", "jpg", "tiff", "webp"}) {
        QTest::addRow("full file system, %s", type)
            << QStringList{"-q", "-j", "1", "-t", type, "-r", "100", "-p", "1", "drawing.pdf"} << "tmpfs" << 1
            << QStringLiteral("drawing.pdf: page 1: cannot write %OUT%/drawing_1.%1: No space left on device")
                   .arg(QLatin1String(type));
    }
    // The first page to meet the full disk stops the run: one line for it, one for the rest.
    QTest::newRow("full file system, ten pages")
        << QStringList{"-q", "-j", "1", "-t", "bmp", "-r", "100", "ten.pdf"} << "tmpfs" << 1
        << "velloran-cli: stopped: %OUT%: No space left on device; 0 of 10 pages written, 9 not started: make room "
           "there or give -o another folder, then add --skip-existing to do the rest\n";
    QTest::newRow("full file system, ten pages, --skip-existing")
        << QStringList{"-q", "-j", "1", "-t", "bmp", "-r", "100", "--skip-existing", "ten.pdf"} << "tmpfs" << 1
        << "velloran-cli: stopped: %OUT%: No space left on device; 0 of 10 pages written, 9 not started: make room "
           "there or give -o another folder, then run the same command again to do the rest\n";
    // The report's stopped_because holds what the line says: the reason, the counts and what to do.
    QTest::newRow("full file system, ten pages, --json")
        << QStringList{"-q", "--json", "-j", "1", "-t", "bmp", "-r", "100", "ten.pdf"} << "tmpfs" << 1
        << "velloran-cli: stopped: %OUT%: No space left on device; 0 of 10 pages written, 9 not started: make room "
           "there or give -o another folder, then add --skip-existing to do the rest\n";
    QTest::newRow("full file system, multi-page tiff")
        << QStringList{"-q", "-t", "tiff", "--multipage", "-r", "100", "-p", "1", "drawing.pdf"} << "tmpfs" << 1
        << "drawing.pdf: page 1: cannot write %OUT%/drawing.tiff: No space left on device";
    QTest::newRow("--json > /dev/full") << QStringList{"-q", "--json", "-r", "20", "-p", "1", "three.pdf"}
                                        << "full stdout" << 3
                                        << "velloran-cli: the JSON report could not be written whole: No space left on device";
    QTest::newRow("-o - into a closed pipe")
        << QStringList{"-q", "-t", "png", "-r", "100", "-p", "1", "-o", "-", "drawing.pdf"} << "closed stdout" << 1
        << "drawing.pdf: page 1: cannot write to standard output: it was closed by the program reading it, "
           "before the page was whole\n";
    // A page that a later run counts as done is flushed to the disk before it
    // takes its name; a run that writes every page anew waits for no disk.
    QTest::newRow("--skip-existing, the disk fails to flush")
        << QStringList{"-q", "-j", "1", "--skip-existing", "-r", "20", "-p", "1", "three.pdf"} << "failing sync" << 1
        << "three.pdf: page 1: cannot write %OUT%/three_1.jpg: Input/output error";
    QTest::newRow("no flush without --skip-existing")
        << QStringList{"-q", "-j", "1", "-r", "20", "-p", "1", "three.pdf"} << "failing sync" << 0 << "";
    QTest::newRow("Ctrl-C in the warm-up draw")
        << QStringList{"-q", "-j", "1", "-r", "1", "operators.pdf"} << "Ctrl-C" << 130
        << "velloran-cli: interrupted: 0 of 1 pages written: run the same command with --skip-existing to do the "
           "rest\n";
    QTest::newRow("Ctrl-C, --skip-existing given")
        << QStringList{"-q", "-j", "1", "-r", "1", "--skip-existing", "operators.pdf"} << "Ctrl-C" << 130
        << "velloran-cli: interrupted: 0 of 1 pages written: run the same command again to do the rest\n";
}

void TestCli::hostileEnvironments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, setting);
    QFETCH(int, status);
    QFETCH(QString, message);

    if (!QFileInfo::exists(pdf("drawing.pdf")))
        QVERIFY(makeDrawingPdf(pdf("drawing.pdf"), 60));
    if (!QFileInfo::exists(pdf("operators.pdf")))
        QVERIFY(makeManyOperatorsPdf(pdf("operators.pdf")));

    const QString out = freshOutput();
    QVERIFY(QDir().mkpath(out));
    std::unique_ptr<TinyFileSystem> tiny;
    if (setting == "tmpfs") {
        tiny = std::make_unique<TinyFileSystem>(out);
        if (!tiny->isMounted())
            QSKIP("mounting a 16 KiB tmpfs needs root; the full file system is not tried");
    }
    QStringList full{"-o", out};
    for (const QString &argument : arguments)
        full << (argument.endsWith(".pdf") ? pdf(argument) : argument);

    QProcess process;
    if (setting == "full stdout")
        process.setStandardOutputFile(QStringLiteral("/dev/full"));
    if (setting == "closed stdout")
        process.setChildProcessModifier([] {
            int ends[2];
            if (::pipe(ends) == 0) {
                ::dup2(ends[1], STDOUT_FILENO);
                ::close(ends[0]);
                ::close(ends[1]);
            }
        });
    if (setting == "failing sync") {
        if (seccompArch == 0)
            QSKIP("no system call filter for this processor here");
        process.setChildProcessModifier(failSyncCalls);
    }
    process.start(QStringLiteral(VELLORAN_CLI), full);
    QVERIFY(process.waitForStarted());
    QElapsedTimer sinceInterrupt;
    if (setting == "Ctrl-C") {
        // Half a second of CPU: past starting and reading the file, inside the
        // drawing of one pixel before the pages start, which takes seconds.
        QTRY_VERIFY_WITH_TIMEOUT(cpuSeconds(process.processId()) > 0.5, 60000);
        sinceInterrupt.start();
        ::kill(pid_t(process.processId()), SIGINT);
    }
    QVERIFY(process.waitForFinished(120000));
    if (sinceInterrupt.isValid()) {
        const qint64 elapsed = sinceInterrupt.elapsed();
        QVERIFY2(elapsed < stopBoundMs, qPrintable(QStringLiteral("ended %1 ms after Ctrl-C").arg(elapsed)));
    }
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    const QString err = programErrors(process.readAllStandardError());
    QVERIFY2(process.exitCode() == status, qPrintable(err));
    message.replace("%OUT%", out);
    QVERIFY2(err.contains(message), qPrintable(err));
    if (setting == "tmpfs")
        QVERIFY2(err.count("No space left on device") <= 2, qPrintable(err));
    if (setting == "tmpfs" && arguments.contains("--json")) {
        const QByteArray report = process.readAllStandardOutput();
        const QJsonObject summary = jsonLines(QString::fromUtf8(report)).last().value("summary").toObject();
        QCOMPARE("velloran-cli: stopped: " + summary.value("stopped_because").toString() + "\n", message);
    }
    if (status == 0)
        QCOMPARE(filesIn(out), QStringList{"three_1.jpg"});
    else if (setting != "full stdout")
        QCOMPARE(filesIn(out), QStringList());
}

// ssh turns Ctrl-C on a remote job into SIGTERM and closes the job's stderr:
// the stop is the same as Ctrl-C's, and the report still reaches stdout.
void TestCli::sigtermWithStderrClosed()
{
    const QString out = freshOutput();
    const QString report = dir.filePath("sigterm.jsonl");
    // stderr is a pipe whose reading end is closed: writes to it fail with EPIPE.
    int closedPipe[2];
    QCOMPARE(::pipe(closedPipe), 0);
    ::close(closedPipe[0]);
    QProcess process;
    process.setStandardOutputFile(report);
    process.setChildProcessModifier([writeEnd = closedPipe[1]] { ::dup2(writeEnd, STDERR_FILENO); });
    process.start(QStringLiteral(VELLORAN_CLI),
                  {"-j", "2", "-t", "png", "-r", "100", "--json", "-o", out, pdf("forty.pdf")});
    ::close(closedPipe[1]);
    QVERIFY(process.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(!filesIn(out).filter(".png").isEmpty(), 60000);
    ::kill(pid_t(process.processId()), SIGTERM);
    QVERIFY(process.waitForFinished(120000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 128 + SIGTERM);

    const QList<QJsonObject> lines = jsonLines(QString::fromUtf8(bytesOf(report)));
    QVERIFY(!lines.isEmpty());
    const QJsonObject summary = lines.last().value("summary").toObject();
    QCOMPARE(summary.value("exit_status").toInt(), 128 + SIGTERM);
    QCOMPARE(summary.value("files").toArray(), QJsonArray{pdf("forty.pdf")});
    const QStringList names = filesIn(out);
    QCOMPARE(summary.value("written").toInt(), int(names.size()));
    QVERIFY(summary.value("not_started").toInt() > 0);
    QCOMPARE(lines.size(), names.size() + 1);
    for (const QString &name : names) { // only whole pages, no temporary file
        QVERIFY2(name.startsWith("forty_") && name.endsWith(".png"), qPrintable(name));
        QCOMPARE(QImage(out + "/" + name).size(), QSize(826, 1169));
    }
}

// Two inputs of one name in two folders: each gets its own output folder,
// and neither is written over the other.
void TestCli::outputTreeKeepsSameNamesApart()
{
    const QString root = dir.filePath("tree");
    QVERIFY(QDir().mkpath(root + "/2023") && QDir().mkpath(root + "/2024/q1"));
    QVERIFY(makePdf(root + "/2023/report.pdf", 2));
    QVERIFY(makePdf(root + "/2024/q1/report.pdf", {a4Landscape}));

    const QString out = freshOutput();
    const CliRun run = runCli({"-q", "-t", "png", "-r", "20", "--output-tree", root, "-o", out,
                               root + "/2023/report.pdf", root + "/2024/q1/report.pdf"});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(filesIn(out + "/2023"), (QStringList{"report_1.png", "report_2.png"}));
    QCOMPARE(filesIn(out + "/2024/q1"), QStringList{"report_1.png"});
    // The same bytes as each converted alone.
    for (const QString &input : {QStringLiteral("2023/report.pdf"), QStringLiteral("2024/q1/report.pdf")}) {
        const QString alone = freshOutput();
        QCOMPARE(runCli({"-q", "-t", "png", "-r", "20", "-p", "1", "-o", alone, root + "/" + input}).status, 0);
        QCOMPARE(bytesOf(out + "/" + QFileInfo(input).path() + "/report_1.png"), bytesOf(alone + "/report_1.png"));
    }

    // An input outside the root has no place in the tree: refused before anything is written.
    const QString refusedOut = freshOutput();
    const CliRun outside = runCli({"-q", "--output-tree", root, "-o", refusedOut, root + "/2023/report.pdf",
                                   pdf("three.pdf")});
    QCOMPARE(outside.status, 2);
    QCOMPARE(outside.err, QStringLiteral("velloran-cli: %1: outside the --output-tree folder %2\n")
                              .arg(pdf("three.pdf"), root));
    QVERIFY(!QFileInfo::exists(refusedOut));
}

void TestCli::skipExistingChecksWholeness_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("there"); // what the output's name holds before the run
    QTest::addColumn<QString>("redoneBecause"); // empty: skipped

    QTest::newRow("empty png") << "png" << "empty" << "the file is empty";
    QTest::newRow("png cut short") << "png" << "cut" << "cut short: no PNG end (IEND)";
    QTest::newRow("jpg cut short") << "jpg" << "cut" << "cut short: no JPEG end marker (EOI)";
    QTest::newRow("bmp cut short") << "bmp" << "cut" << "cut short: 116099 bytes of the 116118 its BMP header gives";
    QTest::newRow("tiff cut short") << "tiff" << "cut" << "not a readable TIFF file";
    QTest::newRow("a png under a jpg's name") << "jpg" << "png" << "not a JPEG file";
    QTest::newRow("whole png") << "png" << "whole" << "";
    QTest::newRow("whole jpg") << "jpg" << "whole" << "";
    QTest::newRow("whole tiff") << "tiff" << "whole" << "";
}

void TestCli::skipExistingChecksWholeness()
{
    QFETCH(QString, type);
    QFETCH(QString, there);
    QFETCH(QString, redoneBecause);

    const QString reference = freshOutput();
    const QStringList common{"-q", "-r", "20", "-p", "1", "-t", type};
    QCOMPARE(runCli(common + QStringList{"-o", reference, pdf("three.pdf")}).status, 0);
    const QByteArray whole = bytesOf(reference + "/three_1." + type);
    QVERIFY(!whole.isEmpty());

    const QString out = freshOutput();
    QVERIFY(QDir().mkpath(out));
    const QString target = out + "/three_1." + type;
    QByteArray before = whole;
    if (there == "empty")
        before.clear();
    else if (there == "cut")
        before.chop(19);
    else if (there == "png") {
        const QString png = freshOutput();
        QCOMPARE(runCli({"-q", "-r", "20", "-p", "1", "-t", "png", "-o", png, pdf("three.pdf")}).status, 0);
        before = bytesOf(png + "/three_1.png");
    }
    {
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(before), before.size());
    }
    struct stat status = {};
    QCOMPARE(::stat(QFile::encodeName(target).constData(), &status), 0);

    const CliRun run = runCli(common + QStringList{"--skip-existing", "--json", "-o", out, pdf("three.pdf")});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const QList<QJsonObject> lines = jsonLines(run.out);
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.first().value("status").toString(), redoneBecause.isEmpty() ? "skipped" : "written");
    QCOMPARE(lines.first().value("redone_because").toString(), redoneBecause);
    QCOMPARE(bytesOf(target), whole);
    struct stat after = {};
    QCOMPARE(::stat(QFile::encodeName(target).constData(), &after), 0);
    QCOMPARE(after.st_ino == status.st_ino, redoneBecause.isEmpty()); // a whole file is left alone
}

// A refused input gets its line in the report, and the summary counts it.
void TestCli::refusedInputInJson()
{
    const QString out = freshOutput();
    const CliRun run = runCli({"-q", "--json", "-r", "10", "-p", "1", "-o", out, pdf("ten.pdf"), pdf("broken.pdf")});
    QCOMPARE(run.status, 1);
    const QList<QJsonObject> lines = jsonLines(run.out);
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines.first(), (QJsonObject{{"file", pdf("broken.pdf")},
                                         {"status", "refused"},
                                         {"error", "cannot be opened as a PDF (damaged or not a PDF)"}}));
    QCOMPARE(lines.at(1).value("file").toString(), pdf("ten.pdf"));
    QCOMPARE(lines.at(1).value("status").toString(), QStringLiteral("written"));
    const QJsonObject summary = lines.last().value("summary").toObject();
    QCOMPARE(summary.value("refused").toInt(), 1);
    QCOMPARE(summary.value("pages").toInt(), 1);
    QCOMPARE(summary.value("written").toInt(), 1);
    QCOMPARE(summary.value("exit_status").toInt(), 1);
    QCOMPARE(summary.value("files").toArray(), (QJsonArray{pdf("ten.pdf"), pdf("broken.pdf")}));
    QCOMPARE(filesIn(out), QStringList{"ten_1.jpg"});

    // All or nothing: the refusal, a summary of nothing, exit 2.
    const QString refusedOut = freshOutput();
    const CliRun refused = runCli({"-q", "--json", "--all-or-nothing", "-o", refusedOut, pdf("ten.pdf"),
                                   pdf("broken.pdf")});
    QCOMPARE(refused.status, 2);
    const QList<QJsonObject> refusedLines = jsonLines(refused.out);
    QCOMPARE(refusedLines.size(), 2);
    QCOMPARE(refusedLines.first(), lines.first());
    const QJsonObject refusedSummary = refusedLines.last().value("summary").toObject();
    QCOMPARE(refusedSummary.value("refused").toInt(), 1);
    QCOMPARE(refusedSummary.value("pages").toInt(), 0);
    QCOMPARE(refusedSummary.value("exit_status").toInt(), 2);
    // A string whether or not a worker ran, so that scripts compare it as one.
    QCOMPARE(refusedSummary.value("confinement"), QJsonValue("none: no page was drawn in a worker"));
    QVERIFY(!QFileInfo::exists(refusedOut));
}

// Temporary files of a killed run are removed once no live run can own
// them; those of a run that may still be writing, and other files, stay.
void TestCli::staleTemporariesAreRemoved()
{
    const QString out = freshOutput();
    QVERIFY(QDir().mkpath(out));
    const QDateTime now = QDateTime::currentDateTime();
    // Modified that long ago; a page of a live run may take up to a day.
    const QList<std::pair<QString, QDateTime>> files{{".vlold.tmp", now.addDays(-3)},
                                                     {".vlfresh.tmp", now},
                                                     {".vlday.tmp", now.addSecs(-47 * 3600)},
                                                     {"old.tmp", now.addDays(-3)}};
    for (const auto &[name, modified] : files) {
        QFile file(out + "/" + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
    }
    const CliRun run = runCli({"-q", "-r", "20", "-p", "1", "-o", out, pdf("three.pdf")});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(filesIn(out), (QStringList{".vlday.tmp", ".vlfresh.tmp", "old.tmp", "three_1.jpg"}));
}

QTEST_MAIN(TestCli)
// The children of a process, by pid.
QList<qint64> childrenOf(qint64 pid)
{
    QList<qint64> pids;
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
    if (children.open(QIODevice::ReadOnly))
        for (const QByteArray &child : children.readAll().split(' '))
            if (!child.trimmed().isEmpty())
                pids.append(child.trimmed().toLongLong());
    return pids;
}

// A page that hangs or crashes its worker process, or passes the memory
// ceiling, fails alone: the other file's pages are written, the same bytes as
// in one process, and no temporary file is left. VELLORAN_TEST_WORKER is
// honoured by test builds only ("crash", "hang", "hog" at <file>:<page>).
void TestCli::workersGiveUpOnePage_data()
{
    QTest::addColumn<QString>("hostile"); // the first input; the second is card.pdf
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("misbehave");
    QTest::addColumn<QStringList>("errors"); // "<page>: <error>" for the first input

    const QString forms = qEnvironmentVariable("VELLORAN_TEST_DATA") + "/nested-forms.pdf";
    QTest::newRow("nested forms, mupdf") << forms << QStringList{"--page-timeout", "2"} << QString()
                                         << QStringList{"1: timed out after 2 s"};
    QTest::newRow("nested forms, poppler") << forms << QStringList{"--page-timeout", "2", "--renderer", "poppler"}
                                           << QString() << QStringList{"1: timed out after 2 s"};
    QTest::newRow("worker deaf to the time limit")
        << "three.pdf" << QStringList{"--page-timeout", "1"} << "hang 0:1"
        << QStringList{"2: timed out after 1 s"};
    QTest::newRow("worker crash") << "three.pdf" << QStringList{} << "crash 0:1"
                                  << QStringList{"2: the renderer crashed (SIGSEGV)"};
    QStringList crashes;
    for (int page = 1; page <= 10; ++page)
        crashes << QStringLiteral("%1: %2").arg(page).arg(
            page <= 3 ? "the renderer crashed (SIGSEGV)" : "not tried: the renderer crashed 3 times on this file");
    QTest::newRow("a file that crashes three workers") << "ten.pdf" << QStringList{"-j", "1"} << "crash 0:*"
                                                       << crashes;
    QTest::newRow("over --max-memory") << "three.pdf" << QStringList{"--max-memory", "256M"} << "hog 0:1"
                                       << QStringList{"2: over the memory limit"};
    // Memory filled, not only asked for: the runner measures it and ends the worker.
    QTest::newRow("resident past --max-memory") << "three.pdf" << QStringList{"--max-memory", "256M"} << "eat 0:1"
                                                << QStringList{"2: over the memory limit"};
    QTest::newRow("resident past --max-memory, poppler")
        << "three.pdf" << QStringList{"--max-memory", "256M", "--renderer", "poppler"} << "eat 0:1"
        << QStringList{"2: over the memory limit"};
}

void TestCli::workersGiveUpOnePage()
{
    QFETCH(QString, hostile);
    QFETCH(QStringList, arguments);
    QFETCH(QString, misbehave);
    QFETCH(QStringList, errors);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    if (arguments.contains("--max-memory"))
        QSKIP("sanitizer builds reserve terabytes of address space: velloran-cli sets no memory ceiling there");
#endif
    if (!QFileInfo(hostile).isAbsolute())
        hostile = pdf(hostile);
    const QString out = freshOutput();
    const QStringList common{"-q", "-t", "png", "-r", "40", "-o", out};
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("VELLORAN_TEST_WORKER", misbehave);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(VELLORAN_CLI), common + arguments + QStringList{hostile, pdf("card.pdf")});
    QVERIFY(process.waitForFinished(120000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    const QString err = programErrors(process.readAllStandardError());
    QVERIFY2(process.exitCode() == 1, qPrintable(err));
    QStringList expected;
    for (const QString &error : errors)
        expected << QStringLiteral("velloran-cli: %1: page %2").arg(hostile, error);
    QStringList lines = err.split('\n', Qt::SkipEmptyParts);
    lines.sort();
    expected.sort();
    QCOMPARE(lines, expected);

    // The same page converted by a worker that misbehaves nowhere.
    const QString reference = freshOutput();
    CliApp::CommandLine commandLine = CliApp::parse(QStringList{"velloran-cli"} + common + arguments
                                                    + QStringList{hostile, pdf("card.pdf")});
    commandLine.options.outputDir = reference;
    commandLine.options.files.removeFirst();
    const BatchPlan plan = planInWorkers(commandLine.options);
    QCOMPARE(plan.errors, QStringList());
    const std::atomic<bool> running{false};
    QCOMPARE(BatchWorkers(commandLine.options, WorkerLimits{}, running).convert(plan, {}).written, 1);

    QStringList names = filesIn(out); // hidden ones too: no temporary file may be left
    for (const QString &error : errors) {
        const QString page = error.section(':', 0, 0);
        QVERIFY(!names.contains(QFileInfo(hostile).completeBaseName() + "_" + page + ".png"));
    }
    QVERIFY2(names.removeAll("card_1.png") == 1, qPrintable(filesIn(out).join(' ')));
    for (const QString &name : std::as_const(names))
        QVERIFY2(QRegularExpression("^[a-z]+_\\d+\\.png$").match(name).hasMatch(), qPrintable(name));
    QCOMPARE(names.size() + errors.size(), qsizetype(planInWorkers([&] {
                                                          BatchOptions options;
                                                          options.files = QStringList{hostile};
                                                          options.outputDir = reference;
                                                          return options;
                                                      }()).pageCount()));
    QCOMPARE(bytesOf(out + "/card_1.png"), bytesOf(reference + "/card_1.png"));
}

// Where the kernel has Landlock, a worker writes nowhere but the output
// folder, and the report says it was confined; the page is drawn as always.
void TestCli::workersAreConfined_data()
{
    QTest::addColumn<QString>("outside"); // the file the worker tries to write; empty: beside the output folder

    const QString name = QStringLiteral("velloran-escape-%1.txt").arg(QCoreApplication::applicationPid());
    QTest::newRow("beside the output folder") << QString();
    // Trees the worker may read; writable by root, and /dev/shm by anyone.
    QTest::newRow("/etc") << "/etc/" + name;
    QTest::newRow("/dev/shm") << "/dev/shm/" + name;
}

void TestCli::workersAreConfined()
{
    QFETCH(QString, outside);
    const bool landlock = syscall(SYS_landlock_create_ruleset, nullptr, 0, 1 /* the ABI version */) >= 1;
    const QString out = freshOutput();
    if (outside.isEmpty())
        outside = dir.filePath("escaped.txt");
    const auto removeEscaped = qScopeGuard([&outside] { QFile::remove(outside); });
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("VELLORAN_TEST_WORKER", "escape 0:0");
    environment.insert("VELLORAN_TEST_ESCAPE", outside);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(VELLORAN_CLI), {"-q", "--json", "-t", "png", "-r", "40", "-o", out, pdf("card.pdf")});
    QVERIFY(process.waitForFinished(120000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
    const QList<QJsonObject> lines = jsonLines(QString::fromUtf8(process.readAllStandardOutput()));
    QCOMPARE(lines.size(), 2);
    const QString confinement = lines.last().value("summary").toObject().value("confinement").toString();
    QCOMPARE(filesIn(out), QStringList{"card_1.png"});
    if (!landlock) {
        QVERIFY2(confinement.startsWith("none: "), qPrintable(confinement));
        QSKIP("this kernel has no Landlock: the worker could not be confined");
    }
    QCOMPARE(confinement, QStringLiteral("landlock"));
    QVERIFY2(!QFileInfo::exists(outside), "the worker wrote outside its output folder");
}

namespace {

QProcessEnvironment testWorker(const QString &misbehave)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("VELLORAN_TEST_WORKER", misbehave);
    return environment;
}

// One page of 200 x 200 points: a blue square, then an image whose Flate data
// is not Flate and a form XObject the file does not have (9 0 R). Both
// renderers draw the square and report the rest.
bool makeBrokenDrawingPdf(const QString &path)
{
    const QByteArray content = "0 0 1 rg 10 10 50 50 re f q 100 0 0 100 50 50 cm /Im1 Do Q "
                               "q 50 0 0 50 0 100 cm /Gone Do Q";
    const QByteArray notFlate = "this is not zlib data at all, no";
    return writePdfObjects(
        path, {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
               "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 4 0 R "
               "/Resources << /XObject << /Im1 5 0 R /Gone 9 0 R >> >> >>",
               "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream",
               "<< /Type /XObject /Subtype /Image /Width 8 /Height 8 /ColorSpace /DeviceRGB /BitsPerComponent 8 "
               "/Filter /FlateDecode /Length "
                   + QByteArray::number(notFlate.size()) + " >>\nstream\n" + notFlate + "\nendstream"});
}

// One page of 200 x 200 points: a blue square, then 300 form XObjects by
// names the page's resources lack, each one a report of its own.
bool makeManyReportsPdf(const QString &path)
{
    QByteArray content = "0 0 1 rg 10 10 50 50 re f";
    for (int i = 1; i <= 300; ++i)
        content += " /G" + QByteArray::number(i) + " Do";
    return writePdfObjects(
        path, {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
               "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 4 0 R "
               "/Resources << /XObject << >> >> >>",
               "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream"});
}

// Raw RGB rows of a smooth picture, Flate-compressed: a zlib stream (qCompress
// puts the length before it).
QByteArray pictureStream(int width, int height, int seed)
{
    QByteArray row(qsizetype(width) * 3, Qt::Uninitialized);
    for (int x = 0; x < width; ++x) {
        row[3 * x] = char(x * 255 / width);
        row[3 * x + 1] = char(seed * 70);
        row[3 * x + 2] = char(255 - x * 255 / width);
    }
    QByteArray rows;
    rows.reserve(row.size() * height);
    for (int y = 0; y < height; ++y)
        rows += row;
    return qCompress(rows, 1).mid(4);
}

// An A4 page of large images: a scan of the page at 300 dpi behind it and two
// photographs of 3000 x 2000 over its halves. At 600 dpi Poppler scales each
// whole (the scan to 100 MiB) and MuPDF decodes them into its store.
bool makeImagesPdf(const QString &path)
{
    const QByteArray content = "q 595 0 0 842 0 0 cm /Scan Do Q q 595 0 0 421 0 421 cm /Top Do Q "
                               "q 595 0 0 421 0 0 cm /Bottom Do Q";
    const auto image = [](int width, int height, int seed) {
        const QByteArray data = pictureStream(width, height, seed);
        return "<< /Type /XObject /Subtype /Image /Width " + QByteArray::number(width) + " /Height "
               + QByteArray::number(height) + " /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /FlateDecode "
               "/Length " + QByteArray::number(data.size()) + " >>\nstream\n" + data + "\nendstream";
    };
    return writePdfObjects(
        path, {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
               "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R "
               "/Resources << /XObject << /Scan 5 0 R /Top 6 0 R /Bottom 7 0 R >> >> >>",
               "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream",
               image(2480, 3508, 1), image(3000, 2000, 2), image(3000, 2000, 3)});
}

// The largest resident set a run of velloran-cli had, its workers' included
// (each reaped by the program, so counted in its own), in KiB, as peakrss
// measures it; -1 when the run did not end with status 0.
qint64 peakOfRun(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(VELLORAN_PEAKRSS), QStringList{QStringLiteral(VELLORAN_CLI)} + arguments);
    if (!process.waitForFinished(240000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return -1;
    bool ok = false;
    const qint64 peak = process.readAllStandardOutput().trimmed().toLongLong(&ok);
    return ok ? peak : -1;
}

// A poster of 14400 x 14400 points (the largest page PDF allows): a blue
// field and a word. At 72 dpi its bitmap is 790 MiB.
bool makePosterPdf(const QString &path)
{
    const QByteArray content = "0 0 1 rg 100 100 14200 14200 re f BT /F1 2000 Tf 1 0 0 rg 1000 7000 Td (Poster) Tj ET";
    return writePdfObjects(
        path, {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
               "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 14400 14400] /Contents 4 0 R "
               "/Resources << /Font << /F1 5 0 R >> >> >>",
               "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream",
               "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"});
}

} // namespace

// MuPDF refuses an encryption dictionary of a revision it does not know;
// Poppler opens the file. Its pages are drawn by Poppler, the same bytes as
// --renderer poppler writes, said once on stderr and on each JSON line; the
// other input is drawn by MuPDF as asked.
void TestCli::fallsBackToPopplerPerFile()
{
    if (!rendererBuiltIn(RendererKind::MuPdf))
        QSKIP("this build has no MuPDF: Poppler draws every file");
    const QString odd = qEnvironmentVariable("VELLORAN_TEST_DATA") + "/odd-encryption.pdf";
    const QString out = freshOutput();
    const CliRun run = runCli({"-q", "--json", "-t", "png", "-r", "60", "-o", out, odd, pdf("card.pdf")});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(run.err, QStringLiteral("velloran-cli: %1: mupdf cannot open it (damaged or not a PDF): its pages are "
                                     "drawn by poppler\n")
                          .arg(odd));
    QHash<QString, QString> drawnBy;
    for (const QJsonObject &line : jsonLines(run.out))
        if (line.contains("page"))
            drawnBy.insert(QFileInfo(line.value("file").toString()).fileName(), line.value("renderer").toString());
    QCOMPARE(drawnBy.value("odd-encryption.pdf"), QStringLiteral("poppler"));
    QCOMPARE(drawnBy.value("card.pdf"), QStringLiteral("mupdf"));

    const QString reference = freshOutput();
    const CliRun poppler = runCli({"-q", "--renderer", "poppler", "-t", "png", "-r", "60", "-o", reference, odd});
    QVERIFY2(poppler.status == 0, qPrintable(poppler.err));
    QCOMPARE(poppler.err, QString()); // asked for Poppler: nothing fell back
    const QByteArray written = bytesOf(out + "/odd-encryption_1.png");
    QVERIFY(!written.isEmpty());
    QCOMPARE(written, bytesOf(reference + "/odd-encryption_1.png"));
}

// What a renderer reports while it draws is kept with the page: counted in
// its JSON line, printed with -v, and with --strict an error fails the page
// and leaves no file. A page drawn cleanly reports nothing either way.
void TestCli::drawingReportsKept_data()
{
    QTest::addColumn<QString>("renderer");
    QTest::addColumn<QString>("input");
    QTest::addColumn<bool>("reported");
    QTest::addColumn<QString>("said"); // a part of one of the first reports
    // How many reports the renderer makes: every one counted, repeats and
    // those past the first few kept too.
    QTest::addColumn<int>("count");

    if (rendererBuiltIn(RendererKind::MuPdf)) {
        // Drawn by the worker that opened the file, its document kept open
        // from the opening: MuPDF reports the broken stream six times.
        QTest::newRow("broken image, mupdf") << "mupdf" << "reports.pdf" << true << "zlib error" << 6;
        QTest::newRow("hundreds of reports, mupdf") << "mupdf" << "many-reports.pdf" << true << "'G1'" << 300;
        QTest::newRow("clean page, mupdf") << "mupdf" << "card.pdf" << false << QString() << 0;
    }
    QTest::newRow("broken image, poppler") << "poppler" << "reports.pdf" << true << "XObject 'Gone' is unknown" << 5;
    QTest::newRow("hundreds of reports, poppler") << "poppler" << "many-reports.pdf" << true << "'G1'" << 300;
    QTest::newRow("clean page, poppler") << "poppler" << "card.pdf" << false << QString() << 0;
}

void TestCli::drawingReportsKept()
{
    QFETCH(QString, renderer);
    QFETCH(QString, input);
    QFETCH(bool, reported);
    QFETCH(QString, said);
    QFETCH(int, count);
    if (!QFileInfo::exists(pdf("reports.pdf")))
        QVERIFY(makeBrokenDrawingPdf(pdf("reports.pdf")));
    if (!QFileInfo::exists(pdf("many-reports.pdf")))
        QVERIFY(makeManyReportsPdf(pdf("many-reports.pdf")));
    const QString name = QFileInfo(input).completeBaseName() + "_1.png";

    const QString out = freshOutput();
    const CliRun run = runCli({"-q", "-v", "--json", "--renderer", renderer, "-t", "png", "-r", "72", "-p", "1",
                               "-o", out, pdf(input)});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const QList<QJsonObject> lines = jsonLines(run.out);
    QCOMPARE(lines.size(), 2);
    const QJsonObject warnings = lines.first().value("warnings").toObject();
    const QStringList first = warnings.value("first").toVariant().toStringList();
    QCOMPARE(lines.first().value("renderer").toString(), renderer);
    QCOMPARE(warnings.value("count").toInt() > 0, reported);
    QCOMPARE(warnings.value("errors").toBool(), reported);
    QCOMPARE(first.isEmpty(), !reported);
    QVERIFY(warnings.value("count").toInt() >= first.size());
    QCOMPARE(warnings.value("count").toInt(), count);
    QVERIFY2(said.isEmpty() || first.filter(said).size() == 1, qPrintable(first.join(" | ")));
    // -v: each of the first reports a line, and a count of the rest.
    QStringList printed;
    for (const QString &text : first)
        printed << QStringLiteral("velloran-cli: %1: page 1: %2 says: %3").arg(pdf(input), renderer, text);
    if (warnings.value("count").toInt() > first.size())
        printed << QStringLiteral("velloran-cli: %1: page 1: %2 more reports")
                       .arg(pdf(input))
                       .arg(warnings.value("count").toInt() - first.size());
    QCOMPARE(run.err.split('\n', Qt::SkipEmptyParts), printed);
    // The square is drawn whatever was left out: blue at (20, 170).
    const QImage image(out + "/" + name);
    QVERIFY(!image.isNull());
    if (input == "reports.pdf")
        QCOMPARE(image.pixelColor(20, 170), QColor(0, 0, 255));

    const QString strictOut = freshOutput();
    const CliRun strict = runCli({"-q", "--strict", "--renderer", renderer, "-t", "png", "-r", "72", "-p", "1",
                                  "-o", strictOut, pdf(input)});
    if (!reported) {
        QVERIFY2(strict.status == 0, qPrintable(strict.err));
        QCOMPARE(bytesOf(strictOut + "/" + name), bytesOf(out + "/" + name));
        return;
    }
    QCOMPARE(strict.status, 1);
    QCOMPARE(strict.err, QStringLiteral("velloran-cli: %1: page 1: the renderer reported errors while drawing "
                                        "(--strict): %2\n")
                             .arg(pdf(input), first.first()));
    QCOMPARE(filesIn(strictOut), QStringList());
}

// A page --strict fails never takes its output's name: an older file of that
// name keeps its bytes, a link stays a link and what it points at is left as
// it was (or not made), and no temporary file is left.
void TestCli::strictLeavesWhatWasThere_data()
{
    QTest::addColumn<QString>("renderer");
    QTest::addColumn<QString>("before"); // file, link or dangling link

    QStringList renderers{"poppler"};
    if (rendererBuiltIn(RendererKind::MuPdf))
        renderers << "mupdf";
    for (const QString &renderer : renderers)
        for (const char *before : {"file", "link", "dangling link"})
            QTest::newRow(qPrintable(renderer + ", " + before)) << renderer << QString::fromLatin1(before);
}

void TestCli::strictLeavesWhatWasThere()
{
    QFETCH(QString, renderer);
    QFETCH(QString, before);
    if (!QFileInfo::exists(pdf("reports.pdf")))
        QVERIFY(makeBrokenDrawingPdf(pdf("reports.pdf")));
    // A link within the output folder: a worker may write nowhere else.
    const QString out = freshOutput();
    QVERIFY(QDir().mkpath(out));
    const QString output = out + "/reports_1.png";
    const QString target = out + "/kept.png";
    const QByteArray old = "an older file of that name\n";
    if (before != "dangling link") {
        QFile file(before == "file" ? output : target);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(old), qint64(old.size()));
    }
    if (before != "file")
        QCOMPARE(::symlink("kept.png", QFile::encodeName(output).constData()), 0);

    const CliRun run = runCli({"-q", "--strict", "--renderer", renderer, "-t", "png", "-r", "72", "-p", "1", "-o",
                               out, pdf("reports.pdf")});
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.startsWith(QStringLiteral("velloran-cli: %1: page 1: the renderer reported errors while "
                                               "drawing (--strict): ")
                                    .arg(pdf("reports.pdf"))),
             qPrintable(run.err));
    if (before == "file") {
        QCOMPARE(filesIn(out), QStringList{"reports_1.png"});
        QCOMPARE(bytesOf(output), old);
        return;
    }
    QCOMPARE(QFileInfo(output).symLinkTarget(), target);
    if (before == "link") {
        QCOMPARE(filesIn(out), (QStringList{"kept.png", "reports_1.png"}));
        QCOMPARE(bytesOf(target), old);
    } else {
        QCOMPARE(filesIn(out), QStringList{"reports_1.png"});
        QVERIFY(!QFileInfo::exists(target));
    }
}

// Pages of a multi-page file are drawn one by one too: one that --strict
// fails gives up its file, as any failed page does, and leaves nothing.
void TestCli::strictGivesUpAMultipageFile()
{
    if (!QFileInfo::exists(pdf("reports.pdf")))
        QVERIFY(makeBrokenDrawingPdf(pdf("reports.pdf")));
    const QString out = freshOutput();
    const CliRun run = runCli({"-q", "--strict", "--renderer", "poppler", "-t", "tiff", "--multipage", "-r", "72",
                               "-o", out, pdf("reports.pdf")});
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.startsWith(QStringLiteral("velloran-cli: %1: page 1: the renderer reported errors while "
                                               "drawing (--strict): ")
                                    .arg(pdf("reports.pdf"))),
             qPrintable(run.err));
    QCOMPARE(filesIn(out), QStringList());
}

// A page tree that counts a page it cannot give (a kid the file lacks, or
// one kid too few): both renderers write the others and fail that one alike.
// A one-page file whose linearization dictionary claims two billion pages:
// every page is one page, converted at once with either renderer.
void TestCli::claimedPagesAreNotListed_data()
{
    QTest::addColumn<QString>("renderer");
    QTest::addColumn<QString>("pages");
    for (const char *renderer : {"mupdf", "poppler"}) {
        if (QLatin1String(renderer) == QLatin1String("mupdf") && !rendererBuiltIn(RendererKind::MuPdf))
            continue;
        QTest::addRow("all pages, %s", renderer) << renderer << QString();
        QTest::addRow("odd pages, %s", renderer) << renderer << QStringLiteral("odd");
        QTest::addRow("an open range, %s", renderer) << renderer << QStringLiteral("1-");
    }
}

void TestCli::claimedPagesAreNotListed()
{
    QFETCH(QString, renderer);
    QFETCH(QString, pages);
    const QString input = pdf("claims.pdf");
    if (!QFileInfo::exists(input))
        QVERIFY(makeLinearizedPdf(input, 2000000000));
    const QString out = freshOutput();
    QStringList arguments{"-q", "--renderer", renderer, "-t", "png", "-r", "36", "-o", out, input};
    if (!pages.isEmpty())
        arguments << "-p" << pages;
    QElapsedTimer timer;
    timer.start();
    const CliRun run = runCli(arguments);
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(run.err, QString());
    QCOMPARE(filesIn(out), QStringList{"claims_1.png"});
    QVERIFY2(timer.elapsed() < 30000, qPrintable(QString::number(timer.elapsed())));
    // A page past the tree is refused as any page past the end is: the file costs itself.
    const CliRun past = runCli({"-q", "--renderer", renderer, "-p", "2", "-o", freshOutput(), input});
    QCOMPARE(past.status, 1);
    QVERIFY2(past.err.contains(input + QStringLiteral(": page list \"2\": the document has only 1 page\n")),
             qPrintable(past.err));
}

void TestCli::missingPageWithEitherRenderer_data()
{
    QTest::addColumn<QString>("renderer");
    QTest::addColumn<QString>("input");

    const QString data = qEnvironmentVariable("VELLORAN_TEST_DATA");
    for (const char *renderer : {"mupdf", "poppler"}) {
        if (QLatin1String(renderer) == QLatin1String("mupdf") && !rendererBuiltIn(RendererKind::MuPdf))
            continue;
        QTest::addRow("dangling kid, %s", renderer) << renderer << data + "/dangling-third-page.pdf";
        QTest::addRow("kid too few, %s", renderer) << renderer << data + "/count-3-two-kids.pdf";
    }
}

void TestCli::missingPageWithEitherRenderer()
{
    QFETCH(QString, renderer);
    QFETCH(QString, input);
    const QString out = freshOutput();
    const CliRun run = runCli({"-q", "--json", "--renderer", renderer, "-t", "png", "-r", "36", "-o", out, input});
    QCOMPARE(run.status, 1);
    QCOMPARE(run.err, QStringLiteral("velloran-cli: %1: page 3: no such page\n").arg(input));
    const QString base = QFileInfo(input).completeBaseName();
    QCOMPARE(filesIn(out), (QStringList{base + "_1.png", base + "_2.png"}));
    // Pages 1 and 2 are one page twice over.
    QCOMPARE(bytesOf(out + "/" + base + "_1.png"), bytesOf(out + "/" + base + "_2.png"));
    const QList<QJsonObject> lines = jsonLines(run.out);
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines.last().value("summary").toObject().value("written").toInt(), 2);
}

// What a worker prints (Fontconfig's complaints) stays off the terminal and
// is kept with the page it was printed during.
void TestCli::workerNoiseKeptOffTheTerminal()
{
    const QString out = freshOutput();
    const CliRun run = runCli({"-q", "--json", "-t", "png", "-r", "36", "-o", out, pdf("three.pdf")},
                              testWorker("noise 0:1"));
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(run.err, QString());
    const QList<QJsonObject> lines = jsonLines(run.out);
    QCOMPARE(lines.size(), 4);
    for (const QJsonObject &line : lines.first(3)) {
        const QJsonObject warnings = line.value("warnings").toObject();
        const QStringList first = warnings.value("first").toVariant().toStringList();
        if (line.value("page").toInt() != 2) {
            QCOMPARE(first, QStringList());
            continue;
        }
        QCOMPARE(first, (QStringList{"printed: Fontconfig error: Cannot load default config file",
                                     "printed: Fontconfig error: No writable cache directories"}));
        QCOMPARE(warnings.value("count").toInt(), 2);
        QCOMPARE(warnings.value("errors").toBool(), false);
    }
}

// A poster whose bitmap is 790 MiB converts under a ceiling of 1G, 300M or 100M
// (drawn in bands that fit under it), the same pixels as without one, and the
// report says how the ceiling was kept.
void TestCli::posterUnderAMemoryCeiling_data()
{
    QTest::addColumn<QString>("renderer");
    QTest::addColumn<QString>("ceiling");
    // Narrower bands have MuPDF shade a few of the word's edge pixels a
    // little differently (36 rows of the poster), so its row is at 1G, whose
    // bands are those of a run without a ceiling (below that the poster's
    // bands leave room for an image covering it). Poppler's bands are drawn
    // with margins and match whatever their height.
    if (rendererBuiltIn(RendererKind::MuPdf))
        QTest::newRow("mupdf, 1G") << "mupdf" << "1G";
    QTest::newRow("poppler, 300M") << "poppler" << "300M";
    QTest::newRow("poppler, 100M") << "poppler" << "100M";
}

void TestCli::posterUnderAMemoryCeiling()
{
    QFETCH(QString, renderer);
    QFETCH(QString, ceiling);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    QSKIP("sanitizer builds hold shadow memory for every byte: a ceiling of 300M measures the sanitizer");
#endif
    if (!QFileInfo::exists(pdf("poster.pdf")))
        QVERIFY(makePosterPdf(pdf("poster.pdf")));
    const QString out = freshOutput();
    const CliRun run = runCli({"-q", "--json", "--renderer", renderer, "--max-memory", ceiling, "-t", "png", "-r",
                               "72", "-o", out, pdf("poster.pdf")});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const QJsonObject summary = jsonLines(run.out).last().value("summary").toObject();
    QCOMPARE(summary.value("memory_limit").toString(), QStringLiteral("resident"));
    QImageReader reader(out + "/poster_1.png");
    QCOMPARE(reader.size(), QSize(14400, 14400));

    const QString reference = freshOutput();
    const CliRun free = runCli({"-q", "--renderer", renderer, "--max-memory", "8G", "-t", "png", "-r", "72", "-o",
                                reference, pdf("poster.pdf")});
    QVERIFY2(free.status == 0, qPrintable(free.err));
    QVERIFY(bytesOf(out + "/poster_1.png") == bytesOf(reference + "/poster_1.png"));
}

// A page of large images at 600 dpi converts under exactly the smallest
// ceiling the program names when it refuses a smaller one, with either
// renderer: that floor leaves room for what the renderer decodes.
void TestCli::imagesAtTheStatedFloor_data()
{
    QTest::addColumn<QString>("renderer");
    if (rendererBuiltIn(RendererKind::MuPdf))
        QTest::newRow("mupdf") << "mupdf";
    QTest::newRow("poppler") << "poppler";
}

void TestCli::imagesAtTheStatedFloor()
{
    QFETCH(QString, renderer);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    QSKIP("sanitizer builds hold shadow memory for every byte: a ceiling measures the sanitizer");
#endif
    if (!QFileInfo::exists(pdf("images.pdf")))
        QVERIFY(makeImagesPdf(pdf("images.pdf")));
    const CliRun refused = runCli({"--renderer", renderer, "--max-memory", "64M", "-r", "600", "-t", "jpg", "-o",
                                   freshOutput(), pdf("images.pdf")});
    QCOMPARE(refused.status, 2);
    const QRegularExpressionMatch named =
        QRegularExpression("^velloran-cli: invalid max-memory \"64M\": too little to draw an ordinary page at 600 "
                           "dpi; the smallest that works is (\\d+)M\n$")
            .match(refused.err);
    QVERIFY2(named.hasMatch(), qPrintable(refused.err));
    const QString floor = named.captured(1) + "M";
    const QString out = freshOutput();
    const CliRun run = runCli({"-q", "--renderer", renderer, "--max-memory", floor, "-r", "600", "-t", "jpg", "-o",
                               out, pdf("images.pdf")});
    QVERIFY2(run.status == 0, qPrintable(floor + ": " + run.err));
    QCOMPARE(run.err, QString());
    QCOMPARE(filesIn(out), QStringList{"images_1.jpg"});
    QCOMPARE(QImageReader(out + "/images_1.jpg").size(), QSize(4958, 7017));
}

// The poster under the smallest ceilings, measured as a user would: the
// largest resident set of the program and its workers, against the figures
// the README gives (36 MiB under 64M and under 100M), with a tenth to spare.
void TestCli::posterPeakUnderACeiling_data()
{
    QTest::addColumn<QString>("renderer");
    QTest::addColumn<QString>("ceiling");
    QTest::addColumn<int>("readmeMiB");
    for (const char *renderer : {"mupdf", "poppler"}) {
        if (QLatin1String(renderer) == QLatin1String("mupdf") && !rendererBuiltIn(RendererKind::MuPdf))
            continue;
        QTest::addRow("%s, 64M", renderer) << renderer << "64M" << 36;
        QTest::addRow("%s, 100M", renderer) << renderer << "100M" << 36;
    }
}

void TestCli::posterPeakUnderACeiling()
{
    QFETCH(QString, renderer);
    QFETCH(QString, ceiling);
    QFETCH(int, readmeMiB);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    QSKIP("sanitizer builds hold shadow memory for every byte: a ceiling measures the sanitizer");
#endif
    if (!QFileInfo::exists(pdf("poster.pdf")))
        QVERIFY(makePosterPdf(pdf("poster.pdf")));
    const QString out = freshOutput();
    const qint64 peakKiB = peakOfRun({"-q", "--renderer", renderer, "--max-memory", ceiling, "-t", "png", "-r", "72",
                                      "-o", out, pdf("poster.pdf")});
    QVERIFY(peakKiB > 0);
    QCOMPARE(filesIn(out), QStringList{"poster_1.png"});
    QVERIFY2(peakKiB <= readmeMiB * 1024 * 11 / 10,
             qPrintable(QStringLiteral("a peak of %1 MiB").arg(double(peakKiB) / 1024, 0, 'f', 1)));
}

// Ctrl-C while a worker is inside a page that never asks whether to stop:
// the run still ends within seconds, its workers with it, leaving no file.
void TestCli::stopInsideAHungPage_data()
{
    QTest::addColumn<QString>("hostile");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("misbehave");

    const QString forms = qEnvironmentVariable("VELLORAN_TEST_DATA") + "/nested-forms.pdf";
    QTest::newRow("nested forms, mupdf") << forms << QStringList{} << QString();
    QTest::newRow("nested forms, poppler") << forms << QStringList{"--renderer", "poppler"} << QString();
    QTest::newRow("worker deaf to the stop") << "one.pdf" << QStringList{} << "hang 0:0";
}

void TestCli::stopInsideAHungPage()
{
    QFETCH(QString, hostile);
    QFETCH(QStringList, arguments);
    QFETCH(QString, misbehave);
    if (!QFileInfo(hostile).isAbsolute())
        hostile = pdf(hostile);

    const QString out = freshOutput();
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("VELLORAN_TEST_WORKER", misbehave);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(VELLORAN_CLI), QStringList{"-q", "-j", "1", "-o", out} + arguments + QStringList{hostile});
    QVERIFY(process.waitForStarted());
    // Inside the page: its temporary file is there, or its worker has drawn for a while.
    QTRY_VERIFY_WITH_TIMEOUT(!filesIn(out).isEmpty() || cpuSeconds(process.processId()) > 0.5, 60000);
    const QList<qint64> workers = childrenOf(process.processId());
    QCOMPARE(workers.size(), 1);
    QElapsedTimer sinceInterrupt;
    sinceInterrupt.start();
    ::kill(pid_t(process.processId()), SIGINT); // to the converter alone, not its workers
    QVERIFY(process.waitForFinished(120000));
    const qint64 elapsed = sinceInterrupt.elapsed();
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    const QString err = programErrors(process.readAllStandardError());
    QVERIFY2(process.exitCode() == 130, qPrintable(err));
    QVERIFY2(elapsed < stopBoundMs, qPrintable(QStringLiteral("ended %1 ms after Ctrl-C").arg(elapsed)));
    QCOMPARE(err, QStringLiteral("velloran-cli: interrupted: 0 of 1 pages written: run the same command with "
                                 "--skip-existing to do the rest\n"));
    QCOMPARE(filesIn(out), QStringList());
    QVERIFY2(!QFileInfo::exists(QStringLiteral("/proc/%1").arg(workers.first())), "the worker outlived the run");
}

#include "tst_cli.moc"
