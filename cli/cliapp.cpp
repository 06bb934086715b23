#include "cli/cliapp.h"

#include "cli/jsonreport.h"
#include "cli/progressline.h"
#include "cli/workerconversion.h"
#include "engine/atomicfile.h"
#include "engine/image/imageformat.h"
#include "engine/nativepath.h"
#include "engine/version.h"
#include "engine/pixelsize.h"
#include "runner/interruptflag.h"
#include "engine/workermemory.h"

#include <QCommandLineParser>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <optional>
#include <unistd.h>

namespace {

constexpr char programName[] = "velloran-cli";
constexpr int maxJobs = 256;
constexpr int maxPixels = 1000000;
constexpr int maxPageTimeoutSeconds = 86400;
// A temporary file this old is a leftover of a killed run: it lives only as
// long as its one page takes, seconds or minutes, a day at the most under
// --page-timeout's largest value. Its age is the one sign that also holds for
// a folder shared with other machines, whose processes this one cannot see.
constexpr qint64 staleTemporarySeconds = 2 * 86400;

const char exitStatusText[] =
    "Converts the pages of PDF files to image files named <name>_<page>.<type>\n"
    "(or as --name says), or one page to standard output (-o -).\n"
    "\n"
    "Exit status: 0 when every page was written, 1 when some page failed or some\n"
    "file could not be used (the others are converted; --all-or-nothing refuses them all),\n"
    "2 for bad usage that stops the run before it starts (options, page list, output folder),\n"
    "3 when the --json report could not be written whole (a full disk, a closed pipe),\n"
    "128 + the signal's number when stopped by a signal: 130 for Ctrl-C (SIGINT),\n"
    "143 for SIGTERM, 129 for SIGHUP; the pages in hand stop at once and leave no file.";

// The address space a worker may take: as asked, or an equal share of the
// machine's memory for each of the pages converted at once.
qint64 workerMemoryLimit(const CliApp::CommandLine &commandLine)
{
    if (commandLine.maxMemory > 0)
        return commandLine.maxMemory;
    return defaultWorkerMemory(commandLine.jobs);
}

void printLine(FILE *stream, const QString &line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stream);
}

void printError(const QString &message)
{
    printLine(stderr, QLatin1String(programName) + QStringLiteral(": ") + message);
}

QString failureText(const PageOutcome &outcome, const BatchPlan &plan)
{
    // Sized in pixels, each page has a resolution of its own: the size says more.
    const QString at = plan.task.sizedInPixels() ? QString()
                                                 : QStringLiteral(" at %1 dpi").arg(plan.task.resolution);
    switch (outcome.result) {
    case PageOutcome::NoPage:
        return QStringLiteral("no such page");
    case PageOutcome::TooLarge:
        return QStringLiteral("page too large to render%1 (%2)").arg(at, outcome.detail);
    case PageOutcome::TooSmall:
        return QStringLiteral("page smaller than one pixel%1").arg(at);
    case PageOutcome::WriteFailed:
        if (outcome.outputPath == BatchPlan::standardOutputName())
            return QStringLiteral("cannot write to standard output: %1").arg(outcome.detail);
        // The system's word for it depends on the call and the confinement
        // ("Is a directory", "Permission denied"); the folder is what to mend.
        if (nativeIsDir(outcome.outputPath))
            return QStringLiteral("cannot write %1: a folder of that name is in the way: move or rename it, or give "
                                  "-o another folder")
                .arg(displayPath(outcome.outputPath));
        return QStringLiteral("cannot write %1: %2").arg(displayPath(outcome.outputPath), outcome.detail);
    case PageOutcome::RenderFailed:
    case PageOutcome::TimedOut:
    case PageOutcome::Skipped:
    case PageOutcome::Written:
    case PageOutcome::Stopped:
        break;
    }
    return outcome.detail;
}

QString rendererHelp()
{
    QString text = QStringLiteral("Library that draws the pages: mupdf (fast) or poppler (the window's "
                                  "drawing, the same bytes as the window) (default: %1).")
                       .arg(rendererName(defaultRenderer()));
    if (!rendererBuiltIn(RendererKind::MuPdf))
        text += QStringLiteral(" This build has no MuPDF.");
    else
        text += QStringLiteral(" A file that Poppler opens and MuPDF does not is drawn by Poppler, said once "
                               "on stderr.");
    return text;
}

