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

RenderOpenResult openForRendering(RendererKind kind, const QString &path, const QByteArray &password,
                                  bool withoutPaper)
{
#ifdef VELLORAN_MUPDF
    if (kind == RendererKind::MuPdf)
        return openWithMuPdf(path, password, withoutPaper);
#endif
    if (kind == RendererKind::Poppler)
        return openWithPoppler(path, password, withoutPaper);
    return RenderOpenResult();
}

PdfProbeResult probeForRendering(RendererKind kind, const QString &path, const QByteArray &password)
{
    const RenderOpenResult opened = openForRendering(kind, path, password);
    PdfProbeResult result;
    result.status = opened.status;
    result.pageCount = opened.document ? opened.document->pageCount() : 0;
    return result;
}
