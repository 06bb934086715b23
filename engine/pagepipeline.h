#ifndef PAGEPIPELINE_H
#define PAGEPIPELINE_H

#include "engine/bandplan.h"
#include "engine/image/imageformat.h"
#include "engine/image/rowencoder.h"
#include "engine/pageoutcome.h"

#include <QRect>

#include <atomic>
#include <functional>
#include <memory>

class MemoryBudget;
class QIODevice;
class RenderDocument;
class RowEncoder;

// Everything a page's conversion needs besides the document.
struct PageJob
{
    int pageIndex = 0;
    QString outputPath;
    ImageFormat format = ImageFormat::Jpeg;
    double resolution = 150;
    // Down the page, where it differs from across (pdftoppm's -ry); 0: the same.
    double yResolution = 0;
    int quality = 75;
    PixelMode mode = PixelMode::Color; // ColorAlpha: the document draws without paper; Cmyk: in CMYK
    // With mode Color: Gray or Mono stores that mode's pixels in colour (toneRow()).
    PixelMode tone = PixelMode::Color;
    // Only this region of the page as drawn at the resolution, in its pixels,
    // clipped to the page; empty: the whole page.
    QRect region;
    // The page's sides in the whole pixels that cover it (pdftoppm's sizes),
    // not the nearest; the region is pdftoppm's, cut to its sides already.
    bool roundUp = false;
    EncoderOptions encoder;            // JPEG and TIFF choices
    qint64 timeLimitMs = 0;            // the longest a page may take to draw and write; 0: no limit
    qint64 bandBudget = defaultBandBudget;
    MemoryBudget *memory = nullptr; // the worker's, shared by a page's band threads; none for one thread
    bool synced = false;            // the file reaches the disk before it takes its name (AtomicFile)
    // The finished file is left whole under its temporary name (the
    // outcome's heldAt) for the caller to put in place, so that a caller
    // drawing pages side by side can name them in page order.
    bool heldBack = false;
    // A page drawn in bands may have them drawn by this many threads at once,
    // each extra one on a copy of the document that openCopy gives it.
    int bandThreads = 1;
    std::function<std::unique_ptr<RenderDocument>()> openCopy;
    // Asked once the page is drawn and encoded, before its file takes the
    // name: a reason fails the page, and whatever had the name (an older
    // file, the target of a link) is left as it was.
    std::function<QString()> refuseBeforeCommit;
};

// page -> render (whole, or in bands when the bitmap would pass the band
// budget) -> encode row by row -> atomic write. The stop flag is looked at
// before drawing, between bands, while Poppler draws, and before the file
// is put in place; a stopped page leaves no file. Never two threads on one
// document: neither renderer allows it.
PageOutcome convertPage(const RenderDocument &document, const PageJob &job, const std::atomic<bool> &stop);

// The checks convertPage makes before it draws (the page is there, its size
// at the job's resolution, within the region and the format's limits), alone:
// Written when the page can be drawn, else the outcome it would have.
PageOutcome checkPage(const RenderDocument &document, const PageJob &job);

// The same into an encoder and onto a device the caller keeps (a page written
// to standard output), which the caller puts in place when all is done.
PageOutcome appendPage(const RenderDocument &document, const PageJob &job, RowEncoder &encoder,
                       QIODevice &device, const std::atomic<bool> &stop);

#endif // PAGEPIPELINE_H
