#include "cli/pdftoppmapp.h"

#include "cli/batchjob.h"
#include "cli/pdftoppmargs.h"
#include "cli/popplerrun.h"
#include "cli/workerconversion.h"
#include "engine/image/encoderoptions.h"
#include "engine/nativepath.h"
#include "engine/workermemory.h"
#include "runner/interruptflag.h"

#include <QFileInfo>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int exitOk = 0;
constexpr int exitOpenFailed = 1; // the PDF, a password, an output file
constexpr int exitOther = 99;
constexpr char versionLine[] = "pdftoppm version 22.12.0";

// The file name's ending pdftoppm gives each type, and the type it is here.
PopplerOutputType outputType(const PdftoppmArgs &args)
{
    const PixelMode mode = args.mono ? PixelMode::Mono : args.gray ? PixelMode::Gray : PixelMode::Color;
    // pdftoppm 22.12 stores PNG and JPEG pages in colour whatever -gray and
    // -mono say, their pixels gray, or black and white, all the same.
    if (args.png)
        return {QStringLiteral("png"), QStringLiteral("png"), PixelMode::Color, mode};
    if (args.jpegCmyk)
        return {QStringLiteral("jpg"), QStringLiteral("jpg"), PixelMode::Cmyk};
    if (args.jpeg)
        return {QStringLiteral("jpg"), QStringLiteral("jpg"), PixelMode::Color, mode};
    if (args.tiff)
        return {QStringLiteral("tiff"), QStringLiteral("tif"), mode};
    if (args.mono)
        return {QStringLiteral("pbm"), QStringLiteral("pbm"), PixelMode::Mono};
    if (args.gray)
        return {QStringLiteral("pgm"), QStringLiteral("pgm"), PixelMode::Gray};
    return {QStringLiteral("ppm"), QStringLiteral("ppm"), PixelMode::Color};
}

} // namespace

int runPdftoppm(const QStringList &arguments)
{
    installInterruptHandler();
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    const PdftoppmArgs args = parsePdftoppmArgs(arguments);
    const PopplerMessages messages(args.quiet);
    if (args.usageError || args.version || args.help)
        return answerVersionOrUsage(versionLine, pdftoppmUsage(), args.version, args.help, exitOther);
    for (const QString &option : args.ignored)
        messages.line(QStringLiteral("pdftoppm: %1 is ignored: this program cannot honour it").arg(option));

    const PopplerOutputType type = outputType(args);
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

    // The run's private folder: a PDF from standard input; the folder that
    // names pages written to standard output.
    QTemporaryDir privateFolder;
    const PopplerInput opened = popplerInput(args.file(), privateFolder);
    if (!opened.error.isEmpty()) {
        messages.line(opened.error);
        return exitOpenFailed;
    }
    const QString input = opened.path;

    const QString root = args.root();
    const bool toStandardOutput = root.isNull();
    const QString outputFolder = toStandardOutput ? privateFolder.path() : QFileInfo(root).path();
    if (toStandardOutput && !privateFolder.isValid()) {
        messages.line(QStringLiteral("Couldn't make a temporary folder for the pages"));
        return exitOther;
    }

    BatchOptions options = popplerBatchOptions(input, outputFolder, toStandardOutput, type, jpeg, compression,
                                               args.ownerPassword, args.userPassword);
    OutputStyle &style = options.style;
    style.pdftoppm = args.sizing;
    style.drawing.box = args.cropBox ? PageBox::Crop : PageBox::Media;
    style.drawing.antialias = args.antialias;
    style.drawing.annotations = !args.hideAnnotations;

    const int jobs = popplerWorkers(toStandardOutput);
    if (toStandardOutput)
        widenStandardOutput();
    BatchWorkers workers(options, WorkerLimits{jobs, defaultWorkerMemory(jobs)}, interruptFlag());
    const QList<DocumentProbe> probes = workers.probe({input}, options.password, options.renderer);
    const DocumentProbe probe = probes.value(0);
    if (interruptFlag().load())
        return interruptedStatus();
    const QString notOpened = whyNotOpened(probe);
    if (!notOpened.isEmpty()) {
        messages.line(notOpened);
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

    // Pages finish in any order; they are reported in page order, as the
    // workers write them onto standard output.
    int status = exitOk;
    const auto handOn = [&](int page, const PageOutcome &outcome) {
        if (status != exitOk)
            return;
        if (outcome.result == PageOutcome::WriteFailed) {
            messages.line(QStringLiteral("Could not write image to %1; exiting")
                              .arg(toStandardOutput ? QStringLiteral("(null)") : displayPath(nameOf(page))));
            status = exitOpenFailed;
            return;
        }
        if (outcome.result != PageOutcome::Written) {
            messages.line(QStringLiteral("Internal Error: page %1: %2").arg(page).arg(outcome.detail));
            status = exitOther;
            return;
        }
        if (args.progress)
            std::fprintf(stderr, "%d %d %s\n", page, last, toStandardOutput ? "" : qPrintable(displayPath(nameOf(page))));
    };
    int left = 0;
    const ConversionSummary summary = convertInPageOrder(workers, plan, handOn, &left);
    if (stoppedBySignal(summary))
        return interruptedStatus();
    if (status == exitOk && left > 0)
        status = exitOther;
    return status;
}
