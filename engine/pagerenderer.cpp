#include "engine/pagerenderer.h"

#include <poppler-qt6.h>

namespace {

bool stopRequested(const QVariant &payload)
{
    const auto *stop = reinterpret_cast<const std::atomic<bool> *>(payload.value<quintptr>());
    return stop->load(std::memory_order_relaxed);
}

} // namespace

PageRenderer::PageRenderer(const Poppler::Document *document, int pageIndex)
{
    if (document && pageIndex >= 0 && pageIndex < document->numPages())
        page = document->page(pageIndex);
}

PageRenderer::~PageRenderer() = default;

QSizeF PageRenderer::sizeInPoints() const
{
    return page ? page->pageSizeF() : QSizeF();
}

QImage PageRenderer::render(double dpi, const QRect &region, const std::atomic<bool> &stop, bool alpha) const
{
    if (!page)
        return QImage();
    const QVariant payload = QVariant::fromValue(reinterpret_cast<quintptr>(&stop));
    QImage image = page->renderToImage(dpi, dpi, region.x(), region.y(), region.width(), region.height(),
                                       Poppler::Page::Rotate0, nullptr, nullptr, stopRequested, payload);
    // Splash falls back to a 1 x 1 image when it cannot allocate the bitmap.
    if (image.size() != region.size())
        return QImage();
    const QImage::Format wanted = alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    if (image.format() != wanted)
        image.convertTo(wanted);
    return image;
}