// The licence the program is distributed under: MuPDF's AGPL carries over to
// a program built with it.
QString versionText()
{
    const bool muPdf = rendererBuiltIn(RendererKind::MuPdf);
    return QLatin1String(programName) + QLatin1Char(' ') + QLatin1String(AppInfo::version)
           + QStringLiteral("\nRenderers: %1\nLicence: %2")
                 .arg(muPdf ? QStringLiteral("mupdf (default), poppler") : QStringLiteral("poppler"),
                      muPdf ? QStringLiteral("AGPL-3.0-or-later (built with MuPDF)")
                            : QStringLiteral("GPL-3.0-or-later"));
}

// Edit distance with adjacent letters swapped counted as one edit ("jbos" is
// one from "jobs").
int editDistance(const QString &a, const QString &b)
{
    const qsizetype n = a.size();
    const qsizetype m = b.size();
    QList<QList<int>> d(n + 1, QList<int>(m + 1, 0));
    for (qsizetype i = 0; i <= n; ++i)
        d[i][0] = int(i);
    for (qsizetype j = 0; j <= m; ++j)
        d[0][j] = int(j);
    for (qsizetype i = 1; i <= n; ++i) {
        for (qsizetype j = 1; j <= m; ++j) {
            const int cost = a.at(i - 1) == b.at(j - 1) ? 0 : 1;
            d[i][j] = qMin(qMin(d[i - 1][j] + 1, d[i][j - 1] + 1), d[i - 1][j - 1] + cost);
            if (i > 1 && j > 1 && a.at(i - 1) == b.at(j - 2) && a.at(i - 2) == b.at(j - 1))
                d[i][j] = qMin(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[n][m];
}

// The long option an unknown one was most likely meant to be: the one it
// begins (--res for --resolution; the shortest when it begins several that
// begin alike), else the nearest within about a third of
// its letters; empty when none is that near, or the name is one letter.
QString nearestOption(const QString &unknown, const QStringList &known)
{
    if (unknown.size() < 2)
        return QString();
    const QString typed = unknown.toLower();
    QStringList begun;
    for (const QString &name : known) {
        if (name.startsWith(typed))
            begun << name;
    }
    // --out begins --output and --output-tree, and means the first.
    if (!begun.isEmpty()) {
        const QString shortest = *std::min_element(begun.cbegin(), begun.cend(), [](const QString &a, const QString &b) {
            return a.size() < b.size();
        });
        if (std::all_of(begun.cbegin(), begun.cend(), [&](const QString &name) { return name.startsWith(shortest); }))
            return shortest;
    }
    QString nearest;
    int best = qMax(1, int(typed.size()) / 3) + 1;
    for (const QString &name : known) {
        const int distance = editDistance(typed, name);
        if (distance < best) {
            best = distance;
            nearest = name;
        }
    }
    return nearest;
}

// QCommandLineParser's complaint in the words of the program's own messages:
// lower case, no full stop, each unknown option with the one it is nearest
// to, and where to look.
QStringList parseErrors(const QCommandLineParser &parser, const QList<QCommandLineOption> &options)
{
    const QString seeHelp = QStringLiteral("; see --help");
    const QStringList unknown = parser.unknownOptionNames();
    if (unknown.isEmpty()) {
        QString text = parser.errorText();
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
        if (!text.isEmpty())
            text[0] = text.at(0).toLower();
        return {text + seeHelp};
    }
    QStringList known{QStringLiteral("help"), QStringLiteral("version")};
    for (const QCommandLineOption &option : options) {
        for (const QString &name : option.names()) {
            if (name.size() > 1 && !(option.flags() & QCommandLineOption::HiddenFromHelp))
                known << name;
        }
    }
    QStringList errors;
    for (const QString &name : unknown) {
        const QString nearest = nearestOption(name, known);
        errors << QStringLiteral("unknown option '%1'%2%3")
                      .arg(name,
                           nearest.isEmpty() ? QString() : QStringLiteral(" (did you mean --%1?)").arg(nearest),
                           seeHelp);
    }
    return errors;
}

void readRenderer(const QCommandLineParser &parser, CliApp::CommandLine &result)
{
    const QString name = parser.value(QStringLiteral("renderer")).toLower();
    const std::optional<RendererKind> kind = rendererForName(name);
    if (!kind)
        result.errors << QStringLiteral("unknown renderer \"%1\": use mupdf or poppler").arg(name);
    else if (!rendererBuiltIn(*kind))
        result.errors << QStringLiteral("this velloran-cli was built without MuPDF: use --renderer poppler");
    else
        result.options.renderer = *kind;
}

QList<QCommandLineOption> cliOptions()
{
    return {
        {{"o", "output"}, "Output folder, made when missing (default: the current folder); "
                          "- writes the one page of the run to standard output, for a pipe.", "folder", "."},
        {"output-tree", "Write each file's pages under the output folder at the file's folder relative to this "
                        "one (root/2023/report.pdf into <output>/2023/); files outside it are refused.", "root"},
        {{"t", "type"}, QStringLiteral("Image type: %1 (default: jpg); jpeg and tif are taken for jpg and tiff.")
                            .arg(listText(formatExtensions())), "type", "jpg"},
        {{"r", "resolution"}, "Resolution in dots per inch, 1 to 999999 (default: 150).", "dpi", "150"},
        {"width", "Fit each page into this many pixels wide (with --height, into that box), "
                  "keeping its proportions, instead of a resolution.", "pixels"},
        {"height", "Fit each page into this many pixels high.", "pixels"},
        {"scale-to", "Make each page's longer side this many pixels, instead of a resolution.", "pixels"},
        {{"Q", "quality"}, "Quality, 1 to 100 (default: 75). For png and tiff deflate a higher value "
                           "compresses less; for webp 100 means lossless.", "quality", "75"},
        {"gray", QStringLiteral("Write 8-bit grayscale (%1).").arg(extensionsStoring(PixelMode::Gray).join(", "))},
        {"mono", QStringLiteral("Write 1 bit a pixel, black below half luminance (%1; TIFF with CCITT G4).").arg(extensionsStoring(PixelMode::Mono).join(", "))},
        {"transparent", QStringLiteral("Leave the paper unpainted and write alpha (%1).").arg(extensionsStoring(PixelMode::ColorAlpha).join(", "))},
        {"multipage", QStringLiteral("With -t %1: every page of a file into one <name>.%1.").arg(multiPageExtensions().constFirst())},
        {"pad", "Number pages with leading zeros to the width of the page count (report_07.png)."},
        {"name", "Output names from a pattern of {name} (the PDF's base name), {page} ({page:3}: "
                 "3 digits at least) and {ext}, such as \"{name}-p{page:3}.{ext}\". A pattern without "
                 "{ext} gets the type's extension added, as pdftoppm adds it, unless it already ends "
                 "in it: \"{name}-{page}\" gives report-7.jpg.", "pattern"},
        {"box", "Page box drawn: media, crop, bleed, trim or art (default: crop, as the window draws); "
                "sizes follow it. A missing bleed, trim or art box is the crop box. Other than crop "
                "needs --renderer mupdf.", "box", "crop"},
        {"crop", "Only this region of each page, in pixels of the page as drawn at the resolution: "
                 "X,Y,W,H from the top left corner, clipped to the page; a page it misses fails.",
         "x,y,w,h"},
        {"no-antialias", "Draw text and vector edges without anti-aliasing: only the page's own "
                         "colours, for line art, barcodes and OCR."},
        {"no-annotations", "Draw pages without their annotations (comments, stamps, form fields)."},
        {"cmyk", QStringLiteral("With %1: draw in CMYK for print (TIFF InkSet CMYK, JPEG with Adobe's "
                 "CMYK marker); needs --renderer mupdf.").arg(listText(extensionsStoring(PixelMode::Cmyk)))},
        {"progressive", "With jpg: progressive JPEG, shown coarse to fine while it loads."},
        {"optimize", "With jpg: Huffman tables made for each image, a few percent smaller, a little slower."},
        {"subsampling", "With jpg: chroma samples kept, 444 (all, for sharp coloured text), 422 or "
                        "420 (default: 420, the smallest).", "444|422|420"},
        {"compression", "With tiff: none, packbits, lzw, deflate or jpeg (lossy, -Q is its quality) for "
                        "colour and gray pages. Default: none, the fastest to write and to read; packbits "
                        "takes little longer and makes pages of text a tenth of the size; lzw and deflate "
                        "make them smaller still in about twice the time. 1-bit pages are always CCITT G4.",
         "method"},
        {{"p", "pages"}, "Pages to convert, such as \"1,2,3,6-9\", \"5-\" (5 to the last), "
                         "\"odd\" or \"even\" (default: all pages).", "list"},
        {{"j", "jobs"}, "Pages converted at once (default: the number of cores).", "n",
         QString::number(QThread::idealThreadCount())},
        {"password", "Password for PDF files that need one.", "password"},
        {"all-or-nothing", "Refuse the whole run when any input cannot be used (missing, not a PDF, damaged, "
                           "a wrong password, pages it lacks): exit 2 and nothing written. Without it such a "
                           "file is reported and the others are converted, with exit 1."},
        {"skip-existing", "Leave pages whose output is already a whole image of the type alone, counted "
                          "as done: a run stopped midway can be run again to do the rest. An output that is "
                          "empty, cut short or of another kind is converted again. Each output is flushed "
                          "to the disk before it takes its name, so that a power cut leaves none half written."},
        {"page-timeout", "Give up a page that takes longer than this many seconds; the run goes on.",
         "seconds"},
        {"max-memory", "Memory each page's worker process may hold (resident, as measured while it draws), such "
                       "as 300M or 2G; a page that needs more fails \"over the memory limit\" and the run goes "
                       "on; a large page is drawn in bands to stay under it. At least what an A4 page needs "
                       "whole at the resolution, 64M at 150 dpi (default: the machine's memory shared among "
                       "the -j pages converted at once, 1G at least).",
         "size"},
        {"renderer", rendererHelp(), "name", rendererName(defaultRenderer())},
        {"json", "Report each page and a summary as JSON objects, one a line, on standard output; each "
                 "page's line names the renderer that drew it and what it reported while drawing "
                 "(\"warnings\")."},
        {"strict", "Fail a page when the renderer reported an error while drawing it (an object missing, "
                   "an image left out, memory refused): no file is written for it, and a file already under "
                   "its name is left as it was. Poppler does not grade what it reports: with --renderer "
                   "poppler any report fails the page."},
        {{"v", "verbose"}, "Print what the renderer reported while drawing each page (the first few "
                           "texts and how many in all)."},
        {{"q", "quiet"}, "No progress line."},
        {"version", "Displays version information."},
    };
}

// Reads a size in bytes, with K, M or G (binary multiples) after the number.
qint64 readSize(const QString &text, QStringList &errors)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,9})([KMG]?)$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(text.trimmed());
    const int shift = match.captured(2).isEmpty() ? 0 : 10 * (1 + int(QStringLiteral("KMG").indexOf(match.captured(2).toUpper())));
    const qint64 value = match.hasMatch() ? match.captured(1).toLongLong() << shift : 0;
    constexpr qint64 smallest = qint64(64) << 20;
    if (!match.hasMatch() || value < smallest || value > (qint64(1) << 50)) {
        errors << QStringLiteral("invalid max-memory \"%1\": expected a size of 64M or more, such as 1500M or 2G")
                      .arg(text);
        return 0;
    }
    return value;
}

