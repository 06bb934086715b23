#include "app/cliapp.h"

#include "app/interruptflag.h"
#include "app/progressline.h"
#include "app/version.h"
#include "conversion/parallelconverter.h"

#include <QCommandLineParser>
#include <QLoggingCategory>
#include <QThread>

#include <cstdio>
#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

constexpr char programName[] = "velloran-cli";
constexpr int maxJobs = 256;

const char exitStatusText[] =
    "Converts the pages of PDF files to image files named <name>_<page>.<type>.\n"
    "\n"
    "Exit status: 0 when every page was written, 1 when some page failed,\n"
    "2 for bad usage or input that stops the run before it starts,\n"
    "130 when interrupted (Ctrl-C): the pages in hand stop at once and leave no file.";

// Every page allocates bitmaps of about the same large size. By default glibc
// maps each one afresh and returns it on release, so the kernel zeroes the
// memory again for every page; kept in the heap it is reused. The peak stays
// what it was: one page's buffers per thread.
void keepPageBuffers()
{
#ifdef __GLIBC__
    mallopt(M_MMAP_THRESHOLD, 512 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 1024 * 1024 * 1024);
#endif
}

void printLine(FILE *stream, const QString &line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stream);
}

void printError(const QString &message)
{
    printLine(stderr, QLatin1String(programName) + QStringLiteral(": ") + message);
}

QString failureText(const PageOutcome &outcome, int resolution)
{
    switch (outcome.result) {
    case PageOutcome::NoPage:
        return QStringLiteral("no such page");
    case PageOutcome::TooLarge:
        return QStringLiteral("page too large to render at %1 dpi (%2)").arg(resolution).arg(outcome.detail);
    case PageOutcome::TooSmall:
        return QStringLiteral("page smaller than one pixel at %1 dpi").arg(resolution);
    case PageOutcome::WriteFailed:
        return QStringLiteral("cannot write %1: %2").arg(outcome.outputPath, outcome.detail);
    case PageOutcome::RenderFailed:
    case PageOutcome::Written:
    case PageOutcome::Stopped:
        break;
    }
    return outcome.detail;
}

QList<QCommandLineOption> cliOptions()
{
    return {
        {{"o", "output"}, "Output folder, made when missing (default: the current folder).", "folder", "."},
        {{"t", "type"}, "Image type: jpg, png, bmp or tiff (default: jpg).", "type", "jpg"},
        {{"r", "resolution"}, "Resolution in dots per inch, 1 to 999999 (default: 150).", "dpi", "150"},
        {{"Q", "quality"}, "Quality, 1 to 100 (default: 75). For png a higher value compresses less.",
         "quality", "75"},
        {{"p", "pages"}, "Pages to convert, such as \"1,2,3,6-9\" (default: all pages).", "list"},
        {{"j", "jobs"}, "Pages converted at once (default: the number of cores).", "n",
         QString::number(QThread::idealThreadCount())},
        {"password", "Password for PDF files that need one.", "password"},
        {{"q", "quiet"}, "No progress line."},
    };
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

void readOptions(const QCommandLineParser &parser, CliApp::CommandLine &result)
{
    BatchOptions &options = result.options;
    options.files = parser.positionalArguments();
    options.outputDir = parser.value(QStringLiteral("output"));
    options.extension = parser.value(QStringLiteral("type")).toLower();
    options.resolution = readNumber(parser, QStringLiteral("resolution"), minResolution, maxResolution,
                                    result.errors);
    options.quality = readNumber(parser, QStringLiteral("quality"), minQuality, maxQuality, result.errors);
    if (parser.isSet(QStringLiteral("pages")))
        options.pages = parser.value(QStringLiteral("pages"));
    if (parser.isSet(QStringLiteral("password")))
        options.password = parser.value(QStringLiteral("password")).toUtf8();
    result.jobs = readNumber(parser, QStringLiteral("jobs"), 1, maxJobs, result.errors);
    result.quiet = parser.isSet(QStringLiteral("quiet"));
}

} // namespace

CliApp::CommandLine CliApp::parse(const QStringList &arguments)
{
    CommandLine result;
    QCommandLineParser parser;
    parser.setApplicationDescription(QLatin1String(exitStatusText));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    parser.addOptions(cliOptions());
    parser.addPositionalArgument(QStringLiteral("files"), QStringLiteral("PDF files to convert."),
                                 QStringLiteral("FILE.pdf..."));
    result.helpText = parser.helpText();

    if (!parser.parse(arguments)) {
        result.errors << parser.errorText();
        return result;
    }
    result.help = parser.isSet(helpOption) || parser.isSet(QStringLiteral("help-all"));
    result.version = parser.isSet(versionOption);
    if (!result.help && !result.version)
        readOptions(parser, result);
    return result;
}

int CliApp::run(const QStringList &arguments)
{
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
        printLine(stdout, QLatin1String(programName) + QLatin1Char(' ') + QLatin1String(AppInfo::version));
        return AllWritten;
    }

    const BatchPlan plan = planBatch(commandLine.options);
    for (const QString &error : plan.errors)
        printError(error);
    if (!plan.errors.isEmpty())
        return BadUsage;
    return convert(commandLine, plan);
}

int CliApp::convert(const CommandLine &commandLine, const BatchPlan &plan)
{
    installInterruptHandler();
    keepPageBuffers();
    const bool showProgress = !commandLine.quiet && isatty(fileno(stderr));
    ProgressLine progress(stderr, plan.pageCount(), showProgress);

    ParallelConverter converter(plan);
    const ConversionSummary summary = converter.run(
        commandLine.jobs, interruptFlag(), [&progress, &plan](const QString &pdfPath, const PageOutcome &outcome) {
            if (outcome.result != PageOutcome::Written)
                progress.printError(QStringLiteral("%1: %2: page %3: %4")
                                        .arg(QLatin1String(programName), pdfPath)
                                        .arg(outcome.page + 1)
                                        .arg(failureText(outcome, plan.resolution)));
            progress.pageDone();
        });
    progress.finish();
    if (summary.threadsRefused > 0)
        printError(QStringLiteral("the system refused to start %1 threads; the pages were converted with fewer")
                       .arg(summary.threadsRefused));

    if (summary.notStarted > 0) {
        printError(QStringLiteral("interrupted: %1 of %2 pages written")
                       .arg(summary.written)
                       .arg(plan.pageCount()));
        return Interrupted;
    }
    return summary.failed > 0 ? SomePagesFailed : AllWritten;
}
