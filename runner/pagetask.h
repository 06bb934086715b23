#ifndef PAGETASK_H
#define PAGETASK_H

#include "engine/filestamp.h"
#include "engine/image/encoderoptions.h"
#include "engine/image/imageformat.h"
#include "engine/pageoutcome.h"
#include "engine/pdftoppmsize.h"
#include "engine/pixelimage.h"
#include "engine/render/documentinfo.h"
#include "engine/render/renderer.h"

#include <QByteArray>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

// Everything a worker process needs for one piece of work on one page, so
// that it never has to rebuild a front end's plan: which document and how it
// is opened, which page, how large, and where and how the result is written.
struct PageTask
{
    enum Kind : quint8 {
        Convert, // draw the page and write it to outputPath
        Preview, // draw the whole page for the window's preview and hand the image back
        Probe,   // open the document: whether it loads and how many pages it has
        Join,    // copy the pages of the single-page TIFF files in pieces, in order, into one at outputPath
        Check    // whether outputPath holds a whole image of the task's format: Skipped if so, else
                 // Failed with why not (--skip-existing), read where an image library may be loaded
    };
    Kind kind = Convert;
    // The front end's own number for the document (its place in a batch);
    // a crash counts against it.
    int document = 0;

    QString path; // paths keep their bytes (engine/nativepath)
    // The file as its program found it before the run (none: not checked).
    // A worker opens it only while it is still that file: one replaced or
    // rewritten meanwhile is another document, and its pages fail rather
    // than join the run's under the first one's names.
    FileStamp inputStamp;
    QByteArray password;
    RendererKind renderer = RendererKind::Poppler;
    RenderOptions options;

    int pageIndex = 0;
    double resolution = 150;
    // Sized in pixels instead: each page's resolution follows from its size.
    int fitWidth = 0;
    int fitHeight = 0;
    int longestSide = 0;

    QString outputPath;
    ImageFormat format = ImageFormat::Jpeg;
    int quality = 75;
    PixelMode mode = PixelMode::Color;
    PixelMode tone = PixelMode::Color; // PageJob::tone
    QRect region; // empty: the whole page
    EncoderOptions encoder;
    qint64 timeLimitMs = 0; // 0: none
    bool synced = false;
    bool heldBack = false; // Convert: the file is left for the caller to put in place (PageJob)
    // Convert: the page goes to the descriptor sent with the task (the
    // program's standard output), not to a file; outputPath only names it.
    bool toGivenDescriptor = false;
    // toGivenDescriptor: other workers' pages share the descriptor (every
    // page of a run onto standard output), so the page is written only in
    // its turn (TaskProtocol::TurnWanted), after the pages of the tasks before it.
    bool inTurn = false;
    // Join: the files whose pages make the output, in its page order.
    QStringList pieces;
    int bandThreads = 1;
    // A page whose drawing the renderer reported an error in (something left
    // out) fails, and takes no file's name.
    bool strict = false;
    // Probe: whether any page of the document can be drawn at the task's size
    // (resolution or pixels, type, mode, region, box) as well.
    bool checkSizes = false;
    // Probe: read what the document says of itself (pdfinfo's fields) instead.
    bool documentInfo = false;

    // Sized as pdftoppm sizes pages, when active: overrides the resolution,
    // the fitting and the region above.
    PdftoppmSizing pdftoppm;

    QSize previewArea; // Preview: the area the page is shown in

    bool sizedInPixels() const { return fitWidth > 0 || fitHeight > 0 || longestSide > 0; }
};

// What came of a task: the page's outcome, and for a preview its image, for
// a probe what opening the document gave. A probe that checked sizes and
// found no page drawable at the task's size has the outcome TooLarge, for
// the first page, with why in its detail.
struct TaskResult
{
    PageOutcome outcome;
    PixelImage image;
    PdfLoadStatus loadStatus = PdfLoadStatus::Failed;     // Probe, by Poppler
    PdfLoadStatus rendererStatus = PdfLoadStatus::Failed; // Probe, by the task's renderer
    int pageCount = 0;
    PdfDocumentInfo info; // Probe with documentInfo
    // The worker ended before it answered (it crashed, was killed past the
    // time limit or never started): the outcome's detail says which.
    bool workerLost = false;
};

#endif // PAGETASK_H