// Reads a whole number option in [min, max]; adds an error otherwise.
int readNumber(const QCommandLineParser &parser, const QString &name, int min, int max, QStringList &errors)
{
    const QString text = parser.value(name);
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok || value < min || value > max)
        errors << QStringLiteral("invalid %1 \"%2\": expected a whole number from %3 to %4")
                      .arg(name, text)
                      .arg(min)
                      .arg(max);
    return value;
}

// Reads an optional whole number of pixels; 0 when not given.
int readPixels(const QCommandLineParser &parser, const QString &name, QStringList &errors)
{
    return parser.isSet(name) ? readNumber(parser, name, 1, maxPixels, errors) : 0;
}

// X,Y,W,H in pixels, the size above 0; an error otherwise.
QRect readRegion(const QString &text, QStringList &errors)
{
    const QStringList parts = text.split(QLatin1Char(','));
    int values[4] = {};
    bool ok = parts.size() == 4;
    for (int i = 0; ok && i < 4; ++i) {
        values[i] = parts.at(i).trimmed().toInt(&ok, 10);
        ok = ok && values[i] >= 0 && values[i] <= maxPixels && (i < 2 || values[i] > 0);
    }
    if (!ok) {
        errors << QStringLiteral("invalid crop \"%1\": expected X,Y,W,H in pixels, W and H above 0").arg(text);
        return QRect();
    }
    return QRect(values[0], values[1], values[2], values[3]);
}

