#include "cli/pdfinfoapp.h"
#include "cli/standardinput.h"

#include "engine/nativepath.h"
#include "engine/render/documentinfo.h"
#include "runner/interruptflag.h"
#include "runner/pagerunner.h"
#include "runner/workerprogram.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int exitOk = 0;
constexpr int exitOpenFailed = 1;
constexpr int exitOther = 99;
constexpr qint64 readTimeLimitMs = 60000;
constexpr qint64 workerMemory = qint64(1) << 30;

struct PdfinfoArgs
{
    int firstPage = 0;
    int lastPage = 0;
    bool boxes = false;
    bool isoDates = false;
    bool rawDates = false;
    QByteArray ownerPassword;
    QByteArray userPassword;
    bool version = false;
    bool help = false;
    QStringList files;
    QString refused;    // an option pdfinfo has that this program does not print
    bool usageError = false;
};

const char usage[] =
    "Usage: pdfinfo [options] <PDF-file>\n"
    "  -f <int>             : first page to convert\n"
    "  -l <int>             : last page to convert\n"
    "  -box                 : print the page bounding boxes\n"
    "  -isodates            : print the dates in ISO-8601 format\n"
    "  -rawdates            : print the undecoded date strings directly from the PDF file\n"
    "  -opw <string>        : owner password (for encrypted files)\n"
    "  -upw <string>        : user password (for encrypted files)\n"
    "  -v                   : print copyright and version info\n"
    "  -h                   : print usage information\n"
    "  -help                : print usage information\n"
    "  --help               : print usage information\n"
    "  -?                   : print usage information\n";

// As pdfinfo reads its arguments: an option of one dash anywhere, followed
// by its value; anything else is the file.
PdfinfoArgs parseArgs(const QStringList &arguments)
{
    PdfinfoArgs args;
    const QStringList notPrinted{"-meta", "-custom", "-js", "-struct", "-struct-text", "-dests", "-url", "-listenc"};
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        const auto value = [&](QString &text) {
            if (i + 1 >= arguments.size()) {
                args.usageError = true;
                return false;
            }
            text = arguments.at(++i);
            return true;
        };
        const auto number = [&](int &target) {
            QString text;
            bool ok = false;
            if (value(text))
                target = text.toInt(&ok, 10);
            if (!ok || text.startsWith(QLatin1Char('+')))
                args.usageError = true;
        };
        QString text;
        if (argument == QLatin1String("-f"))
            number(args.firstPage);
        else if (argument == QLatin1String("-l"))
            number(args.lastPage);
        else if (argument == QLatin1String("-box"))
            args.boxes = true;
        else if (argument == QLatin1String("-isodates"))
            args.isoDates = true;
        else if (argument == QLatin1String("-rawdates"))
            args.rawDates = true;
        else if (argument == QLatin1String("-opw") && value(text))
            args.ownerPassword = text.toUtf8();
        else if (argument == QLatin1String("-upw") && value(text))
            args.userPassword = text.toUtf8();
        else if (argument == QLatin1String("-enc") && value(text)) {
            if (text != QLatin1String("UTF-8"))
                args.refused = QStringLiteral("-enc ") + text;
        } else if (argument == QLatin1String("-v"))
            args.version = true;
        else if (argument == QLatin1String("-h") || argument == QLatin1String("-help")
                 || argument == QLatin1String("--help") || argument == QLatin1String("-?"))
            args.help = true;
        else if (notPrinted.contains(argument))
            args.refused = argument;
        else if (argument != QLatin1String("-opw") && argument != QLatin1String("-upw")
                 && argument != QLatin1String("-enc"))
            args.files << argument;
    }
    if (args.files.size() != 1)
        args.usageError = true;
    return args;
}

QByteArray format(const char *pattern, ...)
{
    char text[512];
    va_list list;
    va_start(list, pattern);
    const int length = std::vsnprintf(text, sizeof text, pattern, list);
    va_end(list);
    return QByteArray(text, qBound(0, length, int(sizeof text) - 1));
}

// A PDF date, "D:YYYYMMDDHHmmSSOHH'mm'", each part after the year optional.
struct PdfDate
{
    int year = 0, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    char zone = 0; // '+', '-', 'Z' or none
    int zoneHours = 0, zoneMinutes = 0;
};

bool parseDate(const QByteArray &raw, PdfDate &date)
{
    QByteArray text = raw;
    if (text.startsWith("D:"))
        text.remove(0, 2);
    if (raw.size() < 2)
        return false;
    const int read = std::sscanf(text.constData(), "%4d%2d%2d%2d%2d%2d%c%2d%*c%2d", &date.year, &date.month,
                                 &date.day, &date.hour, &date.minute, &date.second, &date.zone, &date.zoneHours,
                                 &date.zoneMinutes);
    return read > 0 && date.year > 0;
}

