#include "runner/worker/taskexecutor.h"

#include "engine/atomicfile.h"
#include "engine/drawingnotes.h"
#include "engine/filestamp.h"
#include "engine/image/imagecheck.h"
#include "engine/image/tiffjoin.h"
#include "engine/nativepath.h"
#include "engine/bandplan.h"
#include "engine/pagepipeline.h"
#include "engine/pixelsize.h"
#include "engine/render/rendererbackend.h"
#include "engine/render/sharedopening.h"
#include "runner/taskprotocol.h"
#include "runner/worker/descriptoroutput.h"

#include <QElapsedTimer>

#include <climits>
#include <functional>
#include <limits>
#include <optional>

#include <unistd.h>

namespace {

bool sameSource(const PageTask &a, const PageTask &b)
{
    return TaskProtocol::opening(a) == TaskProtocol::opening(b);
}

PageOutcome failedOutcome(const PageTask &task, PageOutcome::Result result, const QString &detail)
{
    PageOutcome outcome;
    outcome.page = task.pageIndex;
    outcome.outputPath = task.outputPath;
    outcome.result = result;
    outcome.detail = detail;
    return outcome;
}

// A task that carries its file's stamp is opened from that file only: one
// replaced or rewritten since its program looked at it is another document,
// whose pages would join the run's under the first one's names.
bool fileChanged(const PageTask &task)
{
    return task.inputStamp.isSet() && fileStamp(task.path) != task.inputStamp;
}

QString fileChangedText()
{
    return QStringLiteral("the file has changed since the run began");
}

// A document that did not open: its back-end's module is missing, or the
// file cannot be opened.
QString whyNotOpened(RendererKind kind)
{
    const QString unavailable = rendererUnavailable(kind);
    return unavailable.isEmpty() ? QStringLiteral("the file could not be opened") : unavailable;
}

// The judge opens the file once: its status and the pages its page tree
// holds. When another library draws it opens the file too, for the
// renderer's status. What was opened with the task's renderer and options
// is handed to keep, for the pages that follow; the rest is closed.
TaskResult probeFile(const PageTask &task, const std::function<void(RenderOpenResult)> &keep)
{
    TaskResult result;
    if (fileChanged(task)) {
        result.outcome = failedOutcome(task, PageOutcome::RenderFailed, fileChangedText());
        return result;
    }
    result.outcome.result = PageOutcome::Written;
    // Options the renderer refuses open nothing: such a file is judged as
    // it is, and opened again for its pages, if they come.
    const bool drawable = renderOptionsRefused(task.renderer, task.options).isEmpty();
    const RenderOptions options = drawable ? task.options : RenderOptions();
    const RendererKind judge = judgingBackEnd().kind;
    RenderOpenResult judged = openShared(judge, task.path, task.password, task.renderer == judge ? options : RenderOptions());
    result.loadStatus = result.rendererStatus = judged.status;
    result.pageCount = judged.document ? judged.document->pageCount() : 0;
    // A module that cannot be loaded is no verdict on the file.
    const auto unavailable = [&result, &task](RendererKind kind) {
        const QString why = rendererUnavailable(kind);
        if (!why.isEmpty())
            result.outcome = failedOutcome(task, PageOutcome::RenderFailed, why);
        return !why.isEmpty();
    };
    if (judged.status != PdfLoadStatus::Loaded) {
        unavailable(judge);
        return result;
    }
    if (task.renderer != judge) {
        closeShared(judged);
        judged = openShared(task.renderer, task.path, task.password, options);
        result.rendererStatus = judged.status;
        if (judged.status != PdfLoadStatus::Loaded && unavailable(task.renderer))
            return result;
    }
    if (judged.document && drawable && keep)
        keep(std::move(judged));
    closeShared(judged);
    return result;
}

} // namespace

// The last document drawn from, for pages and for previews: a batch takes
// its pages in order, and the window's previews come from one document.
struct TaskExecutor::OpenDocuments
{
    ~OpenDocuments()
    {
        closeShared(drawing);
        closeShared(previewing);
    }

    // Null when it cannot be opened; whyNot then says why.
    const RenderDocument *forDrawing(const PageTask &task, QString *whyNot)
    {
        if (!drawingFor || !sameSource(*drawingFor, task)) {
            // What is open already was checked when it was opened, and
            // reads the file it opened whatever has taken its name since.
            if (fileChanged(task)) {
                *whyNot = fileChangedText();
                return nullptr;
            }
            keep(task, openShared(task.renderer, task.path, task.password, task.options));
        }
        if (!drawing.document)
            *whyNot = whyNotOpened(task.renderer);
        return drawing.document.get();
    }

