#include "engine/render/popplerrenderer.h"

#include "engine/drawingnotes.h"
#include "engine/render/pagerenderer.h"
#include "engine/render/pdfdocument.h"

#include <poppler-qt6.h>

namespace {

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
    QImage render(double dpi, const QRect &region, const std::atomic<bool> &stop, QDeadlineTimer deadline,
                  QImage::Format) const override
    {
        return page.render(dpi, region, stop, deadline);
    }
    QImage renderStretched(double xDpi, double yDpi, const QRect &region, const std::atomic<bool> &stop,
                           QDeadlineTimer deadline, QImage::Format) const override
    {
        return page.render(xDpi, yDpi, region, stop, deadline);
    }
    bool quarterTurned() const override { return page.quarterTurned(); }

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

RenderOpenResult openWithPoppler(const QString &path, const QByteArray &password, const RenderOptions &options)
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

} // namespace

const RendererBackEnd popplerBackEnd{RendererKind::Poppler, "poppler", "Poppler's Qt interface",
                                     RendererAbilities{boxBit(PageBox::Crop), false, true, true, true}, 0,
                                     openWithPoppler};

std::unique_ptr<RenderDocument> popplerView(const Poppler::Document *document)
{
    return std::make_unique<PopplerDocument>(document, nullptr);
}

// Poppler's binding gives each report as "Error: <text>" or "Error (<offset>):
// <text>" without the grade Poppler gave it (a syntax warning, an error):
// every one counts as an error, since many mean something was left out.
void keepPopplerReports()
{
    Poppler::setDebugErrorFunction(
        [](const QString &message, const QVariant &) {
            QString text = message;
            static const QLatin1String prefix("Error");
            if (text.startsWith(prefix)) {
                const qsizetype colon = text.indexOf(QLatin1String(": "));
                if (colon > 0)
                    text = text.mid(colon + 2);
            }
            text.replace(QLatin1String("<0a>"), QLatin1String(" ")); // a newline, as Poppler escapes it
            DrawingNotes::add(DrawingNotes::Severity::Error, text);
        },
        QVariant());
}
