#include "engine/render/popplerrenderer.h"

#include "engine/render/pagerenderer.h"

#include <poppler-qt6.h>

namespace {

class PopplerPage : public RenderPage
{
public:
    PopplerPage(const Poppler::Document *document, int index)
        : page(document, index)
    {
    }

    bool exists() const override { return page.exists(); }
    QSizeF sizeInPoints() const override { return page.sizeInPoints(); }
    QImage render(double dpi, const QRect &region, const std::atomic<bool> &stop, bool alpha,
                  QDeadlineTimer deadline) const override
    {
        return page.render(dpi, region, stop, alpha, deadline);
    }

private:
    const PageRenderer page;
};

class PopplerDocument : public RenderDocument
{
public:
    // owned may be empty: then document belongs to the caller.
    PopplerDocument(const Poppler::Document *document, std::unique_ptr<Poppler::Document> owned)
        : document(document)
        , owned(std::move(owned))
    {
    }

    int pageCount() const override { return pdfPageCount(document); }
    std::unique_ptr<RenderPage> page(int index) const override
    {
        return std::make_unique<PopplerPage>(document, index);
    }

private:
    const Poppler::Document *document;
    std::unique_ptr<Poppler::Document> owned;
};

} // namespace

RenderOpenResult openWithPoppler(const QString &path, const QByteArray &password, bool withoutPaper)
{
    PdfLoadResult loaded = loadPdf(path, password);
    RenderOpenResult result;
    result.status = loaded.status;
    if (!loaded.document)
        return result;
    if (withoutPaper)
        drawWithoutPaper(loaded.document.get());
    const Poppler::Document *document = loaded.document.get();
    result.document = std::make_unique<PopplerDocument>(document, std::move(loaded.document));
    return result;
}

std::unique_ptr<RenderDocument> popplerView(const Poppler::Document *document)
{
    return std::make_unique<PopplerDocument>(document, nullptr);
}
