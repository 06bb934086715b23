#include "engine/render/sharedopening.h"


#include <mutex>

namespace {

std::mutex documentLifetimeMutex;

class BandCopy : public RenderDocument
{
public:
    explicit BandCopy(std::unique_ptr<RenderDocument> document)
        : document(std::move(document))
    {
    }
    ~BandCopy() override
    {
        const std::lock_guard<std::mutex> lock(documentLifetimeMutex);
        document.reset();
    }

    int pageCount() const override { return document->pageCount(); }
    std::unique_ptr<RenderPage> page(int index) const override { return document->page(index); }

private:
    std::unique_ptr<RenderDocument> document;
};

} // namespace

RenderOpenResult openShared(RendererKind kind, const QString &path, const QByteArray &password,
                            const RenderOptions &options)
{
    const std::lock_guard<std::mutex> lock(documentLifetimeMutex);
    return openForRendering(kind, path, password, options);
}

void closeShared(RenderOpenResult &opened)
{
    const std::lock_guard<std::mutex> lock(documentLifetimeMutex);
    opened = RenderOpenResult();
}

std::unique_ptr<RenderDocument> openBandCopy(RendererKind kind, const QString &path, const QByteArray &password,
                                             const RenderOptions &options)
{
    RenderOpenResult opened = openShared(kind, path, password, options);
    if (!opened.document)
        return nullptr;
    return std::make_unique<BandCopy>(std::move(opened.document));
}

void prepareForThreads(RendererKind kind, const QString &path, const QByteArray &password, int pageIndex,
                       const std::atomic<bool> &stop, qint64 timeLimitMs)
{
    if (kind != RendererKind::Poppler)
        return;
    const std::lock_guard<std::mutex> lock(documentLifetimeMutex);
    const RenderOpenResult opened = openForRendering(kind, path, password);
    if (!opened.document)
        return;
    const std::unique_ptr<RenderPage> page = opened.document->page(pageIndex);
    if (page->exists())
        page->render(72, QRect(0, 0, 1, 1), stop,
                     timeLimitMs > 0 ? QDeadlineTimer(timeLimitMs) : QDeadlineTimer(QDeadlineTimer::Forever));
}
