#include "engine/render/sharedopening.h"

#include "engine/render/rendererbackend.h"

#include <mutex>
#include <set>

namespace {

std::mutex documentLifetimeMutex;

// A document of a back-end that opens one at a time: closed under the lock.
class LockedDocument : public RenderDocument
{
public:
    explicit LockedDocument(std::unique_ptr<RenderDocument> document)
        : document(std::move(document))
    {
    }
    ~LockedDocument() override
    {
        const std::lock_guard<std::mutex> lock(documentLifetimeMutex);
        document.reset();
    }

    int pageCount() const override { return document->pageCount(); }
    std::unique_ptr<RenderPage> page(int index) const override { return document->page(index); }

private:
    std::unique_ptr<RenderDocument> document;
};

// The back-ends warmed up in this process; under documentLifetimeMutex.
std::set<RendererKind> warmedUp;

} // namespace

RenderOpenResult openShared(RendererKind kind, const QString &path, const QByteArray &password,
                            const RenderOptions &options)
{
    const RendererBackEnd *backEnd = rendererBackEnd(kind);
    if (!backEnd || !backEnd->needs.openOneAtATime)
        return openForRendering(kind, path, password, options);
    const std::lock_guard<std::mutex> lock(documentLifetimeMutex);
    RenderOpenResult opened = openForRendering(kind, path, password, options);
    if (opened.document)
        opened.document = std::make_unique<LockedDocument>(std::move(opened.document));
    return opened;
}

void closeShared(RenderOpenResult &opened)
{
    opened = RenderOpenResult();
}

std::unique_ptr<RenderDocument> openBandCopy(RendererKind kind, const QString &path, const QByteArray &password,
                                             const RenderOptions &options)
{
    return openShared(kind, path, password, options).document;
}

void prepareForThreads(RendererKind kind, const QString &path, const QByteArray &password, int pageIndex,
                       const std::atomic<bool> &stop, qint64 timeLimitMs)
{
    const RendererBackEnd *backEnd = rendererBackEnd(kind);
    if (!backEnd || !backEnd->needs.warmUpBeforeThreads)
        return;
    const std::lock_guard<std::mutex> lock(documentLifetimeMutex);
    if (warmedUp.count(kind))
        return;
    const RenderOpenResult opened = openForRendering(kind, path, password);
    if (!opened.document)
        return;
    warmedUp.insert(kind);
    const std::unique_ptr<RenderPage> page = opened.document->page(pageIndex);
    if (page->exists())
        page->render(72, QRect(0, 0, 1, 1), stop,
                     timeLimitMs > 0 ? QDeadlineTimer(timeLimitMs) : QDeadlineTimer(QDeadlineTimer::Forever));
}
