#include "engine/pagepipeline.h"

#include "engine/atomicfile.h"
#include "engine/image/pixelconvert.h"
#include "engine/image/rowencoder.h"
#include "engine/memorybudget.h"
#include "engine/parallelbands.h"
#include "engine/pixelsize.h"
#include "engine/render/renderdocument.h"

#include <functional>

namespace {

bool stopSet(const std::atomic<bool> &stop)
{
    return stop.load(std::memory_order_relaxed);
}

PageOutcome &finish(PageOutcome &outcome, PageOutcome::Result result, const QString &detail = QString())
{
    outcome.result = result;
    outcome.detail = detail;
    return outcome;
}

QString sizeText(double width, double height, char format = 'f')
{
    const int precision = format == 'f' ? 0 : 4;
    return QStringLiteral("%1 x %2 pixels").arg(width, 0, format, precision).arg(height, 0, format, precision);
}

// Checks the size at the resolution against the format; fills width and height.
bool checkSize(const RenderPage &page, const PageJob &job, PageOutcome &outcome)
{
    PixelSize size = pixelSizeAt(page.sizeInPoints(), job.resolution, job.roundUp);
    if (job.yResolution > 0 && job.yResolution != job.resolution && size.status == PixelSize::Ok) {
        const PixelSize down = pixelSizeAt(page.sizeInPoints(), job.yResolution, job.roundUp);
        size.status = down.status;
        size.height = down.height;
        size.exactHeight = down.exactHeight;
    }
    switch (size.status) {
    case PixelSize::BelowOnePixel:
        finish(outcome, PageOutcome::TooSmall,
               QStringLiteral("the page is smaller than one pixel at %1 dpi (%2)")
                   .arg(job.resolution)
                   .arg(sizeText(size.exactWidth, size.exactHeight, 'g')));
        return false;
    case PixelSize::BeyondInt:
        finish(outcome, PageOutcome::TooLarge, sizeText(size.exactWidth, size.exactHeight));
        return false;
    case PixelSize::Ok:
        break;
    }
    outcome.width = size.width;
    outcome.height = size.height;
    if (!job.region.isEmpty()) {
        // pdftoppm's regions are cut to its own sides already, which may be
        // a pixel past these (engine/pdftoppmsize).
        const QRect drawn = job.roundUp ? job.region : job.region & QRect(0, 0, size.width, size.height);
        if (drawn.isEmpty()) {
            finish(outcome, PageOutcome::RenderFailed,
                   QStringLiteral("the region %1,%2,%3,%4 lies outside the page (%5)")
                       .arg(job.region.x())
                       .arg(job.region.y())
                       .arg(job.region.width())
                       .arg(job.region.height())
                       .arg(sizeText(size.width, size.height)));
            return false;
        }
        outcome.width = drawn.width();
        outcome.height = drawn.height();
    }
    if (!formatHolds(job.format, outcome.width, outcome.height)) {
        finish(outcome, PageOutcome::TooLarge,
               sizeText(outcome.width, outcome.height) + QStringLiteral("; ") + formatLimitText(job.format));
        return false;
    }
    if (!bandsCanHold(outcome.width)) {
        finish(outcome, PageOutcome::TooLarge, sizeText(outcome.width, outcome.height));
        return false;
    }
    return true;
}

// Draws the page band by band into the encoder. start() is called once the
// first band has been drawn and must open the file: a page that cannot be
// drawn leaves nothing behind.
PageOutcome &drawInto(const RenderPage &page, const PageJob &job, const std::atomic<bool> &stop,
                      RowEncoder &encoder, QIODevice *device, const std::function<bool(QString *)> &start,
                      PageOutcome &outcome)
{
    // The size checked: the page's, or that of the region within it.
    const int width = outcome.width;
    const int height = outcome.height;
    const QPoint origin = job.region.isEmpty() ? QPoint(0, 0) : QPoint(qMax(0, job.region.x()), qMax(0, job.region.y()));
    const int rows = bandRows(width, height, job.bandBudget);
    const bool banded = rows < height;
    const qint64 bandMemory = bandBytes(width, banded ? rows + 2 * bandMargin : rows);
    EncodeSettings settings{width, height, job.resolution, job.quality, job.mode, job.encoder, qMax(1, job.bandThreads)};
    // Drawn, where the renderer can, in the layout the encoder takes best.
    const PixelImage::Format wanted = imageFormatFor(encoder.layoutFor(job.mode));
    const qint64 encoderMemory = encoder.bytesHeld(settings);
    const int bandCount = (height + rows - 1) / rows;
    const int drawingThreads = banded && job.openCopy ? qBound(1, job.bandThreads, bandCount) : 1;
    const BudgetLease lease(job.memory, bandMemory * drawingThreads + encoderMemory, stop);
    if (!lease.granted())
        return finish(outcome, PageOutcome::Stopped);

    // The time limit counts from here: waiting for the others' memory is not the page's doing.
    const QDeadlineTimer deadline = job.timeLimitMs > 0 ? QDeadlineTimer(job.timeLimitMs)
                                                        : QDeadlineTimer(QDeadlineTimer::Forever);
    const auto timedOut = [&outcome, &job]() -> PageOutcome & {
        return finish(outcome, PageOutcome::TimedOut,
                      QStringLiteral("timed out after %1 s").arg(double(job.timeLimitMs) / 1000.0));
    };
    encoder.stopWhen(&stop, deadline);

    // Band i, with its margins: the same regions whichever thread draws them.
    const auto drawBand = [&](const RenderPage &from, int band) {
        const int top = band * rows;
        const int bandHeight = qMin(rows, height - top);
        const int above = banded ? qMin(top, bandMargin) : 0;
        const int below = banded ? qMin(height - top - bandHeight, bandMargin) : 0;
        const QRect area(origin.x(), origin.y() + top - above, width, above + bandHeight + below);
        if (job.yResolution > 0 && job.yResolution != job.resolution)
            return from.renderStretched(job.resolution, job.yResolution, area, stop, deadline, wanted);
        return from.render(job.resolution, area, stop, deadline, wanted);
    };
    std::unique_ptr<ParallelBands> parallel;
    if (drawingThreads > 1)
        parallel = std::make_unique<ParallelBands>(page, job.pageIndex, bandCount, drawingThreads - 1, job.openCopy,
                                                   drawBand);

    for (int top = 0, band = 0; top < height; top += rows, ++band) {
        if (stopSet(stop))
            return finish(outcome, PageOutcome::Stopped);
        const int bandHeight = qMin(rows, height - top);
        const int above = banded ? qMin(top, bandMargin) : 0;
        PixelImage image = parallel ? parallel->take(band) : drawBand(page, band);
        if (stopSet(stop))
            return finish(outcome, PageOutcome::Stopped);
        if (deadline.hasExpired())
            return timedOut();
        if (image.isNull() || (top > 0 && layoutOf(image.format()) != settings.layout))
            return finish(outcome, PageOutcome::RenderFailed, QStringLiteral("the page could not be rendered"));
        if (top == 0) {
            settings.layout = layoutOf(image.format());
            QString why;
            if (!start(&why))
                return finish(outcome, PageOutcome::WriteFailed, why);
            if (!encoder.begin(device, settings))
                return finish(outcome, PageOutcome::WriteFailed, encoder.errorString());
        }
        if (job.tone != PixelMode::Color && job.mode == PixelMode::Color)
            for (int y = above; y < above + bandHeight; ++y)
                toneRow(job.tone, settings.layout, image.scanLine(y), width);
        if (!encoder.writeRows(image.constScanLine(above), image.bytesPerLine(), bandHeight)) {
            if (stopSet(stop))
                return finish(outcome, PageOutcome::Stopped);
            if (deadline.hasExpired())
                return timedOut();
            return finish(outcome, PageOutcome::WriteFailed, encoder.errorString());
        }
    }
    if (!encoder.finish()) {
        if (stopSet(stop))
            return finish(outcome, PageOutcome::Stopped);
        if (deadline.hasExpired())
            return timedOut();
        return finish(outcome, PageOutcome::WriteFailed, encoder.errorString());
    }
    if (stopSet(stop))
        return finish(outcome, PageOutcome::Stopped);
    return finish(outcome, PageOutcome::Written);
}

// The checks before drawing, the same for a file of its own and for a page
// of many: false when they settle the outcome.
bool readyToDraw(const RenderPage &page, const PageJob &job, const std::atomic<bool> &stop, PageOutcome &outcome)
{
    outcome.page = job.pageIndex;
    outcome.outputPath = job.outputPath;
    if (stopSet(stop)) {
        finish(outcome, PageOutcome::Stopped);
        return false;
    }
    if (!page.exists()) {
        finish(outcome, PageOutcome::NoPage, QStringLiteral("no such page"));
        return false;
    }
    return checkSize(page, job, outcome);
}

} // namespace

