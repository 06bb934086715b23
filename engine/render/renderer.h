#ifndef RENDERER_H
#define RENDERER_H

#include "engine/render/pdfdocument.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QImage>
#include <QRect>
#include <QSizeF>
#include <QString>

#include <atomic>
#include <memory>
#include <optional>

// The libraries that can draw pages for the page pipeline. The window draws
// with Poppler only; the command line picks one.
enum class RendererKind {
    MuPdf,
    Poppler
};

QString rendererName(RendererKind kind);
std::optional<RendererKind> rendererForName(const QString &name);
// Whether the program was built with the library.
bool rendererBuiltIn(RendererKind kind);
// MuPDF when built in, else Poppler.
RendererKind defaultRenderer();
// Memory the library keeps for itself across pages (fonts, images it has
// decoded), to be set aside from a run's memory budget.
qint64 rendererCacheBytes(RendererKind kind);

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
    // image of the region's size (Format_ARGB32_Premultiplied with alpha, for
    // a document opened without paper); a null image when drawing failed,
    // was stopped or ran past the deadline.
    virtual QImage render(double dpi, const QRect &region, const std::atomic<bool> &stop, bool alpha,
                          QDeadlineTimer deadline) const = 0;
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

// Opens the file for drawing with the renderer; withoutPaper: pages are drawn
// on nothing, so that what a page leaves blank stays transparent.
RenderOpenResult openForRendering(RendererKind kind, const QString &path, const QByteArray &password,
                                  bool withoutPaper = false);

// Opens the file only to learn whether it loads and how many pages it has.
PdfProbeResult probeForRendering(RendererKind kind, const QString &path, const QByteArray &password);

// A Poppler document that the caller keeps open, seen through the interface.
std::unique_ptr<RenderDocument> popplerView(const Poppler::Document *document);

#endif // RENDERER_H