    // A document opened for task (by a probe), kept for the pages that follow.
    void keep(const PageTask &task, RenderOpenResult opened)
    {
        closeShared(drawing);
        drawing = std::move(opened);
        drawingFor = std::make_unique<PageTask>(task);
    }

    // The window's previews, drawn as it draws: with the back-end that draws
    // previews, its usual options; what the window's opening of the file
    // kept serves its first preview.
    const RenderDocument *forPreview(const PageTask &task)
    {
        const RendererKind kind = previewBackEnd().kind;
        PageTask asPreviewed = task;
        asPreviewed.renderer = kind;
        asPreviewed.options = RenderOptions();
        if (drawingFor && sameSource(*drawingFor, asPreviewed))
            return drawing.document.get();
        if (!previewFor || previewFor->path != task.path || previewFor->password != task.password) {
            closeShared(previewing);
            previewing = openShared(kind, task.path, task.password, RenderOptions());
            previewFor = std::make_unique<PageTask>(task);
        }
        return previewing.document.get();
    }

    RenderOpenResult drawing;
    std::unique_ptr<PageTask> drawingFor;
    RenderOpenResult previewing;
    std::unique_ptr<PageTask> previewFor;
};

namespace {

qint64 bitmapBudget(int memoryShare, qint64 maxMemory)
{
    const qint64 share = MemoryBudget::defaultTotal() / qMax(1, memoryShare);
    if (maxMemory <= 0)
        return share;
    return qBound(qint64(8) << 20, maxMemory - workerBaseBytes, share);
}

// A page's bitmap at its resolution with three bytes a pixel: what an image
// covering the page costs a renderer that scales it whole (Poppler).
qint64 pageImageBytes(const RenderDocument &document, const PageJob &job)
{
    const std::unique_ptr<RenderPage> page = document.page(job.pageIndex);
    if (!page->exists())
        return 0;
    const PixelSize size = pixelSizeAt(page->sizeInPoints(), job.resolution);
    return size.status == PixelSize::Ok ? qint64(size.bitmapBytes() / 4 * 3) : std::numeric_limits<qint64>::max();
}

} // namespace

qint64 rendererStoreBytes(qint64 maxMemory)
{
    return qMin(largestRendererCache(), (maxMemory - workerBaseBytes) / 4);
}

TaskExecutor::TaskExecutor(int memoryShare, qint64 maxMemory)
    : open(std::make_unique<OpenDocuments>())
    , memory(bitmapBudget(memoryShare, maxMemory))
    , maxMemory(maxMemory)
{
    // Before any document is opened: a library's store is made with the first.
    if (maxMemory > 0 && rendererStoreBytes(maxMemory) > 0)
        limitRendererCaches(rendererStoreBytes(maxMemory));
}

TaskExecutor::~TaskExecutor() = default;

TaskResult TaskExecutor::run(const PageTask &task, const std::atomic<bool> &stop, int givenDescriptor,
                             const std::function<bool()> &waitForTurn)
{
    QElapsedTimer timer;
    timer.start();
    TaskResult result;
    switch (task.kind) {
    case PageTask::Convert:
        result = convert(task, stop, givenDescriptor, waitForTurn);
        break;
    case PageTask::Join:
        result = join(task);
        break;
    case PageTask::Check: {
        const QString whyNot = whyNotWholeImage(task.outputPath, task.format);
        result.outcome.page = task.pageIndex;
        result.outcome.outputPath = task.outputPath;
        result.outcome.result = whyNot.isEmpty() ? PageOutcome::Skipped : PageOutcome::RenderFailed;
        result.outcome.detail = whyNot;
        break;
    }
    case PageTask::Preview:
        result = preview(task);
        break;
    case PageTask::Probe:
        if (task.documentInfo) {
            result.outcome.result = PageOutcome::Written;
            result.info = readDocumentInfo(task.path, task.password);
            result.loadStatus = result.rendererStatus = result.info.status;
            result.pageCount = result.info.pageCount;
            break;
        }
        result = probeFile(task, [this, &task](RenderOpenResult opened) { open->keep(task, std::move(opened)); });
        if (task.checkSizes && result.loadStatus == PdfLoadStatus::Loaded
            && result.rendererStatus == PdfLoadStatus::Loaded)
            checkSizes(task, result);
        break;
    }
    result.outcome.milliseconds = timer.elapsed();
    return result;
}

