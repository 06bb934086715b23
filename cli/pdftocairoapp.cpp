#include "cli/pdftocairoapp.h"

#include "cli/batchjob.h"
#include "cli/pdftocairoargs.h"
#include "cli/popplerrun.h"
#include "cli/workerconversion.h"
#include "engine/image/encoderoptions.h"
#include "engine/nativepath.h"
#include "engine/workermemory.h"
#include "runner/interruptflag.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <cstdio>
#include <fcntl.h>

namespace {

constexpr int exitOk = 0;
constexpr int exitOpenFailed = 1;  // the PDF, a password
constexpr int exitOutputFailed = 2; // an output file
constexpr int exitProfile = 4;      // the colour profile
constexpr int exitOther = 99;
constexpr char versionLine[] = "pdftocairo version 22.12.0";
// Cairo's image surfaces hold this many pixels a side at most: pdftocairo
// cannot write a page past it, nor one with a side of zero.
constexpr int cairoMaxSide = 32767;

// The type pdftocairo writes, and its file names' ending.
PopplerOutputType outputType(const PdftocairoArgs &args)
{
    // -transp wins over -gray and -mono: the page is written in RGBA.
    const PixelMode mode = args.transparent && !args.jpeg ? PixelMode::ColorAlpha
                           : args.mono                    ? PixelMode::Mono
                           : args.gray                    ? PixelMode::Gray
                                                          : PixelMode::Color;
    if (args.png)
        return {QStringLiteral("png"), QStringLiteral("png"), mode};
    if (args.jpeg)
        return {QStringLiteral("jpg"), QStringLiteral("jpg"), mode};
    return {QStringLiteral("tiff"), QStringLiteral("tif"), mode};
}

// The colour profile pdftocairo embeds in PNG files: it must open and read
// as a profile ("acsp" where ICC profiles have it), though this program
// cannot embed it.
QString profileError(const QString &path)
{
    QFile file;
    const int fd = openNative(path, O_RDONLY);
    if (fd == -1 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return QStringLiteral("Error: unable to open icc profile %1").arg(displayPath(path));
    const QByteArray header = file.read(128);
    if (header.size() < 128 || header.mid(36, 4) != "acsp")
        return QStringLiteral("Error: lcms error opening profile");
    return QString();
}

// The box a page is sized by, as drawn: Poppler's numbers for it, turned.
QSizeF drawnBox(const PdfDocumentInfo &info, int pageIndex, PageBox box)
{
    if (pageIndex >= info.pages.size())
        return QSizeF();
    const PdfPageInfo &page = info.pages.at(pageIndex);
    const PdfBox &sides = box == PageBox::Crop ? page.cropBox : page.mediaBox;
    const QSizeF size(sides.x2 - sides.x1, sides.y2 - sides.y1);
    return page.rotation == 90 || page.rotation == 270 ? size.transposed() : size;
}

// Whether pdftocairo can make an image of the page at these sizes.
bool cairoCanDraw(const PdftoppmSizing &sizing, const QSizeF &box)
{
    const QRect region = pdftoppmPage(sizing, box).region;
    return region.width() > 0 && region.height() > 0 && region.width() <= cairoMaxSide
           && region.height() <= cairoMaxSide;
}

} // namespace

int runPdftocairo(const QStringList &arguments)
{
    installInterruptHandler();
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    const PdftocairoArgs args = parsePdftocairoArgs(arguments);
    const PopplerMessages messages(args.quiet);
    if (args.badValue) {
        std::fputs(qPrintable(pdftocairoUsage(false)), stderr);
        return exitOther;
    }
    if (args.usageError || args.version || args.help)
        return answerVersionOrUsage(versionLine, pdftocairoUsage(), args.version, args.help, exitOther);
    QString why = pdftocairoOptionError(args);
    const QString root = why.isEmpty() ? pdftocairoRoot(args, &why) : QString();
    if (!why.isEmpty()) {
        PopplerMessages::always(why);
        return exitOther;
    }
    if (!args.icc.isEmpty()) {
        const QString error = profileError(args.icc);
        if (!error.isEmpty()) {
            PopplerMessages::always(error);
            return exitProfile;
        }
        messages.line(QStringLiteral("pdftocairo: -icc is ignored: this program cannot honour it"));
    }
    if (args.antialias == QLatin1String("subpixel"))
        messages.line(QStringLiteral("pdftocairo: -antialias subpixel is ignored: this program cannot honour it"));

    const PopplerOutputType type = outputType(args);
    JpegOptions jpeg;
    QString unused; // pdftocairoOptionError() has refused what does not read
    parseJpegOptions(args.jpegOptions, jpeg, &unused);
    std::optional<TiffCompression> compression;
    if (!args.tiffCompression.isEmpty()) {
        compression = tiffCompressionForName(args.tiffCompression);
        if (!compression)
            PopplerMessages::always(QStringLiteral("TiffWriter: Unknown compression type '%1', using 'none'.")
                                        .arg(args.tiffCompression));
    }

    // The run's private folder: a PDF from standard input; the folder that
    // names a page written to standard output.
    QTemporaryDir privateFolder;
    const PopplerInput opened = popplerInput(args.file(), privateFolder);
    if (!opened.error.isEmpty()) {
        messages.line(opened.error);
        PopplerMessages::always(QStringLiteral("Error opening PDF file."));
        return exitOpenFailed;
    }
    const QString input = opened.path;
    const bool toStandardOutput = root == QLatin1String("-");
    const QString outputFolder = toStandardOutput ? privateFolder.path() : QFileInfo(root).path();
    if (toStandardOutput && !privateFolder.isValid()) {
        PopplerMessages::always(QStringLiteral("Couldn't make a temporary folder for the page"));
        return exitOther;
    }

    BatchOptions options = popplerBatchOptions(input, outputFolder, toStandardOutput, type, jpeg, compression,
                                               args.ownerPassword, args.userPassword);
    OutputStyle &style = options.style;
    style.pdftoppm = args.sizing();
    style.drawing.box = args.cropBox ? PageBox::Crop : PageBox::Media;
    style.drawing.antialias = args.antialias != QLatin1String("none");

    const int jobs = popplerWorkers(toStandardOutput);
    BatchWorkers workers(options, WorkerLimits{jobs, defaultWorkerMemory(jobs)}, interruptFlag());
    // Poppler's own numbers for every page's box, read beside the opening:
    // pdftocairo's sizes come from them, and a page it cannot draw is known
    // before any is drawn.
    QList<PdfDocumentInfo> infos;
    const QList<DocumentProbe> probes = workers.probe({input}, options.password, options.renderer, &infos);
    const DocumentProbe probe = probes.value(0);
    if (interruptFlag().load())
        return interruptedStatus();
    const QString notOpened = whyNotOpened(probe);
    if (!notOpened.isEmpty()) {
        messages.line(notOpened);
        PopplerMessages::always(QStringLiteral("Error opening PDF file."));
        return exitOpenFailed;
    }
    // Poppler draws what MuPDF cannot open, and it draws the crop box.
    if (probe.rendererStatus != PdfLoadStatus::Loaded)
        style.drawing.box = PageBox::Crop;

    const int pageCount = probe.pageCount;
    const int first = qMax(1, args.firstPage);
    int last = args.singleFile && args.lastPage < 1 ? first : args.lastPage;
    if (last < 1 || last > pageCount)
        last = pageCount;
    if (last < first) {
        PopplerMessages::always(
            QStringLiteral("Wrong page range given: the first page (%1) can not be after the last page (%2).")
                .arg(first)
                .arg(last));
        return exitOther;
    }
    if (args.singleFile && first < last) {
        messages.line(QStringLiteral("Warning: Single file will write only the first of the %1 pages.")
                          .arg(last + 1 - first));
        last = first;
    }

    // root-07.png in a document of 12 pages; root.png with -singlefile.
    const QString base = toStandardOutput ? QStringLiteral("page") : QFileInfo(root).fileName();
    const QString pattern = args.singleFile ? base + QLatin1Char('.') + type.ending
                                            : base + QStringLiteral("-{page}.") + type.ending;
    const int digits = int(QString::number(pageCount).size());
    const auto nameOf = [&](int page) {
        if (toStandardOutput)
            return QStringLiteral("fd://0");
        if (args.singleFile)
            return displayPath(root + QLatin1Char('.') + type.ending);
        return displayPath(root + QStringLiteral("-%1.").arg(page, digits, 10, QLatin1Char('0')) + type.ending);
    };

    // The pages in order, up to the first that pdftocairo cannot draw: it
    // stops there.
    const PdfDocumentInfo &info = infos.value(0);
    const PdftoppmSizing sizing = style.pdftoppm;
    QStringList pages;
    int cannotDraw = 0;
    for (int page = first; page <= last && cannotDraw == 0; ++page) {
        if ((args.oddOnly && page % 2 == 0) || (args.evenOnly && page % 2 == 1))
            continue;
        if (info.status == PdfLoadStatus::Loaded && !cairoCanDraw(sizing, drawnBox(info, page - 1, style.drawing.box)))
            cannotDraw = page;
        else
            pages << QString::number(page);
    }
    if (pages.isEmpty() && cannotDraw == 0)
        return exitOk;
    style.name = NameTemplate::parse(pattern, &why);
    style.padNumbers = true;
    if (style.name.isEmpty() || !nativeIsDir(outputFolder) || !nativeIsWritableDir(outputFolder)) {
        PopplerMessages::always(QStringLiteral("Error opening output file %1")
                                    .arg(nameOf(pages.isEmpty() ? cannotDraw : pages.constFirst().toInt())));
        return exitOutputFailed;
    }

    int status = exitOk;
    if (!pages.isEmpty()) {
        options.pages = pages.join(QLatin1Char(','));
        const BatchPlan plan = planBatch(options, [&probes](const QStringList &, const QByteArray &, RendererKind) {
            return probes;
        });
        if (!plan.errors.isEmpty()) {
            for (const QString &error : plan.errors)
                PopplerMessages::always(QStringLiteral("Internal Error: ") + error);
            return exitOther;
        }
        const auto handOn = [&](int page, const PageOutcome &outcome) {
            if (status != exitOk)
                return;
            if (outcome.result == PageOutcome::WriteFailed) {
                PopplerMessages::always((toStandardOutput ? QStringLiteral("Error writing %1")
                                                          : QStringLiteral("Error opening output file %1"))
                                            .arg(nameOf(page)));
                status = exitOutputFailed;
            } else if (outcome.result != PageOutcome::Written) {
                messages.line(QStringLiteral("Internal Error: page %1: %2").arg(page).arg(outcome.detail));
                status = exitOther;
            }
        };
        int left = 0;
        const ConversionSummary summary = convertInPageOrder(workers, plan, handOn, &left);
        if (stoppedBySignal(summary))
            return interruptedStatus();
        if (status == exitOk && left > 0)
            status = exitOther;
    }
    if (status == exitOk && cannotDraw > 0) {
        PopplerMessages::always(QStringLiteral("Error writing %1").arg(nameOf(cannotDraw)));
        status = exitOutputFailed;
    }
    return status;
}