void readOutputStyle(const QCommandLineParser &parser, CliApp::CommandLine &result)
{
    OutputStyle &style = result.options.style;
    style.width = readPixels(parser, QStringLiteral("width"), result.errors);
    style.height = readPixels(parser, QStringLiteral("height"), result.errors);
    style.longestSide = readPixels(parser, QStringLiteral("scale-to"), result.errors);

    const bool gray = parser.isSet(QStringLiteral("gray"));
    const bool mono = parser.isSet(QStringLiteral("mono"));
    const bool transparent = parser.isSet(QStringLiteral("transparent"));
    const bool cmyk = parser.isSet(QStringLiteral("cmyk"));
    if (int(gray) + int(mono) + int(transparent) + int(cmyk) > 1)
        result.errors << QStringLiteral("choose one of --gray, --mono, --transparent and --cmyk");
    style.mode = gray          ? PixelMode::Gray
                 : mono        ? PixelMode::Mono
                 : transparent ? PixelMode::ColorAlpha
                 : cmyk        ? PixelMode::Cmyk
                               : PixelMode::Color;

    const QString boxName = parser.value(QStringLiteral("box")).toLower();
    if (const std::optional<PageBox> box = pageBoxForName(boxName))
        style.drawing.box = *box;
    else
        result.errors << QStringLiteral("invalid box \"%1\": use media, crop, bleed, trim or art").arg(boxName);
    if (parser.isSet(QStringLiteral("crop")))
        style.crop = readRegion(parser.value(QStringLiteral("crop")), result.errors);
    style.drawing.antialias = !parser.isSet(QStringLiteral("no-antialias"));
    style.drawing.annotations = !parser.isSet(QStringLiteral("no-annotations"));

    EncoderOptions &encoder = style.encoder;
    encoder.jpegProgressive = parser.isSet(QStringLiteral("progressive"));
    encoder.jpegOptimize = parser.isSet(QStringLiteral("optimize"));
    style.subsamplingGiven = parser.isSet(QStringLiteral("subsampling"));
    if (style.subsamplingGiven) {
        const QString text = parser.value(QStringLiteral("subsampling"));
        if (const std::optional<ChromaSubsampling> sampling = chromaSubsamplingForName(text))
            encoder.subsampling = *sampling;
        else
            result.errors << QStringLiteral("invalid subsampling \"%1\": use 444, 422 or 420").arg(text);
    }
    style.compressionGiven = parser.isSet(QStringLiteral("compression"));
    if (style.compressionGiven) {
        const QString text = parser.value(QStringLiteral("compression"));
        if (const std::optional<TiffCompression> compression = tiffCompressionForName(text))
            encoder.tiffCompression = *compression;
        else
            result.errors << QStringLiteral("invalid compression \"%1\": use none, packbits, lzw, deflate or jpeg")
                                 .arg(text);
    }
    if (parser.isSet(QStringLiteral("name"))) {
        const QString pattern = parser.value(QStringLiteral("name"));
        QString why;
        style.name = NameTemplate::parse(pattern, &why);
        if (style.name.isEmpty())
            result.errors << QStringLiteral("invalid name \"%1\": %2").arg(pattern, why);
    }

    style.multipage = parser.isSet(QStringLiteral("multipage"));
    style.padNumbers = parser.isSet(QStringLiteral("pad"));
    style.skipExisting = parser.isSet(QStringLiteral("skip-existing"));
    if (parser.isSet(QStringLiteral("page-timeout"))) {
        const QString text = parser.value(QStringLiteral("page-timeout"));
        bool ok = false;
        const double seconds = text.toDouble(&ok);
        if (!ok || !(seconds > 0) || seconds > maxPageTimeoutSeconds)
            result.errors << QStringLiteral("invalid page-timeout \"%1\": expected seconds above 0, up to %2")
                                 .arg(text)
                                 .arg(maxPageTimeoutSeconds);
        else
            style.timeLimitMs = qMax<qint64>(1, qint64(seconds * 1000.0 + 0.5));
    }
}