PageJob pageJobFor(const PageTask &task, const RenderDocument &document)
{
    PageJob job;
    job.pageIndex = task.pageIndex;
    job.outputPath = task.outputPath;
    job.format = task.format;
    job.resolution = task.resolution;
    if (task.sizedInPixels()) {
        const std::unique_ptr<RenderPage> page = document.page(task.pageIndex);
        if (page->exists()) {
            const QSizeF points = page->sizeInPoints();
            job.resolution = task.longestSide > 0 ? resolutionForLongestSide(points, task.longestSide)
                                                  : resolutionToFit(points, task.fitWidth, task.fitHeight);
        }
    }
    job.quality = task.quality;
    job.mode = task.mode;
    job.tone = task.tone;
    job.region = task.region;
    if (task.pdftoppm.active) {
        const std::unique_ptr<RenderPage> page = document.page(task.pageIndex);
        if (page->exists()) {
            const PdftoppmPage sized = pdftoppmPage(task.pdftoppm, page->sizeInPoints(), page->quarterTurned());
            job.resolution = sized.xResolution;
            job.yResolution = sized.yResolution;
            job.region = sized.region;
            job.roundUp = true;
        }
    }
    job.encoder = task.encoder;
    job.timeLimitMs = task.timeLimitMs;
    job.synced = task.synced;
    job.heldBack = task.heldBack;
    job.bandThreads = task.bandThreads;
    return job;
}

TaskResult TaskExecutor::convert(const PageTask &task, const std::atomic<bool> &stop, int givenDescriptor,
                                 const std::function<bool()> &waitForTurn)
{
    TaskResult result;
    if (task.toGivenDescriptor && givenDescriptor < 0) {
        result.outcome = failedOutcome(task, PageOutcome::WriteFailed, QStringLiteral("no descriptor came with the page"));
        return result;
    }
    if (task.bandThreads > 1)
        prepareForThreads(task.renderer, task.path, task.password, task.pageIndex, stop, task.timeLimitMs);
    QString whyNot;
    const RenderDocument *document = open->forDrawing(task, &whyNot);
    // What opening the document gave rise to belongs to no one page.
    DrawingNotes::take();
    if (!document) {
        result.outcome = failedOutcome(task, PageOutcome::RenderFailed, whyNot);
        return result;
    }
    PageJob job = pageJobFor(task, *document);
    job.memory = &memory;
    // Under a ceiling a large page is drawn on as many threads as fit, in
    // bands that fit in what is left once its images are decoded: room for an
    // image covering the page (Poppler scales one whole, whatever the band)
    // or MuPDF's store, whichever is more, the bitmaps keeping a quarter at
    // least. A thread holds about twice its band (Poppler's own bitmap beside
    // the one handed on, a copy of the document), and the encoder's rows are
    // counted as one band more.
    if (maxMemory > 0) {
        const qint64 total = memory.total();
        const qint64 images = qMax(rendererStoreBytes(maxMemory), pageImageBytes(*document, job));
        const qint64 bitmaps = qMax(total / 4, total - images);
        job.bandThreads = qBound(1, int(bitmaps / (3 * defaultBandBudget)), job.bandThreads);
        job.bandBudget = qBound(qint64(4) << 20, bitmaps / (2 * job.bandThreads + 1), job.bandBudget);
    }
    job.openCopy = [&task] { return openBandCopy(task.renderer, task.path, task.password, task.options); };
    // --strict decides once the page is whole and before it takes its name,
    // so that a page it fails never replaces the file already there.
    std::optional<DrawingNotes::Notes> notes;
    if (task.strict)
        job.refuseBeforeCommit = [&notes] {
            notes = DrawingNotes::take();
            return notes->errors ? QStringLiteral("the renderer reported errors while drawing (--strict): %1")
                                       .arg(notes->first.value(0))
                                 : QString();
        };
    // A page held for its turn is counted against the ceiling as a band is.
    const qint64 holdAtMost = maxMemory > 0 ? qMin(holdForTurnBytes, maxMemory / 8) : holdForTurnBytes;
    result.outcome = task.toGivenDescriptor
                         ? convertPageToDescriptor(*document, job, givenDescriptor, stop,
                                                   task.inTurn ? waitForTurn : WaitForTurn(), holdAtMost)
                         : convertPage(*document, job, stop);
    result.outcome.renderer = rendererName(task.renderer);
    if (!notes)
        notes = DrawingNotes::take();
    result.outcome.warnings = notes->first;
    result.outcome.warningCount = notes->count;
    result.outcome.drawingErrors = notes->errors;
    return result;
}

