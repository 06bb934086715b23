#include "engine/render/renderer.h"

#include "engine/render/popplerrenderer.h"
#ifdef VELLORAN_MUPDF
#include "engine/render/mupdfrenderer.h"
#endif

QString rendererName(RendererKind kind)
{
    return kind == RendererKind::MuPdf ? QStringLiteral("mupdf") : QStringLiteral("poppler");
}

std::optional<RendererKind> rendererForName(const QString &name)
{
    for (RendererKind kind : {RendererKind::MuPdf, RendererKind::Poppler}) {
        if (name == rendererName(kind))
            return kind;
    }
    return std::nullopt;
}

bool rendererBuiltIn(RendererKind kind)
{
#ifdef VELLORAN_MUPDF
    Q_UNUSED(kind)
    return true;
#else
    return kind == RendererKind::Poppler;
#endif
}

RendererKind defaultRenderer()
{
    return rendererBuiltIn(RendererKind::MuPdf) ? RendererKind::MuPdf : RendererKind::Poppler;
}

qint64 rendererCacheBytes(RendererKind kind)
{
#ifdef VELLORAN_MUPDF
    if (kind == RendererKind::MuPdf)
        return muPdfStoreBytes;
#else
    Q_UNUSED(kind)
#endif
    return 0;
}

QString pageBoxName(PageBox box)
{
    switch (box) {
    case PageBox::Media:
        return QStringLiteral("media");
    case PageBox::Crop:
        break;
    case PageBox::Bleed:
        return QStringLiteral("bleed");
    case PageBox::Trim:
        return QStringLiteral("trim");
    case PageBox::Art:
        return QStringLiteral("art");
    }
    return QStringLiteral("crop");
}

std::optional<PageBox> pageBoxForName(const QString &name)
{
    for (PageBox box : {PageBox::Media, PageBox::Crop, PageBox::Bleed, PageBox::Trim, PageBox::Art}) {
        if (name == pageBoxName(box))
            return box;
    }
    return std::nullopt;
}

QString renderOptionsRefused(RendererKind kind, const RenderOptions &options)
{
    if (kind != RendererKind::Poppler)
        return QString();
    // Poppler's Qt interface draws the crop box and nothing else, and has no
    // CMYK output; neither is faked from another drawing.
    if (options.box != PageBox::Crop)
        return QStringLiteral("--box %1 needs --renderer mupdf: Poppler's Qt interface draws the crop box only")
            .arg(pageBoxName(options.box));
    if (options.cmyk)
        return QStringLiteral("--cmyk needs --renderer mupdf: Poppler's Qt interface draws in RGB only");
    return QString();
}

RenderOpenResult openForRendering(RendererKind kind, const QString &path, const QByteArray &password,
                                  const RenderOptions &options)
{
    if (!renderOptionsRefused(kind, options).isEmpty())
        return RenderOpenResult();
#ifdef VELLORAN_MUPDF
    if (kind == RendererKind::MuPdf)
        return openWithMuPdf(path, password, options);
#endif
    if (kind == RendererKind::Poppler)
        return openWithPoppler(path, password, options);
    return RenderOpenResult();
}

RenderOpenResult openForRendering(RendererKind kind, const QString &path, const QByteArray &password,
                                  bool withoutPaper)
{
    RenderOptions options;
    options.withoutPaper = withoutPaper;
    return openForRendering(kind, path, password, options);
}

PdfProbeResult probeForRendering(RendererKind kind, const QString &path, const QByteArray &password)
{
    const RenderOpenResult opened = openForRendering(kind, path, password);
    PdfProbeResult result;
    result.status = opened.status;
    result.pageCount = opened.document ? opened.document->pageCount() : 0;
    return result;
}
