#include "cli/pdftoppmapp.h"
#include "cli/standardinput.h"

#include "cli/batchjob.h"
#include "cli/pdftoppmargs.h"
#include "cli/workerconversion.h"
#include "engine/atomicfile.h"
#include "engine/image/encoderoptions.h"
#include "engine/nativepath.h"
#include "runner/interruptflag.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMap>
#include <QTemporaryDir>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <unistd.h>

namespace {

constexpr int exitOk = 0;
constexpr int exitOpenFailed = 1; // the PDF, a password, an output file
constexpr int exitOther = 99;
constexpr char versionLine[] = "pdftoppm version 22.12.0";

class Messages
{
public:
    explicit Messages(bool quiet) : quiet(quiet) {}
    void line(const QString &text) const
    {
        if (!quiet)
            std::fputs(qPrintable(text + QLatin1Char('\n')), stderr);
    }

private:
    bool quiet;
};

qint64 workerMemory(int jobs)
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0)
        return 0;
    return qMax(qint64(pages) * pageSize / qMax(1, jobs), qint64(1) << 30);
}

// The file name's ending pdftoppm gives each type, and the type it is here.
struct OutputType
{
    QString extension; // of the format table
    QString ending;    // of the file names
    PixelMode mode;
};

OutputType outputType(const PdftoppmArgs &args)
{
    const PixelMode mode = args.mono ? PixelMode::Mono : args.gray ? PixelMode::Gray : PixelMode::Color;
    // pdftoppm 22.12 writes PNG and JPEG in colour whatever -gray and -mono say.
    if (args.png)
        return {QStringLiteral("png"), QStringLiteral("png"), PixelMode::Color};
    if (args.jpegCmyk)
        return {QStringLiteral("jpg"), QStringLiteral("jpg"), PixelMode::Cmyk};
    if (args.jpeg)
        return {QStringLiteral("jpg"), QStringLiteral("jpg"), PixelMode::Color};
    if (args.tiff)
        return {QStringLiteral("tiff"), QStringLiteral("tif"), mode};
    if (args.mono)
        return {QStringLiteral("pbm"), QStringLiteral("pbm"), PixelMode::Mono};
    if (args.gray)
        return {QStringLiteral("pgm"), QStringLiteral("pgm"), PixelMode::Gray};
    return {QStringLiteral("ppm"), QStringLiteral("ppm"), PixelMode::Color};
}

// Copies a finished page to standard output and removes it.
bool sendToStandardOutput(const QString &path)
{
    QFile file;
    const int fd = openNative(path, O_RDONLY);
    bool ok = fd != -1 && file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    // The kernel moves the page's bytes into the pipe or file without a copy
    // through this process; whatever it cannot move goes the ordinary way.
    bool moving = ok;
    while (moving) {
        const ssize_t sent = ::sendfile(STDOUT_FILENO, fd, nullptr, size_t(1) << 30);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && errno != EINVAL && errno != ENOSYS)
            ok = false;
        moving = sent > 0;
    }
    file.seek(::lseek(fd, 0, SEEK_CUR));
    QByteArray chunk;
    while (ok && !file.atEnd()) {
        chunk = file.read(1 << 20);
        const char *at = chunk.constData();
        qsizetype left = chunk.size();
        while (ok && left > 0) {
            const ssize_t sent = ::write(STDOUT_FILENO, at, size_t(left));
            if (sent < 0 && errno == EINTR)
                continue;
            ok = sent > 0;
            at += sent;
            left -= sent;
        }
    }
    if (fd == -1)
        ok = false;
    file.close();
    ::unlink(nativePath(path).constData());
    return ok;
}


} // namespace