// pdfinfo's three ways: the string as written, ISO 8601 as written, or the
// moment in the local time zone in the locale's words.
QByteArray dateText(const QByteArray &raw, const PdfinfoArgs &args)
{
    PdfDate date;
    if (args.rawDates || !parseDate(raw, date))
        return raw;
    if (args.isoDates) {
        QByteArray text = format("%04d-%02d-%02dT%02d:%02d:%02d", date.year, date.month, date.day, date.hour,
                                 date.minute, date.second);
        if (date.zone == '+' || date.zone == '-') {
            text += format("%c%02d", date.zone, date.zoneHours);
            if (date.zoneMinutes != 0)
                text += format(":%02d", date.zoneMinutes);
        } else {
            text += 'Z';
        }
        return text;
    }
    std::tm fields{};
    fields.tm_year = date.year - 1900;
    fields.tm_mon = date.month - 1;
    fields.tm_mday = date.day;
    fields.tm_hour = date.hour;
    fields.tm_min = date.minute;
    fields.tm_sec = date.second;
    std::time_t moment = timegm(&fields);
    if (moment == std::time_t(-1))
        return raw;
    const long offset = (long(date.zoneHours) * 60 + date.zoneMinutes) * 60;
    if (date.zone == '+')
        moment -= offset;
    else if (date.zone == '-')
        moment += offset;
    std::tm local{};
    localtime_r(&moment, &local);
    char text[256];
    const size_t length = std::strftime(text, sizeof text, "%c %Z", &local);
    return QByteArray(text, qsizetype(length));
}

// " (letter)", " (A4)": the paper a page's size is near; ISO sizes A0 to A6
// within three thousandths of the paper's height either way.
QByteArray paperName(double width, double height)
{
    const auto near = [&](double w, double h, double margin) {
        return (std::fabs(width - w) < margin && std::fabs(height - h) < margin)
               || (std::fabs(width - h) < margin && std::fabs(height - w) < margin);
    };
    if (near(612, 792, 1))
        return " (letter)";
    double isoHeight = std::sqrt(std::sqrt(2.0)) * 7200 / 2.54;
    double isoWidth = isoHeight / std::sqrt(2.0);
    for (int size = 0; size <= 6; ++size) {
        if (near(isoWidth, isoHeight, 0.003 * isoHeight))
            return format(" (A%d)", size);
        isoHeight = isoWidth;
        isoWidth /= std::sqrt(2.0);
    }
    return QByteArray();
}

QByteArray boxLine(const char *label, const PdfBox &box)
{
    return format("%-11s%8.2f %8.2f %8.2f %8.2f", label, box.x1, box.y1, box.x2, box.y2);
}

QByteArray report(const PdfDocumentInfo &info, const PdfinfoArgs &args, int first, int last, bool manyPages)
{
    QByteArray out;
    const auto line = [&out](const char *label, const QByteArray &value) {
        out += format("%-17s", label) + value + '\n';
    };
    const auto text = [&](const char *label, const QString &value) {
        if (!value.isNull())
            line(label, value.toUtf8());
    };
    const auto yesNo = [](bool value) { return QByteArray(value ? "yes" : "no"); };
    text("Title:", info.title);
    text("Subject:", info.subject);
    text("Keywords:", info.keywords);
    text("Author:", info.author);
    text("Creator:", info.creator);
    text("Producer:", info.producer);
    if (!info.creationDate.isNull())
        line("CreationDate:", dateText(info.creationDate, args));
    if (!info.modDate.isNull())
        line("ModDate:", dateText(info.modDate, args));
    line("Custom Metadata:", yesNo(info.customMetadata));
    line("Metadata Stream:", yesNo(info.metadataStream));
    line("Tagged:", yesNo(info.tagged));
    line("UserProperties:", yesNo(info.userProperties));
    line("Suspects:", yesNo(info.suspects));
    line("Form:", info.form == PdfDocumentInfo::AcroForm ? "AcroForm" : info.form == PdfDocumentInfo::XfaForm ? "XFA" : "none");
    bool javaScript = info.documentJavaScript;
    for (int page = first; page <= last; ++page)
        javaScript = javaScript || info.pages.value(page - 1).javaScript;
    line("JavaScript:", yesNo(javaScript));
    line("Pages:", QByteArray::number(info.pageCount));
    if (info.encrypted)
        line("Encrypted:", format("yes (print:%s copy:%s change:%s addNotes:%s algorithm:%s)",
                                  yesNo(info.mayPrint).constData(), yesNo(info.mayCopy).constData(),
                                  yesNo(info.mayChange).constData(), yesNo(info.mayAddNotes).constData(),
                                  qPrintable(info.encryption)));
    else
        line("Encrypted:", "no");
    // Without -l, one page: the first, when the range starts there.
    for (int page = first; page <= (manyPages ? last : 1); ++page) {
        const PdfPageInfo pageInfo = info.pages.value(page - 1);
        const double width = pageInfo.cropBox.x2 - pageInfo.cropBox.x1;
        const double height = pageInfo.cropBox.y2 - pageInfo.cropBox.y1;
        const QByteArray size = format("%g x %g pts", width, height) + paperName(width, height);
        if (manyPages) {
            out += format("Page %4d size:  ", page) + size + '\n';
            out += format("Page %4d rot:   %d\n", page, pageInfo.rotation);
        } else {
            line("Page size:", size);
            line("Page rot:", QByteArray::number(pageInfo.rotation));
        }
    }
    if (args.boxes) {
        for (int page = first; page <= (manyPages ? last : first); ++page) {
            const PdfPageInfo pageInfo = info.pages.value(page - 1);
            const QByteArray prefix = manyPages ? format("Page %4d ", page) : QByteArray("      ");
            const std::pair<const char *, PdfBox> boxes[] = {{"MediaBox:", pageInfo.mediaBox},
                                                             {"CropBox:", pageInfo.cropBox},
                                                             {"BleedBox:", pageInfo.bleedBox},
                                                             {"TrimBox:", pageInfo.trimBox},
                                                             {"ArtBox:", pageInfo.artBox}};
            for (const auto &[label, box] : boxes)
                out += (manyPages ? prefix + boxLine(label, box) : format("%-17s", label) + boxLine("", box).mid(11)) + '\n';
        }
    }
    line("File size:", QByteArray::number(info.fileSize) + " bytes");
    line("Optimized:", yesNo(info.linearized));
    line("PDF version:", format("%d.%d", info.majorVersion, info.minorVersion));
    return out;
}