void readOptions(const QCommandLineParser &parser, CliApp::CommandLine &result)
{
    BatchOptions &options = result.options;
    options.files = parser.positionalArguments();
    options.outputDir = parser.value(QStringLiteral("output"));
    if (parser.isSet(QStringLiteral("output-tree")))
        options.outputTree = parser.value(QStringLiteral("output-tree"));
    options.extension = parser.value(QStringLiteral("type")).toLower();
    // The other usual spellings, as file names have them: the files still
    // take the type's own extension.
    if (options.extension == QLatin1String("jpeg"))
        options.extension = QStringLiteral("jpg");
    else if (options.extension == QLatin1String("tif"))
        options.extension = QStringLiteral("tiff");
    options.resolution = readNumber(parser, QStringLiteral("resolution"), minResolution, maxResolution,
                                    result.errors);
    options.resolutionGiven = parser.isSet(QStringLiteral("resolution"));
    readOutputStyle(parser, result);
    // -t pgm and -t pbm hold one mode each: gray and 1-bit without --gray or --mono.
    const std::optional<ImageFormat> format = imageFormatForExtension(options.extension);
    if (format && options.style.mode == PixelMode::Color)
        options.style.mode = defaultMode(*format);
    options.quality = readNumber(parser, QStringLiteral("quality"), minQuality, maxQuality, result.errors);
    if (parser.isSet(QStringLiteral("pages")))
        options.pages = parser.value(QStringLiteral("pages"));
    if (parser.isSet(QStringLiteral("password")))
        options.password = parser.value(QStringLiteral("password")).toUtf8();
    result.jobs = readNumber(parser, QStringLiteral("jobs"), 1, maxJobs, result.errors);
    if (parser.isSet(QStringLiteral("max-memory")))
        result.maxMemory = readSize(parser.value(QStringLiteral("max-memory")), result.errors);
    result.quiet = parser.isSet(QStringLiteral("quiet"));
    result.verbose = parser.isSet(QStringLiteral("verbose"));
    result.options.style.strict = parser.isSet(QStringLiteral("strict"));
    options.allOrNothing = parser.isSet(QStringLiteral("all-or-nothing"));
    result.json = parser.isSet(QStringLiteral("json"));
    readRenderer(parser, result);
    if (result.maxMemory > 0 && result.errors.isEmpty()) {
        // Sized in pixels, an A4 page fitted to the size.
        const QSizeF a4(595, 842);
        const OutputStyle &style = options.style;
        const double resolution = style.longestSide > 0 ? resolutionForLongestSide(a4, style.longestSide)
                                  : style.sizedInPixels()  ? resolutionToFit(a4, style.width, style.height)
                                                           : double(options.resolution);
        const qint64 smallest = smallestWorkerMemory(resolution);
        if (result.maxMemory < smallest)
            result.errors << QStringLiteral("invalid max-memory \"%1\": too little to draw an ordinary page "
                                            "at %2 dpi; the smallest that works is %3M")
                                 .arg(parser.value(QStringLiteral("max-memory")))
                                 .arg(qRound(resolution))
                                 .arg(smallest >> 20);
    }
    if (result.json && options.outputDir == BatchPlan::standardOutputName())
        result.errors << QStringLiteral("--json and -o - both write to standard output: choose one");
}

} // namespace

