#include "engine/render/pagerenderer.h"

#include <poppler-form.h>
#include <poppler-qt6.h>

namespace {

// What Poppler's abort callback is handed, through its payload.
struct AbortWhen
{
    const std::atomic<bool> *stop;
    QDeadlineTimer deadline;
};

bool stopRequested(const QVariant &payload)
{
    const auto *when = reinterpret_cast<const AbortWhen *>(payload.value<quintptr>());
    return when->stop->load(std::memory_order_relaxed) || when->deadline.hasExpired();
}

} // namespace

PageRenderer::PageRenderer(const Poppler::Document *document, int pageIndex)
{
    if (document && pageIndex >= 0 && pageIndex < document->numPages()) {
        page = document->page(pageIndex);
        withoutPaper = document->renderHints().testFlag(Poppler::Document::IgnorePaperColor);
    }
}

PageRenderer::~PageRenderer() = default;

QSizeF PageRenderer::sizeInPoints() const
{
    return page ? page->pageSizeF() : QSizeF();
}

void PageRenderer::hideFormFields() const
{
    if (!page)
        return;
    for (const std::unique_ptr<Poppler::FormField> &field : page->formFields())
        field->setVisible(false);
}

QImage PageRenderer::render(double dpi, const QRect &region, const std::atomic<bool> &stop,
                            QDeadlineTimer deadline) const
{
    return render(dpi, dpi, region, stop, deadline);
}

bool PageRenderer::quarterTurned() const
{
    return page
           && (page->orientation() == Poppler::Page::Landscape || page->orientation() == Poppler::Page::Seascape);
}

QImage PageRenderer::render(double xDpi, double yDpi, const QRect &region, const std::atomic<bool> &stop,
                            QDeadlineTimer deadline) const
{
    if (!page)
        return QImage();
    const AbortWhen when{&stop, deadline};
    const QVariant payload = QVariant::fromValue(reinterpret_cast<quintptr>(&when));
    QImage image = page->renderToImage(xDpi, yDpi, region.x(), region.y(), region.width(), region.height(),
                                       Poppler::Page::Rotate0, nullptr, nullptr, stopRequested, payload);
    // Splash falls back to a 1 x 1 image when it cannot allocate the bitmap.
    if (image.size() != region.size())
        return QImage();
    const QImage::Format wanted = withoutPaper ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    if (image.format() != wanted)
        image.convertTo(wanted);
    return image;
}
