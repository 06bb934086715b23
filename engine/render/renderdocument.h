#ifndef RENDERDOCUMENT_H
#define RENDERDOCUMENT_H

#include "engine/pixelimage.h"
#include "engine/render/documentinfo.h"
#include "engine/render/pdfstatus.h"
#include "engine/render/renderer.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QRect>
#include <QSizeF>
#include <QString>

#include <atomic>
#include <memory>

// The interface the page pipeline draws through, in a worker. It names no
// library: a back-end's drawing is a module of its own (backendmodule.h),
// loaded the first time a document is opened with it, so that a process
// loads only the libraries it draws with.

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

    // The region, in pixels of the page at dpi, as a PixelImage::Rgb32 image
    // of the region's size (Argb32Premultiplied for a document opened without
    // paper; for one opened in CMYK, the same 4-byte container holding C, M,
    // Y, K bytes in that order in memory); a null image when drawing failed,
    // was stopped or ran past the deadline.
    // A page on paper in RGB may be asked for in Rgb888, Bgr888 or
    // Grayscale8 instead (wanted); a back-end that cannot draw into it gives
    // its usual image, so the caller reads the format of what it got.
    virtual PixelImage render(double dpi, const QRect &region, const std::atomic<bool> &stop,
                              QDeadlineTimer deadline, PixelImage::Format wanted = PixelImage::Rgb32) const = 0;

    // As render(), at one resolution across and another down (pdftoppm's -rx
    // and -ry), the region in pixels at those. A back-end that cannot draw
    // so gives a null image for resolutions that differ.
    virtual PixelImage renderStretched(double xDpi, double yDpi, const QRect &region, const std::atomic<bool> &stop,
                                       QDeadlineTimer deadline, PixelImage::Format wanted = PixelImage::Rgb32) const
    {
        return xDpi == yDpi ? render(xDpi, region, stop, deadline, wanted) : PixelImage();
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
// renderOptionsRefused() refuses open nothing, and neither does a back-end
// whose module cannot be loaded.
RenderOpenResult openForRendering(RendererKind kind, const QString &path, const QByteArray &password,
                                  const RenderOptions &options = RenderOptions());

// Opens the file only to learn whether it loads and how many pages it has.
PdfProbeResult probeForRendering(RendererKind kind, const QString &path, const QByteArray &password);

// Why the back-end's module cannot be loaded ("the mupdf renderer cannot be
// loaded: /usr/libexec/velloran/velloran-mupdf.so: No such file or
// directory"), loading it if it was not yet; empty when it is loaded.
QString rendererUnavailable(RendererKind kind);

// Keeps what the libraries hold across drawings (fonts, decoded images) to
// about bytes, from the first document the process opens: for a process
// under a memory ceiling. A library that keeps no such store ignores it.
void limitRendererCaches(qint64 bytes);

// From now on what the libraries report while they read and draw is kept
// with the page in hand (engine/drawingnotes) rather than printed: for a
// worker process, whose one task at a time owns whatever is reported.
void keepRendererReports();

// Reads what the document says of itself with the parser of the back-end
// that judges files (rendererbackend.h); status says whether it opened
// (Locked: a password is needed or wrong). In a worker: the file may be
// hostile. What the parser reports on the way goes to standard error, as
// pdfinfo prints it.
PdfDocumentInfo readDocumentInfo(const QString &path, const QByteArray &password);

#endif // RENDERDOCUMENT_H