int runPdftoppm(const QStringList &arguments)
{
    installInterruptHandler();
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    const PdftoppmArgs args = parsePdftoppmArgs(arguments);
    const Messages messages(args.quiet);
    if (args.usageError || args.version || args.help) {
        std::fprintf(stderr, "%s\n", versionLine);
        std::fputs("Drawn by velloran-cli's workers: MuPDF, Poppler where MuPDF cannot open the file\n", stderr);
        if (!args.version)
            std::fputs(qPrintable(pdftoppmUsage()), stderr);
        return args.version || args.help ? exitOk : exitOther;
    }
    for (const QString &option : args.ignored)
        messages.line(QStringLiteral("pdftoppm: %1 is ignored: this program cannot honour it").arg(option));

    const OutputType type = outputType(args);
    JpegOptions jpeg;
    QString why;
    if (!parseJpegOptions(args.jpegOptions, jpeg, &why)) {
        messages.line(why);
        return exitOther;
    }
    std::optional<TiffCompression> compression;
    if (!args.tiffCompression.isEmpty()) {
        compression = tiffCompressionForName(args.tiffCompression);
        if (!compression) {
            messages.line(QStringLiteral("Invalid TIFF compression \"%1\"").arg(args.tiffCompression));
            return exitOther;
        }
    }

    // The run's private folder: a PDF from standard input, pages on their way to standard output.
    QTemporaryDir privateFolder;
    QString input = args.file();
    if (input.isEmpty() || input == QLatin1String("-")) {
        input = privateFolder.filePath(QStringLiteral("input.pdf"));
        if (!privateFolder.isValid() || !saveStandardInput(input)) {
            messages.line(QStringLiteral("I/O Error: Couldn't read standard input"));
            return exitOpenFailed;
        }
        if (QFileInfo(input).size() == 0) {
            messages.line(QStringLiteral("Syntax Error: Document stream is empty"));
            return exitOpenFailed;
        }
    } else if (::access(nativePath(input).constData(), R_OK) != 0 || nativeIsDir(input)) {
        const int error = nativeIsDir(input) ? EISDIR : errno;
        messages.line(QStringLiteral("I/O Error: Couldn't open file '%1': %2.")
                          .arg(displayPath(input), QString::fromLocal8Bit(std::strerror(error))));
        return exitOpenFailed;
    }

    const QString root = args.root();
    const bool toStandardOutput = root.isNull();
    const QString outputFolder = toStandardOutput ? privateFolder.path() : QFileInfo(root).path();
    if (toStandardOutput && !privateFolder.isValid()) {
        messages.line(QStringLiteral("Couldn't make a temporary folder for the pages"));
        return exitOther;
    }

    BatchOptions options;
    options.files = {input};
    options.outputDir = outputFolder;
    options.extension = type.extension;
    options.quality = qBound(minQuality, jpeg.quality, maxQuality);
    options.password = !args.ownerPassword.isEmpty() ? args.ownerPassword : args.userPassword;
    OutputStyle &style = options.style;
    style.mode = type.mode;
    style.pdftoppm = args.sizing;
    style.drawing.box = args.cropBox ? PageBox::Crop : PageBox::Media;
    style.drawing.antialias = args.antialias;
    style.drawing.annotations = !args.hideAnnotations;
    style.encoder.jpegProgressive = jpeg.progressive;
    style.encoder.jpegOptimize = jpeg.optimize;
    if (compression && type.extension == QLatin1String("tiff") && type.mode != PixelMode::Mono) {
        style.encoder.tiffCompression = *compression;
        style.compressionGiven = true;
    }

    const int jobs = qMax(1, QThread::idealThreadCount());
    BatchWorkers workers(options, WorkerLimits{jobs, workerMemory(jobs)}, interruptFlag());
    const QList<DocumentProbe> probes = workers.probe({input}, options.password, options.renderer);
    const DocumentProbe probe = probes.value(0);
    if (interruptFlag().load())
        return 128 + (interruptSignal() > 0 ? interruptSignal() : SIGINT);
    if (!probe.failure.isEmpty() || probe.status == PdfLoadStatus::Failed) {
        messages.line(QStringLiteral("Syntax Error: Couldn't read the document: %1")
                          .arg(probe.failure.isEmpty() ? QStringLiteral("damaged or not a PDF") : probe.failure));
        return exitOpenFailed;
    }
    if (probe.status == PdfLoadStatus::Locked) {
        messages.line(QStringLiteral("Command Line Error: Incorrect password"));
        return exitOpenFailed;
    }
    // Poppler draws what MuPDF cannot open, and it draws the crop box.
    if (probe.rendererStatus != PdfLoadStatus::Loaded)
        style.drawing.box = PageBox::Crop;

    const int pageCount = probe.pageCount;
    const int first = qMax(1, args.firstPage);
    int last = args.lastPage < 1 || args.lastPage > pageCount ? pageCount : args.lastPage;
    if (args.singleFile && last > first)
        last = first;
    if (first > last) {
        messages.line(QStringLiteral("Wrong page range given: the first page (%1) can not be after the last page (%2).")
                          .arg(first)
                          .arg(last));
        return exitOther;
    }
    QStringList pages;
    for (int page = first; page <= last; ++page) {
        if ((args.oddOnly && page % 2 == 0) || (args.evenOnly && page % 2 == 1))
            continue;
        pages << QString::number(page);
    }
    if (pages.isEmpty())
        return exitOk;
    options.pages = pages.join(QLatin1Char(','));

    // root-07.ppm in a document of 12 pages; root.ppm for one page alone.
    const QString base = toStandardOutput ? QStringLiteral("page") : QFileInfo(root).fileName();
    const bool numbered = !args.singleFile || args.forceNumber;
    const QString pattern = numbered ? base + args.separator + QStringLiteral("{page}.") + type.ending
                                     : base + QLatin1Char('.') + type.ending;
    const int digits = int(QString::number(pageCount).size());
    const auto nameOf = [&](int page) {
        const QString number = QStringLiteral("%1").arg(page, digits, 10, QLatin1Char('0'));
        return numbered ? root + args.separator + number + QLatin1Char('.') + type.ending
                        : root + QLatin1Char('.') + type.ending;
    };
    style.name = NameTemplate::parse(pattern, &why);
    style.padNumbers = true;
    if (style.name.isEmpty() || !nativeIsDir(outputFolder) || !nativeIsWritableDir(outputFolder)) {
        messages.line(QStringLiteral("Could not write image to %1; exiting").arg(displayPath(nameOf(first))));
        return exitOpenFailed;
    }

    const BatchPlan plan = planBatch(options, [&probes](const QStringList &, const QByteArray &, RendererKind) {
        return probes;
    });
    if (!plan.errors.isEmpty()) {
        for (const QString &error : plan.errors)
            messages.line(QStringLiteral("Internal Error: ") + error);
        return exitOther;
    }

    // Pages finish in any order; they are sent and reported in page order.
    QMap<int, PageOutcome> finished;
    int nextPage = 0; // the index into the plan's pages of the next to hand on
    const QList<int> &planned = plan.files.constFirst().pages;
    int status = exitOk;
    const auto handOn = [&] {
        while (nextPage < planned.size() && finished.contains(planned.at(nextPage))) {
            const PageOutcome outcome = finished.take(planned.at(nextPage));
            const int page = planned.at(nextPage) + 1;
            ++nextPage;
            if (status != exitOk)
                continue;
            if (outcome.result == PageOutcome::WriteFailed) {
                messages.line(QStringLiteral("Could not write image to %1; exiting")
                                  .arg(toStandardOutput ? QStringLiteral("(null)") : displayPath(nameOf(page))));
                status = exitOpenFailed;
                continue;
            }
            if (outcome.result != PageOutcome::Written) {
                messages.line(QStringLiteral("Internal Error: page %1: %2").arg(page).arg(outcome.detail));
                status = exitOther;
                continue;
            }
            if (toStandardOutput && !sendToStandardOutput(outcome.outputPath)) {
                status = exitOpenFailed;
                continue;
            }
            if (args.progress)
                std::fprintf(stderr, "%d %d %s\n", page, last,
                             toStandardOutput ? "" : qPrintable(displayPath(nameOf(page))));
        }
    };
    const ConversionSummary summary = workers.convert(plan, [&](const QString &, const PageOutcome &outcome) {
        finished.insert(outcome.page, outcome);
        handOn();
    });
    if (summary.notStarted > 0 && summary.stoppedBecause.isEmpty())
        return 128 + (interruptSignal() > 0 ? interruptSignal() : SIGINT);
    if (status == exitOk && nextPage < planned.size())
        status = exitOther;
    return status;
}
