#ifndef RENDERER_H
#define RENDERER_H

#include "engine/render/pdfstatus.h"
#include "engine/render/rendererkind.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QImage>
#include <QRect>
#include <QSizeF>
#include <QString>

#include <atomic>
#include <memory>
#include <optional>

// The interface the page pipeline draws through. It names no library: each
// back-end describes itself in its own files (rendererbackend.h: its name,
// what it can draw, how it opens a document), and what follows reads those
// descriptions. The window draws through one back-end only; the command line
// picks one by name.

QString rendererName(RendererKind kind);
std::optional<RendererKind> rendererForName(const QString &name);
// Whether the program was built with the back-end.
bool rendererBuiltIn(RendererKind kind);
// The first back-end built in, in the order of preference.
RendererKind defaultRenderer();
// Memory the library keeps for itself across pages (fonts, images it has
// decoded), to be set aside from a run's memory budget.
qint64 rendererCacheBytes(RendererKind kind);
// Keeps what the libraries hold across drawings (fonts, decoded images) to
// about bytes, from the first document the process opens: for a process
// under a memory ceiling. A library that keeps no such store ignores it.
void limitRendererCaches(qint64 bytes);

// The page boxes a page may be drawn by. A missing bleed, trim or art box is
// the crop box, and every box is clipped to the media box, as PDF has it.
enum class PageBox {
    Media,
    Crop,
    Bleed,
    Trim,
    Art
};

QString pageBoxName(PageBox box);
std::optional<PageBox> pageBoxForName(const QString &name);

// How a document's pages are drawn, set when it is opened. The defaults are
// the window's drawing.
struct RenderOptions
{
    // Drawn on nothing: what a page leaves blank stays transparent, and pages
    // come as premultiplied ARGB. The one place alpha is asked for.
    bool withoutPaper = false;
    PageBox box = PageBox::Crop;
    bool antialias = true;     // text and vector edges
    bool annotations = true;   // comments, stamps, form fields
    bool cmyk = false;         // pixels as C, M, Y, K bytes
};

// Why the back-end cannot honour the options, worded from what it and the
// others built in can do (the command line's options name them); empty when
// it can.
QString renderOptionsRefused(RendererKind kind, const RenderOptions &options);

// One page of a document. Drawing looks at the stop flag and the deadline as
// it goes and gives up soon after either says so.
class RenderPage
{
public:
    virtual ~RenderPage() = default;

    virtual bool exists() const = 0;
    // With the page's rotation applied; the pixel size at a resolution follows
    // from it by pixelSizeAt(), for every renderer alike.
    virtual QSizeF sizeInPoints() const = 0;

    // The region, in pixels of the page at dpi, as a QImage::Format_RGB32
    // image of the region's size (Format_ARGB32_Premultiplied for a document
    // opened without paper; for one opened in CMYK, the same 4-byte container
    // holding C, M, Y, K bytes in that order in memory); a null image when
    // drawing failed, was stopped or ran past the deadline.
    // A page on paper in RGB may be asked for in Format_RGB888, BGR888 or
    // Grayscale8 instead (wanted); a back-end that cannot draw into it gives
    // its usual image, so the caller reads the format of what it got.
    virtual QImage render(double dpi, const QRect &region, const std::atomic<bool> &stop,
                          QDeadlineTimer deadline, QImage::Format wanted = QImage::Format_RGB32) const = 0;

    // As render(), at one resolution across and another down (pdftoppm's -rx
    // and -ry), the region in pixels at those. A back-end that cannot draw
    // so gives a null image for resolutions that differ.
    virtual QImage renderStretched(double xDpi, double yDpi, const QRect &region, const std::atomic<bool> &stop,
                                   QDeadlineTimer deadline, QImage::Format wanted = QImage::Format_RGB32) const
    {
        return xDpi == yDpi ? render(xDpi, region, stop, deadline, wanted) : QImage();
    }

    // Whether the page is turned a quarter (/Rotate 90 or 270): sizeInPoints()
    // is then its box's height by its width. pdftoppm scales a page to a width
    // by the box's width before the turn.
    virtual bool quarterTurned() const { return false; }
};

// An open document, used by one thread at a time.
class RenderDocument
{
public:
    virtual ~RenderDocument() = default;

    virtual int pageCount() const = 0;
    virtual std::unique_ptr<RenderPage> page(int index) const = 0;
};

struct RenderOpenResult
{
    PdfLoadStatus status = PdfLoadStatus::Failed;
    std::unique_ptr<RenderDocument> document; // set only when Loaded
};

// Opens the file for drawing with the back-end, its pages drawn as the
// options say (the window's drawing by default). Options that
// renderOptionsRefused() refuses open nothing.
RenderOpenResult openForRendering(RendererKind kind, const QString &path, const QByteArray &password,
                                  const RenderOptions &options = RenderOptions());

// Opens the file only to learn whether it loads and how many pages it has.
PdfProbeResult probeForRendering(RendererKind kind, const QString &path, const QByteArray &password);

#endif // RENDERER_H