CliApp::CommandLine CliApp::parse(const QStringList &arguments)
{
    CommandLine result;
    QCommandLineParser parser;
    parser.setApplicationDescription(QLatin1String(exitStatusText));
    const QCommandLineOption helpOption = parser.addHelpOption();
    // Not addVersionOption(), which takes -v: that is --verbose.
    const QList<QCommandLineOption> options = cliOptions();
    parser.addOptions(options);
    parser.addPositionalArgument(QStringLiteral("files"), QStringLiteral("PDF files to convert."),
                                 QStringLiteral("FILE.pdf..."));
    result.helpText = parser.helpText();

    if (!parser.parse(arguments)) {
        result.errors << parseErrors(parser, options);
        return result;
    }
    result.help = parser.isSet(helpOption) || parser.isSet(QStringLiteral("help-all"));
    result.version = parser.isSet(QStringLiteral("version"));
    if (!result.help && !result.version)
        readOptions(parser, result);
    return result;
}

int CliApp::run(const QStringList &arguments)
{
    // Before anything is checked: a signal while the inputs are read stops
    // the run as one during the conversion does, with its summary.
    installInterruptHandler();
    QCoreApplication::setApplicationName(QLatin1String(programName));
    QCoreApplication::setApplicationVersion(QLatin1String(AppInfo::version));
    // Poppler reports its parser's troubles as debug output without naming the
    // file; the converter prints its own line for every file it cannot use.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));

    const CommandLine commandLine = parse(arguments);
    for (const QString &error : commandLine.errors)
        printError(error);
    if (!commandLine.errors.isEmpty())
        return BadUsage;
    if (commandLine.help) {
        std::fputs(qPrintable(commandLine.helpText), stdout);
        return AllWritten;
    }
    if (commandLine.version) {
        printLine(stdout, versionText());
        return AllWritten;
    }

    // The inputs are opened in worker processes too: a file that crashes the
    // renderer as it is opened is refused, not the end of the run.
    BatchWorkers workers(commandLine.options, WorkerLimits{commandLine.jobs, workerMemoryLimit(commandLine)},
                         interruptFlag());
    const BatchPlan plan = workers.plan(commandLine.options);
    if (interruptFlag().load(std::memory_order_relaxed)) {
        // Stopped while the inputs were opened: the files not opened yet say
        // nothing of themselves, so the run ends as a stopped one, not a refused one.
        const int status = StoppedBySignal + (interruptSignal() > 0 ? interruptSignal() : SIGINT);
        printError(QStringLiteral("interrupted while the inputs were checked: nothing written"));
        if (commandLine.json)
            JsonReport(stdout).summary(ConversionSummary(), 0, 0, commandLine.options.files, status,
                                       rendererName(plan.task.renderer));
        return status;
    }
    if (!plan.errors.isEmpty())
        return refuse(commandLine, plan);
    // A file that cannot be used costs that file: said, and the rest converted.
    for (const RefusedFile &file : plan.refused)
        printError(refusalText(file));
    // Said whatever -q says: the pages are not drawn as asked (the JSON lines
    // name the renderer too).
    for (const BatchFile &file : plan.files)
        if (!file.fellBack.isEmpty())
            printError(displayPath(file.path) + QStringLiteral(": ") + file.fellBack);
    for (const QString &folder : plan.outputFolders())
        AtomicFile::removeStaleTemporaries(folder, staleTemporarySeconds);
    return convert(commandLine, plan, workers);
}

