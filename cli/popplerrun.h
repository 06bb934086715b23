#ifndef POPPLERRUN_H
#define POPPLERRUN_H

#include "cli/batchjob.h"
#include "cli/popplerargs.h"
#include "runner/conversionsummary.h"

#include <QString>

#include <functional>
#include <optional>

class BatchWorkers;
class QTemporaryDir;

// What the programs run as pdftoppm and pdftocairo share once their command
// lines are read: the PDF from a file or standard input, its opening in a
// worker, the workers' memory, the pages handed on in page order and
// standard output. Each program keeps its own words and exit statuses.

// The type a tool writes, its file names' ending and the pixels it stores.
struct PopplerOutputType
{
    QString extension; // of the format table
    QString ending;    // of the file names
    PixelMode mode;
    PixelMode tone = PixelMode::Color; // OutputStyle::tone
};

// The run's options from what both tools ask of every page: the one input,
// the folder its pages are named in (and written to, unless they go onto
// standard output), the type, JPEG's and TIFF's choices (a compression for
// colour and gray TIFF only) and the password, the owner's before the
// user's. Each tool adds its sizes, box and drawing.
BatchOptions popplerBatchOptions(const QString &input, const QString &outputFolder, bool toStandardOutput,
                                 const PopplerOutputType &type, const JpegOptions &jpeg,
                                 std::optional<TiffCompression> compression, const QByteArray &ownerPassword,
                                 const QByteArray &userPassword);

// The tools' answer to -v, -h and a command line they cannot read, on
// standard error: their version line, what draws, and their usage unless
// -v; the exit status, 0 for -v and -h, otherwise failed.
int answerVersionOrUsage(const char *versionLine, const QString &usage, bool version, bool help, int failed);

// Poppler's messages, left out with -q.
class PopplerMessages
{
public:
    explicit PopplerMessages(bool quiet) : quiet(quiet) {}
    void line(const QString &text) const; // on standard error unless quiet
    static void always(const QString &text); // the tools' own lines, printed under -q too

private:
    bool quiet;
};

// Where the named PDF can be opened by a worker: "-" or none is standard
// input, kept in folder. error is what Poppler says when it cannot be read
// ("I/O Error: Couldn't open file 'x.pdf': No such file or directory."),
// empty when path can be used.
struct PopplerInput
{
    QString path;
    QString error;
};
PopplerInput popplerInput(const QString &named, const QTemporaryDir &folder);

// Why the probe of the PDF says it cannot be drawn, as Poppler words it
// ("Command Line Error: Incorrect password"); empty when it can.
QString whyNotOpened(const DocumentProbe &probe);

// The exit status of a run ended by SIGINT, SIGTERM or SIGHUP.
int interruptedStatus();

// The plan's pages (one file) drawn by the workers, each outcome handed to
// onPage (its page counted from 1) in the plan's page order, as soon as the
// pages before it are in. left: how many were never handed on (a stop).
ConversionSummary convertInPageOrder(BatchWorkers &workers, const BatchPlan &plan,
                                     const std::function<void(int page, const PageOutcome &)> &onPage, int *left);
// Whether a run's pages were stopped by a signal (SIGINT, SIGTERM, SIGHUP).
bool stoppedBySignal(const ConversionSummary &summary);

// How many workers draw: one a core, and one more for pages written onto
// standard output, where the worker whose page is going out waits on the
// reader while the others draw.
int popplerWorkers(bool toStandardOutput);

// A pipe on standard output made to hold a megabyte rather than 64 KB: a page
// of several megabytes then goes out in a few writes instead of a hundred
// turns between the worker and the reader.
void widenStandardOutput();

#endif // POPPLERRUN_H