// The pages drawn as single-page files joined into one, which appears whole
// under its name or not at all. Nothing is drawn: the pages' compressed data
// is copied as it is.
TaskResult TaskExecutor::join(const PageTask &task)
{
    TaskResult result;
    AtomicFile out(task.outputPath);
    out.setSynced(task.synced);
    QString why;
    if (!out.open(true))
        why = out.errorString();
    else if (joinTiffPages(task.pieces, out.device(), &why) && !out.commit())
        why = out.errorString();
    result.outcome = failedOutcome(task, why.isEmpty() ? PageOutcome::Written : PageOutcome::WriteFailed, why);
    return result;
}

// Whether any page can be drawn at the task's size, with the checks a page
// meets before it is drawn: the first page that passes ends the look, so an
// ordinary document costs one page's size. The document stays open for its pages.
void TaskExecutor::checkSizes(const PageTask &task, TaskResult &result)
{
    QString whyNot;
    const RenderDocument *document = open->forDrawing(task, &whyNot);
    DrawingNotes::take();
    if (!document || result.pageCount < 1)
        return;
    PageOutcome first;
    for (int i = 0; i < result.pageCount; ++i) {
        PageTask page = task;
        page.pageIndex = i;
        const PageOutcome checked = checkPage(*document, pageJobFor(page, *document));
        if (checked.result != PageOutcome::TooLarge)
            return;
        if (i == 0)
            first = checked;
    }
    result.outcome = first;
}

// The window's preview: the whole page as the window has always drawn it,
// with the back-end that draws previews, in 32-bit pixels, shrunk to the area
// only where a poster would not fit in memory. The document stays open, with its fonts, for the next
// preview: paging through it costs one page's drawing.
TaskResult TaskExecutor::preview(const PageTask &task)
{
    TaskResult result;
    const RenderDocument *document = open->forPreview(task);
    // What opening the document gave rise to belongs to no one page.
    DrawingNotes::take();
    if (!document) {
        result.outcome = failedOutcome(task, PageOutcome::RenderFailed, whyNotOpened(previewBackEnd().kind));
        return result;
    }
    const std::unique_ptr<RenderPage> page = document->page(task.pageIndex);
    if (!page->exists()) {
        result.outcome = failedOutcome(task, PageOutcome::NoPage, QStringLiteral("no such page"));
        return result;
    }
    const QSizeF points = page->sizeInPoints();
    const PixelSize at72Dpi = pixelSizeAt(points, 72.0);
    QSize sizeAt72Dpi(at72Dpi.width, at72Dpi.height);
    if (at72Dpi.status == PixelSize::BeyondInt)
        sizeAt72Dpi = QSize(INT_MAX, INT_MAX);
    else if (at72Dpi.status == PixelSize::BelowOnePixel)
        sizeAt72Dpi = QSize(0, 0);
    const double dpi = previewResolution(sizeAt72Dpi, task.previewArea);
    const PixelSize size = pixelSizeAt(points, dpi);
    // Refused before drawing: a page under a pixel, or one whose bitmap the
    // library could not allocate.
    const qint64 largest = previewBackEnd().needs.largestBitmap;
    if (size.status == PixelSize::Ok && (largest <= 0 || size.bitmapBytes() < double(largest))) {
        static const std::atomic<bool> neverStopped{false};
        result.image = page->render(dpi, QRect(0, 0, size.width, size.height), neverStopped,
                                    QDeadlineTimer(QDeadlineTimer::Forever), PixelImage::Rgb32);
    }
    if (result.image.isNull())
        result.outcome = failedOutcome(task, PageOutcome::RenderFailed, QStringLiteral("the page could not be rendered"));
    else
        result.outcome = failedOutcome(task, PageOutcome::Written, QString());
    DrawingNotes::take();
    result.outcome.width = result.image.width();
    result.outcome.height = result.image.height();
    return result;
}
