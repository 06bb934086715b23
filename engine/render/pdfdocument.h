#ifndef PDFDOCUMENT_H
#define PDFDOCUMENT_H

#include "engine/pixelsize.h"
#include "engine/render/pdfstatus.h"

#include <QDeadlineTimer>
#include <QImage>
#include <QString>

#include <atomic>
#include <memory>

namespace Poppler {
class Document;
}

// Opening documents with Poppler's Qt interface, and drawing whole pages: the
// reference the tests and benchmarks hold the Poppler back-end to (with
// pagerenderer and popplerview, a library of theirs; no program links
// Poppler's Qt interface).

struct PdfLoadResult
{
    // Defined where Poppler::Document is complete, so that holders need no Poppler header.
    PdfLoadResult();
    PdfLoadResult(PdfLoadResult &&) noexcept;
    PdfLoadResult &operator=(PdfLoadResult &&) noexcept;
    ~PdfLoadResult();

    PdfLoadStatus status = PdfLoadStatus::Failed;
    std::unique_ptr<Poppler::Document> document; // set only when Loaded
    // The pages the file holds, when Loaded: never more than its page tree
    // has, whatever a linearization dictionary claims (see loadPdf).
    int pageCount = 0;
};

// Opens the file and sets the render options every rendering uses:
// text antialiasing, antialiasing, the Splash back-end.
PdfLoadResult loadPdf(const QString &path, const QByteArray &password = QByteArray());

// The count Poppler gives: for a linearized file, the claim of its
// linearization dictionary. PdfLoadResult::pageCount is the one to trust.
int pdfPageCount(const Poppler::Document *document);

// Draws the document's pages on nothing instead of white paper, so that what
// a page leaves blank stays transparent.
void drawWithoutPaper(Poppler::Document *document);

// Opens the file only to learn whether it loads and how many pages it has.
PdfProbeResult probePdf(const QString &path, const QByteArray &password = QByteArray());

enum class PageRenderStatus {
    Rendered,
    NoPage,    // the document has no such page
    TooLarge,  // the bitmap at this resolution cannot be made
    TooSmall,  // the page is less than one pixel wide or high at this resolution
    Failed     // Poppler returned no image, or one of the wrong size
};

struct PageRenderResult
{
    PageRenderStatus status = PageRenderStatus::Failed;
    QImage image;
    QSize expectedSize; // pixel size at the requested resolution, when the page exists
};

// Pixel size of a page at the resolution, as Poppler lays it out; invalid when there is no such page.
QSize pagePixelSize(const Poppler::Document *document, int pageIndex, double dpi);

// Largest bitmap, in bytes, that a page may need. Poppler's Splash back-end
// cannot allocate more than 2^31 bytes and silently returns a 1 x 1 image instead.
constexpr qint64 maxPageBitmapBytes = qint64(1) << 31;

// Renders the whole page at dpi in both directions into one image, for the
// preview. The size is checked before rendering (a page too large or too
// small to render is refused, never attempted) and after (an image of
// another size than expected is refused). Conversions go through the page
// pipeline instead, which draws large pages in bands.
PageRenderResult renderPage(const Poppler::Document *document, int pageIndex, double dpi);

// previewResolution() is pixelsize.h's.

// Draws one pixel of the page, whatever its size; true when it drew. Poppler
// sets up some of its process-wide state on the first drawing without a lock,
// so a program that renders from several threads draws once before they start.
// Poppler still reads the whole page to draw that pixel, so the drawing gives
// up, like any other, once stop is set or the deadline has passed.
bool drawOnePixel(const Poppler::Document *document, int pageIndex, const std::atomic<bool> *stop = nullptr,
                  QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever));

#endif // PDFDOCUMENT_H
