#include "engine/render/popplerview.h"

#include "engine/render/pagerenderer.h"
#include "engine/render/pdfdocument.h"

#include <poppler-qt6.h>

#include <QImage>

namespace {

// The Qt interface's drawing, its pixels held by the image until the last copy goes.
PixelImage pixelsOf(QImage image)
{
    if (image.isNull() || !PixelImage::knownFormat(image.format()))
        return PixelImage();
    auto *held = new QImage(std::move(image));
    return PixelImage(held->bits(), held->width(), held->height(), held->bytesPerLine(),
                      PixelImage::Format(held->format()), [](void *info) { delete static_cast<QImage *>(info); },
                      held);
}

class PopplerPage : public RenderPage
{
public:
    PopplerPage(const Poppler::Document *document, int index, bool annotations)
        : page(document, index)
    {
        if (!annotations)
            page.hideFormFields();
    }

    bool exists() const override { return page.exists(); }
    QSizeF sizeInPoints() const override { return page.sizeInPoints(); }
    // Poppler's binding draws 32-bit pixels only, whatever is wanted.
    PixelImage render(double dpi, const QRect &region, const std::atomic<bool> &stop, QDeadlineTimer deadline,
                      PixelImage::Format) const override
    {
        return pixelsOf(page.render(dpi, region, stop, deadline));
    }

private:
    const PageRenderer page;
};

class PopplerDocument : public RenderDocument
{
public:
    // owned may be empty: then document belongs to the caller.
    PopplerDocument(const Poppler::Document *document, std::unique_ptr<Poppler::Document> owned,
                    bool annotations = true)
        : document(document)
        , owned(std::move(owned))
        , annotations(annotations)
    {
    }

    int pageCount() const override { return pdfPageCount(document); }
    std::unique_ptr<RenderPage> page(int index) const override
    {
        return std::make_unique<PopplerPage>(document, index, annotations);
    }

private:
    const Poppler::Document *document;
    std::unique_ptr<Poppler::Document> owned;
    bool annotations;
};

} // namespace

RenderOpenResult openPopplerView(const QString &path, const QByteArray &password, const RenderOptions &options)
{
    PdfLoadResult loaded = loadPdf(path, password);
    RenderOpenResult result;
    result.status = loaded.status;
    if (!loaded.document)
        return result;
    if (options.withoutPaper)
        drawWithoutPaper(loaded.document.get());
    if (!options.antialias) {
        loaded.document->setRenderHint(Poppler::Document::Antialiasing, false);
        loaded.document->setRenderHint(Poppler::Document::TextAntialiasing, false);
    }
    // Form fields are widget annotations: hidden with the rest.
    if (!options.annotations)
        loaded.document->setRenderHint(Poppler::Document::HideAnnotations, true);
    const Poppler::Document *document = loaded.document.get();
    result.document = std::make_unique<PopplerDocument>(document, std::move(loaded.document), options.annotations);
    return result;
}

std::unique_ptr<RenderDocument> popplerView(const Poppler::Document *document)
{
    return std::make_unique<PopplerDocument>(document, nullptr);
}