int CliApp::refuse(const CommandLine &commandLine, const BatchPlan &plan)
{
    for (const QString &error : plan.errors)
        printError(error);
    // Refused on their own too, when something else refuses the run.
    for (const RefusedFile &file : plan.refused)
        if (!plan.errors.contains(refusalText(file)))
            printError(refusalText(file));
    if (commandLine.json) {
        JsonReport json(stdout);
        for (const RefusedFile &file : plan.refused)
            json.refused(file);
        json.summary(ConversionSummary(), 0, int(plan.refused.size()), commandLine.options.files, BadUsage,
                     rendererName(plan.task.renderer));
    }
    return BadUsage;
}

int CliApp::convert(const CommandLine &commandLine, const BatchPlan &plan, BatchWorkers &workers)
{
    const bool showProgress = !commandLine.quiet && isatty(fileno(stderr));
    ProgressLine progress(stderr, plan.pageCount(), showProgress);

    std::optional<JsonReport> json;
    if (commandLine.json) {
        json.emplace(stdout);
        for (const RefusedFile &file : plan.refused)
            json->refused(file);
    }

    const auto onPage = [&](const QString &pdfPath, const PageOutcome &outcome) {
            const bool failed = outcome.result != PageOutcome::Written && outcome.result != PageOutcome::Skipped;
            const QString error = failed ? failureText(outcome, plan) : QString();
            if (failed)
                progress.printError(QStringLiteral("%1: %2: page %3: %4")
                                        .arg(QLatin1String(programName), displayPath(pdfPath))
                                        .arg(outcome.page + 1)
                                        .arg(error));
            if (commandLine.verbose && outcome.warningCount > 0) {
                for (const QString &warning : outcome.warnings)
                    progress.printError(QStringLiteral("%1: %2: page %3: %4 says: %5")
                                            .arg(QLatin1String(programName), displayPath(pdfPath))
                                            .arg(outcome.page + 1)
                                            .arg(outcome.renderer, warning));
                if (outcome.warningCount > outcome.warnings.size())
                    progress.printError(QStringLiteral("%1: %2: page %3: %4 more reports")
                                            .arg(QLatin1String(programName), displayPath(pdfPath))
                                            .arg(outcome.page + 1)
                                            .arg(outcome.warningCount - outcome.warnings.size()));
            }
            if (json)
                json->page(pdfPath, outcome, error);
            progress.pageDone();
        };
    // Pages are drawn in worker processes, so that a document that hangs or
    // crashes a renderer costs its page and not the run: -o -'s page too,
    // written by its worker straight onto this process's standard output,
    // and the pages of a multi-page file, joined by a worker once all are drawn.
    ConversionSummary summary = workers.convert(plan, onPage);
    progress.finish();

    // A run that stopped by itself (a full disk) failed; one stopped by a signal says which.
    const bool stoppedItself = !summary.stoppedBecause.isEmpty();
    const bool stopped = summary.notStarted > 0 && !stoppedItself;
    const int pagesStatus = stopped ? StoppedBySignal + (interruptSignal() > 0 ? interruptSignal() : SIGINT)
                            : summary.failed > 0 || stoppedItself || !plan.refused.isEmpty() ? SomePagesFailed
                                                                                             : AllWritten;
    // What finishes a stopped run: the same command, which with
    // --skip-existing leaves the pages already written alone.
    const QString again = plan.naming.skipExisting || plan.toStandardOutput()
                              ? QStringLiteral("run the same command again")
                              : QStringLiteral("run the same command with --skip-existing");
    if (stoppedItself) {
        // The report's stopped_because says all that the line says.
        summary.stoppedBecause = QStringLiteral("%1; %2 of %3 pages written, %4 not started: make room there or give "
                                                "-o another folder, then %5 to do the rest")
                                     .arg(summary.stoppedBecause)
                                     .arg(summary.written)
                                     .arg(plan.pageCount())
                                     .arg(summary.notStarted)
                                     .arg(plan.naming.skipExisting ? QStringLiteral("run the same command again")
                                                                  : QStringLiteral("add --skip-existing"));
        if (summary.notStarted > 0)
            printError(QStringLiteral("stopped: ") + summary.stoppedBecause);
    } else if (stopped) {
        printError(QStringLiteral("interrupted: %1 of %2 pages written: %3 to do the rest")
                       .arg(summary.written)
                       .arg(plan.pageCount())
                       .arg(again));
    }
    if (!json)
        return pagesStatus;
    // A lost report must not pass for success: a script that trusts the exit
    // status would lose its record. A stop by a signal still says so first.
    const auto withReport = [&] { return !stopped && json->lost() ? int(ReportLost) : pagesStatus; };
    json->summary(summary, plan.pageCount(), int(plan.refused.size()), commandLine.options.files, withReport(),
                  rendererName(plan.task.renderer));
    if (json->lost())
        printError(QStringLiteral("the JSON report could not be written whole%1")
                       .arg(json->lostBecause().isEmpty() ? QString() : QStringLiteral(": ") + json->lostBecause()));
    return withReport();
}
