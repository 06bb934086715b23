#ifndef BATCHJOB_H
#define BATCHJOB_H

#include <QByteArray>
#include <QList>
#include <QRect>
#include <QString>
#include <QStringList>

#include <functional>

#include "engine/image/encoderoptions.h"
#include "engine/image/imageformat.h"
#include "engine/render/renderer.h"
#include "engine/nametemplate.h"
#include "engine/pdftoppmsize.h"
#include "runner/pagetask.h"

// How pages are sized, stored and named beyond type, resolution and quality.
struct OutputStyle
{
    int width = 0;       // a box in pixels that each page is fitted into, instead
    int height = 0;      // of a resolution; 0 leaves that side free
    int longestSide = 0; // or the pixels of each page's longer side
    PixelMode mode = PixelMode::Color;
    bool padNumbers = false;   // report_07.png of 42 pages
    bool multipage = false;    // every page of a file into one TIFF
    bool skipExisting = false; // an output already there counts as done; outputs are synced
    qint64 timeLimitMs = 0;    // per page; 0: none
    EncoderOptions encoder;    // JPEG and TIFF choices
    bool subsamplingGiven = false;
    bool compressionGiven = false;
    NameTemplate name; // empty: <name>_<page>.<type>
    // The box drawn, anti-aliasing and annotations; the paper and CMYK
    // follow the mode (renderOptions()).
    RenderOptions drawing;
    QRect crop; // a region in pixels of each page as drawn; empty: the whole page
    bool strict = false; // a page whose drawing the renderer reported an error in fails
    PdftoppmSizing pdftoppm; // active: pages sized as pdftoppm sizes them (its command line)
    // Every page onto standard output, one after another in the order given,
    // as pdftoppm writes them without a file name; the outputs' names only name them.
    bool pagesToStandardOutput = false;
    // With mode Color: Gray or Mono stores that mode's pixels in colour, as
    // pdftoppm stores PNG and JPEG pages with -gray or -mono.
    PixelMode tone = PixelMode::Color;

    bool sizedInPixels() const { return width > 0 || height > 0 || longestSide > 0; }
    RenderOptions renderOptions() const
    {
        RenderOptions options = drawing;
        options.withoutPaper = mode == PixelMode::ColorAlpha;
        options.cmyk = mode == PixelMode::Cmyk;
        return options;
    }
};

// What a command-line run was asked to do, before anything is checked.
struct BatchOptions
{
    QStringList files;
    QString outputDir = QStringLiteral("."); // "-": the one page to standard output
    // Set: each input's pages go under outputDir at the input's folder
    // relative to this one (2023/report.pdf -> out/2023/report_1.png).
    QString outputTree;
    QString extension = QStringLiteral("jpg");
    int resolution = 150;
    bool resolutionGiven = false;
    int quality = 75;
    QString pages; // a page list such as "1,2,3,6-9"; null for every page
    QByteArray password;
    OutputStyle style;
    RendererKind renderer = defaultRenderer();
    // An input that cannot be used refuses the whole run (nothing written)
    // rather than only itself.
    bool allOrNothing = false;
};

constexpr int minResolution = 1;
constexpr int maxResolution = 999999;
constexpr int minQuality = 1;
constexpr int maxQuality = 100;

// One input file that passed the checks, with the pages to write from it.
struct BatchFile
{
    QString path;
    QList<int> pages;  // 0-based, in the order given
    int pageCount = 0; // of the whole document
    QString outputDir; // where its pages go
    // The library that draws it: the one asked for, or Poppler for a file
    // that only Poppler opens (fellBack then says why).
    RendererKind renderer = defaultRenderer();
    QString fellBack;
    QString noPageFits; // no page of it can be drawn at the run's size: why, for its first page
    FileStamp stamp;    // as the probe found it (DocumentProbe)
};

// An input that cannot be used, and why.
struct RefusedFile
{
    QString path;
    QString reason;
    // A mistake in the command rather than in the file (a folder named as a
    // file, a file outside --output-tree, two files whose outputs clash): it
    // refuses the run, as a bad option does.
    bool inCommand = false;
};

// How a run's outputs are named and kept, beside what each page's task says.
struct OutputNaming
{
    bool padNumbers = false;   // report_07.png of 42 pages
    bool multipage = false;    // every page of a file into one file
    bool skipExisting = false; // an output already there and whole counts as done
    NameTemplate name;         // empty: <name>_<page>.<type>
};

// A checked run: the files that open, with their pages. When errors is not
// empty nothing may be written: a bad option, page list or output folder,
// a mistake in the command, or (allOrNothing) any refused input. Otherwise
// the run converts files and reports refused beside them.
struct BatchPlan
{
    QList<BatchFile> files;
    QString outputDir;
    QString extension;
    // How every page is drawn and written, made once from the options
    // (pageTaskOf()): each page's task is a copy of it (taskFor()).
    PageTask task;
    OutputNaming naming;
    QStringList errors;
    QList<RefusedFile> refused; // the inputs that cannot be used

    int pageCount() const;
    // Every folder that outputs go to, each once; none for standard output.
    QStringList outputFolders() const;
    bool toStandardOutput() const { return outputDir == standardOutputName(); }
    static QString standardOutputName() { return QStringLiteral("-"); }
    // Where a page of a file goes: named by page, or the one file of all pages;
    // "-" for standard output.
    QString outputPath(const BatchFile &file, int pageIndex) const;
    // The task that draws and writes a page of files[fileIndex]: to its file,
    // to the descriptor the runner passes on (standard output), or held back
    // under a temporary name to be joined with the file's other pages (multipage).
    PageTask taskFor(int fileIndex, int pageIndex) const;
};

// Everything about drawing and writing a page that the options say, as a
// task of no document, page or output yet.
PageTask pageTaskOf(const BatchOptions &options);

// What opening one input file gave.
struct DocumentProbe
{
    PdfLoadStatus status = PdfLoadStatus::Failed;         // by Poppler, which decides what is usable
    PdfLoadStatus rendererStatus = PdfLoadStatus::Failed; // by the library that draws
    int pageCount = 0;
    FileStamp stamp; // the file as it was when the probe was sent: its pages are drawn from it only
    QString failure; // set when the file could not be opened at all (the renderer crashed on it)
    // Set when no page of it can be drawn at the run's size: why, for its first page.
    QString noPageFits;
};
// Opens the files, each on its own, and says what each gave, in their order.
using DocumentProber = std::function<QList<DocumentProbe>(const QStringList &paths, const QByteArray &password,
                                                          RendererKind renderer)>;

// Problems with the option values alone, one line each; empty when they are usable.
QStringList checkBatchOptions(const BatchOptions &options);

// "path: reason", as messages name an input.
QString refusalText(const RefusedFile &file);

// Opens every file (through prober: in workers, BatchWorkers::probe) to check
// it and its page list, then makes the output folders of the files that
// passed, when nothing refuses the run.
BatchPlan planBatch(const BatchOptions &options, const DocumentProber &prober);

#endif // BATCHJOB_H
