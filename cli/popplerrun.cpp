#include "cli/popplerrun.h"

#include "cli/standardinput.h"
#include "cli/workerconversion.h"
#include "engine/nativepath.h"
#include "runner/interruptflag.h"

#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

BatchOptions popplerBatchOptions(const QString &input, const QString &outputFolder, bool toStandardOutput,
                                 const PopplerOutputType &type, const JpegOptions &jpeg,
                                 std::optional<TiffCompression> compression, const QByteArray &ownerPassword,
                                 const QByteArray &userPassword)
{
    BatchOptions options;
    options.files = {input};
    options.outputDir = outputFolder;
    options.extension = type.extension;
    options.quality = qBound(minQuality, jpeg.quality, maxQuality);
    options.password = !ownerPassword.isEmpty() ? ownerPassword : userPassword;
    OutputStyle &style = options.style;
    style.pagesToStandardOutput = toStandardOutput;
    style.mode = type.mode;
    style.tone = type.tone;
    style.encoder.jpegProgressive = jpeg.progressive;
    style.encoder.jpegOptimize = jpeg.optimize;
    if (compression && type.extension == QLatin1String("tiff") && type.mode != PixelMode::Mono) {
        style.encoder.tiffCompression = *compression;
        style.compressionGiven = true;
    }
    return options;
}

int answerVersionOrUsage(const char *versionLine, const QString &usage, bool version, bool help, int failed)
{
    std::fprintf(stderr, "%s\n", versionLine);
    std::fputs("Drawn by velloran-cli's workers: MuPDF, Poppler where MuPDF cannot open the file\n", stderr);
    if (!version)
        std::fputs(qPrintable(usage), stderr);
    return version || help ? 0 : failed;
}

void PopplerMessages::line(const QString &text) const
{
    if (!quiet)
        always(text);
}

void PopplerMessages::always(const QString &text)
{
    std::fputs(qPrintable(text + QLatin1Char('\n')), stderr);
}

PopplerInput popplerInput(const QString &named, const QTemporaryDir &folder)
{
    PopplerInput input{named, QString()};
    if (named.isEmpty() || named == QLatin1String("-")) {
        input.path = folder.filePath(QStringLiteral("input.pdf"));
        if (!folder.isValid() || !saveStandardInput(input.path))
            input.error = QStringLiteral("I/O Error: Couldn't read standard input");
        else if (QFileInfo(input.path).size() == 0)
            input.error = QStringLiteral("Syntax Error: Document stream is empty");
    } else if (::access(nativePath(named).constData(), R_OK) != 0 || nativeIsDir(named)) {
        const int error = nativeIsDir(named) ? EISDIR : errno;
        input.error = QStringLiteral("I/O Error: Couldn't open file '%1': %2.")
                          .arg(displayPath(named), QString::fromLocal8Bit(std::strerror(error)));
    } else {
        struct stat status;
        if (::stat(nativePath(named).constData(), &status) == 0 && S_ISREG(status.st_mode) && status.st_size == 0)
            input.error = QStringLiteral("Syntax Error: Document stream is empty");
    }
    return input;
}

QString whyNotOpened(const DocumentProbe &probe)
{
    if (!probe.failure.isEmpty() || probe.status == PdfLoadStatus::Failed)
        return QStringLiteral("Syntax Error: Couldn't read the document: %1")
            .arg(probe.failure.isEmpty() ? QStringLiteral("damaged or not a PDF") : probe.failure);
    if (probe.status == PdfLoadStatus::Locked)
        return QStringLiteral("Command Line Error: Incorrect password");
    return QString();
}

int interruptedStatus()
{
    return 128 + (interruptSignal() > 0 ? interruptSignal() : SIGINT);
}

ConversionSummary convertInPageOrder(BatchWorkers &workers, const BatchPlan &plan,
                                     const std::function<void(int page, const PageOutcome &)> &onPage, int *left)
{
    // Pages finish in any order; they are handed on in page order.
    QMap<int, PageOutcome> finished;
    int next = 0; // the index into the plan's pages of the next to hand on
    const QList<int> &planned = plan.files.constFirst().pages;
    const ConversionSummary summary = workers.convert(plan, [&](const QString &, const PageOutcome &outcome) {
        finished.insert(outcome.page, outcome);
        while (next < planned.size() && finished.contains(planned.at(next))) {
            const PageOutcome inTurn = finished.take(planned.at(next));
            onPage(planned.at(next) + 1, inTurn);
            ++next;
        }
    });
    *left = int(planned.size()) - next;
    return summary;
}

bool stoppedBySignal(const ConversionSummary &summary)
{
    // Pages also go unwritten when one before them failed on standard output.
    return summary.notStarted > 0 && interruptSignal() > 0;
}

int popplerWorkers(bool toStandardOutput)
{
    const int cores = qMax(1, QThread::idealThreadCount());
    return toStandardOutput ? cores + 1 : cores;
}

void widenStandardOutput()
{
    struct stat status;
    if (::fstat(STDOUT_FILENO, &status) == 0 && S_ISFIFO(status.st_mode))
        ::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, 1 << 20); // the most a user may ask; refused, it stays as it was
}
