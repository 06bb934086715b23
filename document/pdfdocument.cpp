#include "document/pdfdocument.h"

#include <poppler-qt6.h>

#include <algorithm>
#include <climits>
#include <cmath>

PdfLoadResult loadPdf(const QString &path, const QByteArray &password)
{
    PdfLoadResult result;
    std::unique_ptr<Poppler::Document> document = Poppler::Document::load(path, password, password);
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
    result.pageCount = pdfPageCount(loaded.document.get());
    return result;
}

namespace {

// Poppler rounds the page's extent at the resolution to the nearest pixel.
// Computed in floating point: a page box of 1e9 points at a high resolution
// must not overflow anything; past INT_MAX it is simply too large.
QSize pixelSizeOf(const Poppler::Page &page, double dpi)
{
    const QSizeF points = page.pageSizeF();
    const double w = std::floor(points.width() * dpi / 72.0 + 0.5);
    const double h = std::floor(points.height() * dpi / 72.0 + 0.5);
    if (!(w <= INT_MAX) || !(h <= INT_MAX))
        return QSize(INT_MAX, INT_MAX);
    return QSize(int(std::max(w, 0.0)), int(std::max(h, 0.0)));
}

PageRenderStatus checkBitmapSize(const QSize &size)
{
    if (size.width() < 1 || size.height() < 1)
        return PageRenderStatus::TooSmall;
    // Splash keeps 4 bytes per pixel, each row padded to 4 bytes.
    const double bytes = double(size.width()) * 4.0 * double(size.height());
    return bytes < double(maxPageBitmapBytes) ? PageRenderStatus::Rendered : PageRenderStatus::TooLarge;
}

bool closeTo(const QSize &actual, const QSize &expected)
{
    // Poppler's own rounding of odd page boxes can differ by a pixel.
    return std::abs(actual.width() - expected.width()) <= 1
           && std::abs(actual.height() - expected.height()) <= 1;
}

} // namespace

QSize pagePixelSize(const Poppler::Document *document, int pageIndex, double dpi)
{
    if (!document || pageIndex < 0)
        return QSize();
    const std::unique_ptr<Poppler::Page> page = document->page(pageIndex);
    return page ? pixelSizeOf(*page, dpi) : QSize();
}

PageRenderResult renderPage(const Poppler::Document *document, int pageIndex, double dpi)
{
    PageRenderResult result;
    if (!document || pageIndex < 0) {
        result.status = PageRenderStatus::NoPage;
        return result;
    }
    const std::unique_ptr<Poppler::Page> page = document->page(pageIndex);
    if (!page) {
        result.status = PageRenderStatus::NoPage;
        return result;
    }
    result.expectedSize = pixelSizeOf(*page, dpi);
    result.status = checkBitmapSize(result.expectedSize);
    if (result.status != PageRenderStatus::Rendered)
        return result;

    QImage image = page->renderToImage(dpi, dpi, -1, -1, -1, -1, Poppler::Page::Rotate0);
    if (image.isNull() || !closeTo(image.size(), result.expectedSize)) {
        result.status = PageRenderStatus::Failed;
        return result;
    }
    const int dotsPerMeter = qRound(dpi / 0.0254);
    image.setDotsPerMeterX(dotsPerMeter);
    image.setDotsPerMeterY(dotsPerMeter);
    result.image = std::move(image);
    return result;
}

double previewResolution(const QSize &sizeAt72Dpi, const QSize &fitArea)
{
    constexpr double onePixelPerPoint = 72.0;
    const double bytes = double(sizeAt72Dpi.width()) * 4.0 * double(sizeAt72Dpi.height());
    if (bytes <= double(maxPreviewBitmapBytes) || fitArea.isEmpty())
        return onePixelPerPoint;
    const double scale = std::min(double(fitArea.width()) / sizeAt72Dpi.width(),
                                  double(fitArea.height()) / sizeAt72Dpi.height());
    return onePixelPerPoint * scale;
}

bool drawOnePixel(const Poppler::Document *document, int pageIndex)
{
    if (!document || pageIndex < 0)
        return false;
    const std::unique_ptr<Poppler::Page> page = document->page(pageIndex);
    if (!page)
        return false;
    return !page->renderToImage(72, 72, 0, 0, 1, 1, Poppler::Page::Rotate0).isNull();
}