void printVersion()
{
    std::fputs("pdfinfo version 22.12.0\n"
               "Read by velloran-cli's workers with Poppler's parser\n",
               stderr);
}

} // namespace

int runPdfinfo(const QStringList &arguments)
{
    installInterruptHandler();
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    const PdfinfoArgs args = parseArgs(arguments);
    if (args.version) {
        printVersion();
        return exitOk;
    }
    if (args.usageError || args.help) {
        printVersion();
        std::fputs(usage, stderr);
        return args.help ? exitOk : exitOther;
    }
    if (!args.refused.isEmpty()) {
        std::fprintf(stderr, "pdfinfo: %s is not available in this program\n", qPrintable(args.refused));
        return exitOther;
    }
    QString file = args.files.constFirst();
    const bool fromStandardInput = file == QLatin1String("-");
    std::optional<QTemporaryDir> privateFolder;
    if (fromStandardInput) {
        privateFolder.emplace();
        file = privateFolder->filePath(QStringLiteral("input.pdf"));
        if (!privateFolder->isValid() || !saveStandardInput(file)) {
            std::fputs("I/O Error: Couldn't read standard input\n", stderr);
            return exitOpenFailed;
        }
        if (QFileInfo(file).size() == 0) {
            std::fputs("Syntax Error: Document stream is empty\n", stderr);
            return exitOpenFailed;
        }
    } else if (::access(nativePath(file).constData(), R_OK) != 0 || nativeIsDir(file)) {
        const int error = nativeIsDir(file) ? EISDIR : errno;
        std::fprintf(stderr, "I/O Error: Couldn't open file '%s': %s.\n", qPrintable(displayPath(file)),
                     std::strerror(error));
        return exitOpenFailed;
    }

    RunnerSettings settings;
    settings.program = workerProgram();
    settings.workers = 1;
    settings.maxMemory = workerMemory;
    settings.inputs = {file};
    PageRunner runner(settings);
    PageTask task;
    task.kind = PageTask::Probe;
    task.documentInfo = true;
    task.path = file;
    task.password = !args.ownerPassword.isNull() ? args.ownerPassword : args.userPassword;
    task.timeLimitMs = readTimeLimitMs;
    const TaskResult result = runner.runOne(task, interruptFlag());
    if (interruptFlag().load())
        return 128 + (interruptSignal() > 0 ? interruptSignal() : SIGINT);
    // What Poppler printed while it read the file, as pdfinfo prints it.
    QStringList printed;
    for (const QString &warning : result.outcome.warnings)
        printed << QString(warning).remove(QRegularExpression(QStringLiteral("^printed: ")));
    for (const QString &line : printed)
        std::fprintf(stderr, "%s\n", qPrintable(line));
    PdfDocumentInfo info = result.info;
    // pdfinfo knows no size for a stream.
    if (fromStandardInput)
        info.fileSize = 0;
    if (result.outcome.result != PageOutcome::Written) {
        std::fprintf(stderr, "Syntax Error: Couldn't read the document: %s\n", qPrintable(result.outcome.detail));
        return exitOpenFailed;
    }
    if (info.status == PdfLoadStatus::Locked) {
        if (!printed.contains(QStringLiteral("Command Line Error: Incorrect password")))
            std::fputs("Command Line Error: Incorrect password\n", stderr);
        return exitOpenFailed;
    }
    if (info.status != PdfLoadStatus::Loaded)
        return exitOpenFailed;

    const bool manyPages = args.lastPage != 0;
    const int first = qMax(1, args.firstPage);
    const int last = args.lastPage < 1 || args.lastPage > info.pageCount ? info.pageCount : args.lastPage;
    if (last < first) {
        std::fprintf(stderr,
                     "Command Line Error: Wrong page range given: the first page (%d) can not be after the last "
                     "page (%d).\n",
                     first, last);
        return exitOther;
    }
    const QByteArray out = report(info, args, first, last, manyPages);
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    return std::fflush(stdout) == 0 ? exitOk : exitOpenFailed;
}
