#include "engine/render/renderer.h"

#include "engine/render/rendererbackend.h"

QString rendererName(RendererKind kind)
{
    const RendererBackEnd *backEnd = rendererBackEnd(kind);
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
    return builtInBackEnd(kind) != nullptr;
}

RendererKind defaultRenderer()
{
    for (const RendererBackEnd *backEnd : rendererBackEnds()) {
        if (backEnd->module)
            return backEnd->kind;
    }
    return rendererBackEnds().constLast()->kind;
}

qint64 rendererCacheBytes(RendererKind kind)
{
    const RendererBackEnd *backEnd = builtInBackEnd(kind);
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
    const RendererBackEnd *backEnd = builtInBackEnd(kind);
    if (!backEnd)
        return QStringLiteral("--renderer %1 is not built into this program").arg(rendererName(kind));
    return renderOptionsRefusedBy(*backEnd, options, rendererBackEnds());
}
