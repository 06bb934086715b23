#include "engine/render/renderdocument.h"

#include "engine/render/backendmodule.h"
#include "engine/render/rendererbackend.h"

RenderOpenResult openForRendering(RendererKind kind, const QString &path, const QByteArray &password,
                                  const RenderOptions &options)
{
    if (!renderOptionsRefused(kind, options).isEmpty())
        return RenderOpenResult();
    const BackEndModule *module = backEndModule(kind);
    return module ? module->open(path, password, options) : RenderOpenResult();
}

PdfProbeResult probeForRendering(RendererKind kind, const QString &path, const QByteArray &password)
{
    const RenderOpenResult opened = openForRendering(kind, path, password);
    PdfProbeResult result;
    result.status = opened.status;
    result.pageCount = opened.document ? opened.document->pageCount() : 0;
    return result;
}

PdfDocumentInfo readDocumentInfo(const QString &path, const QByteArray &password)
{
    const BackEndModule *module = backEndModule(judgingBackEnd().kind);
    return module && module->readInfo ? module->readInfo(path, password) : PdfDocumentInfo();
}