PageOutcome convertPage(const RenderDocument &document, const PageJob &job, const std::atomic<bool> &stop)
{
    PageOutcome outcome;
    const std::unique_ptr<RenderPage> page = document.page(job.pageIndex);
    if (!readyToDraw(*page, job, stop, outcome))
        return outcome;

    AtomicFile file(job.outputPath);
    file.setSynced(job.synced);
    const std::unique_ptr<RowEncoder> encoder = makeEncoder(job.format);
    const auto openFile = [&file](QString *why) {
        if (file.open())
            return true;
        *why = file.errorString();
        return false;
    };
    drawInto(*page, job, stop, *encoder, &file.device(), openFile, outcome);
    if (outcome.result == PageOutcome::Written && job.refuseBeforeCommit) {
        const QString why = job.refuseBeforeCommit();
        if (!why.isEmpty())
            finish(outcome, PageOutcome::RenderFailed, why); // the temporary file goes with `file`
    }
    if (outcome.result != PageOutcome::Written)
        return outcome;
    if (job.heldBack) {
        outcome.heldAt = file.hold();
        if (outcome.heldAt.isEmpty())
            finish(outcome, PageOutcome::WriteFailed, file.errorString());
    } else if (!file.commit()) {
        finish(outcome, PageOutcome::WriteFailed, file.errorString());
    }
    return outcome;
}

PageOutcome checkPage(const RenderDocument &document, const PageJob &job)
{
    static const std::atomic<bool> notStopped{false};
    PageOutcome outcome;
    const std::unique_ptr<RenderPage> page = document.page(job.pageIndex);
    if (readyToDraw(*page, job, notStopped, outcome))
        finish(outcome, PageOutcome::Written);
    return outcome;
}

PageOutcome appendPage(const RenderDocument &document, const PageJob &job, RowEncoder &encoder, QIODevice &device,
                       const std::atomic<bool> &stop)
{
    PageOutcome outcome;
    const std::unique_ptr<RenderPage> page = document.page(job.pageIndex);
    if (!readyToDraw(*page, job, stop, outcome))
        return outcome;
    const auto alreadyOpen = [](QString *) { return true; };
    return drawInto(*page, job, stop, encoder, &device, alreadyOpen, outcome);
}
