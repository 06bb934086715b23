#include "engine/render/renderer.h"

#include "engine/render/rendererbackend.h"

namespace {

const RendererBackEnd *backEndOf(RendererKind kind)
{
    for (const RendererBackEnd *backEnd : rendererBackEnds()) {
        if (backEnd->kind == kind)
            return backEnd;
    }
    return nullptr;
}

const RendererBackEnd *builtIn(RendererKind kind)
{
    const RendererBackEnd *backEnd = backEndOf(kind);
    return backEnd && backEnd->open ? backEnd : nullptr;
}

} // namespace

QString rendererName(RendererKind kind)
{
    const RendererBackEnd *backEnd = backEndOf(kind);
    return backEnd ? QLatin1String(backEnd->name) : QString();
}

std::optional<RendererKind> rendererForName(const QString &name)
{
    for (const RendererBackEnd *backEnd : rendererBackEnds()) {
        if (name == QLatin1String(backEnd->name))
            return backEnd->kind;
    }
    return std::nullopt;
}

bool rendererBuiltIn(RendererKind kind)
{
    return builtIn(kind) != nullptr;
}

RendererKind defaultRenderer()
{
    for (const RendererBackEnd *backEnd : rendererBackEnds()) {
        if (backEnd->open)
            return backEnd->kind;
    }
    return rendererBackEnds().constLast()->kind;
}

qint64 rendererCacheBytes(RendererKind kind)
{
    const RendererBackEnd *backEnd = builtIn(kind);
    return backEnd ? backEnd->cacheBytes : 0;
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
    const RendererBackEnd *backEnd = builtIn(kind);
    if (!backEnd)
        return QStringLiteral("--renderer %1 is not built into this program").arg(rendererName(kind));
    return renderOptionsRefusedBy(*backEnd, options, rendererBackEnds());
}

RenderOpenResult openForRendering(RendererKind kind, const QString &path, const QByteArray &password,
                                  const RenderOptions &options)
{
    if (!renderOptionsRefused(kind, options).isEmpty())
        return RenderOpenResult();
    return builtIn(kind)->open(path, password, options);
}

PdfProbeResult probeForRendering(RendererKind kind, const QString &path, const QByteArray &password)
{
    const RenderOpenResult opened = openForRendering(kind, path, password);
    PdfProbeResult result;
    result.status = opened.status;
    result.pageCount = opened.document ? opened.document->pageCount() : 0;
    return result;
}
