#include "engine/render/pdfdocument.h"

#include "engine/nativepath.h"
#include "engine/pixelsize.h"
#include "engine/render/pagerenderer.h"
#include "engine/render/renderdocument.h"

#include <poppler-qt6.h>

#include <algorithm>
#include <climits>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Poppler takes a path as text and encodes it as UTF-8, which loses a name's
// bytes that are not UTF-8. Such a file is opened here by its bytes and handed
// over as the descriptor's name in /proc; Poppler opens its own descriptor
// from it and keeps that, so ours is closed once the document is loaded.
std::unique_ptr<Poppler::Document> loadByBytes(const QString &path, const QByteArray &password)
{
    const int fd = openNative(path, O_RDONLY);
    if (fd == -1)
        return nullptr;
    std::unique_ptr<Poppler::Document> document =
        Poppler::Document::load(QStringLiteral("/proc/self/fd/%1").arg(fd), password, password);
    ::close(fd);
    return document;
}

} // namespace

PdfLoadResult::PdfLoadResult() = default;
PdfLoadResult::PdfLoadResult(PdfLoadResult &&) noexcept = default;
PdfLoadResult &PdfLoadResult::operator=(PdfLoadResult &&) noexcept = default;
PdfLoadResult::~PdfLoadResult() = default;

PdfLoadResult loadPdf(const QString &path, const QByteArray &password)
{
    PdfLoadResult result;
    std::unique_ptr<Poppler::Document> document =
        hasRawBytes(path) ? loadByBytes(path, password) : Poppler::Document::load(path, password, password);
    if (!document)
        return result;
    if (document->isLocked()) {
        result.status = PdfLoadStatus::Locked;
        return result;
    }
    document->setRenderHint(Poppler::Document::TextAntialiasing, true);
    document->setRenderHint(Poppler::Document::Antialiasing, true);
    document->setRenderBackend(Poppler::Document::SplashBackend);
    result.status = PdfLoadStatus::Loaded;
    result.pageCount = document->numPages();
    if (document->isLinearized() && result.pageCount > 1)
        result.pageCount = qMin(result.pageCount, probeForRendering(RendererKind::Poppler, path, password).pageCount);
    result.document = std::move(document);
    return result;
}

int pdfPageCount(const Poppler::Document *document)
{
    return document ? document->numPages() : 0;
}

PdfProbeResult probePdf(const QString &path, const QByteArray &password)
{
    const PdfLoadResult loaded = loadPdf(path, password);
    PdfProbeResult result;
    result.status = loaded.status;
    result.pageCount = loaded.pageCount;
    return result;
}

namespace {

PageRenderStatus checkBitmapSize(const PixelSize &size)
{
    switch (size.status) {
    case PixelSize::BelowOnePixel:
        return PageRenderStatus::TooSmall;
    case PixelSize::BeyondInt:
        return PageRenderStatus::TooLarge;
    case PixelSize::Ok:
        break;
    }
    return size.bitmapBytes() < double(maxPageBitmapBytes) ? PageRenderStatus::Rendered : PageRenderStatus::TooLarge;
}

const std::atomic<bool> neverStopped{false};

} // namespace

QSize pagePixelSize(const Poppler::Document *document, int pageIndex, double dpi)
{
    const PageRenderer page(document, pageIndex);
    if (!page.exists())
        return QSize();
    const PixelSize size = pixelSizeAt(page.sizeInPoints(), dpi);
    switch (size.status) {
    case PixelSize::Ok:
        return QSize(size.width, size.height);
    case PixelSize::BeyondInt:
        return QSize(INT_MAX, INT_MAX);
    case PixelSize::BelowOnePixel:
        break;
    }
    return QSize(0, 0);
}

PageRenderResult renderPage(const Poppler::Document *document, int pageIndex, double dpi)
{
    PageRenderResult result;
    const PageRenderer page(document, pageIndex);
    if (!page.exists()) {
        result.status = PageRenderStatus::NoPage;
        return result;
    }
    const PixelSize size = pixelSizeAt(page.sizeInPoints(), dpi);
    result.expectedSize = QSize(size.width, size.height);
    result.status = checkBitmapSize(size);
    if (result.status != PageRenderStatus::Rendered)
        return result;
    result.image = page.render(dpi, QRect(QPoint(0, 0), result.expectedSize), neverStopped);
    if (result.image.isNull())
        result.status = PageRenderStatus::Failed;
    return result;
}

void drawWithoutPaper(Poppler::Document *document)
{
    document->setRenderHint(Poppler::Document::IgnorePaperColor, true);
}

bool drawOnePixel(const Poppler::Document *document, int pageIndex, const std::atomic<bool> *stop,
                  QDeadlineTimer deadline)
{
    const PageRenderer page(document, pageIndex);
    return page.exists() && !page.render(72, QRect(0, 0, 1, 1), stop ? *stop : neverStopped, deadline).isNull();
}
