#include "engine/pagepipeline.h"

#include "engine/atomicfile.h"
#include "engine/memorybudget.h"
#include "engine/pagerenderer.h"
#include "engine/pixelsize.h"
#include "engine/rowencoder.h"

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
bool checkSize(const PageRenderer &page, const PageJob &job, PageOutcome &outcome)
{
    const PixelSize size = pixelSizeAt(page.sizeInPoints(), job.resolution);
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
    if (!formatHolds(job.format, size.width, size.height) || !bandsCanHold(size.width)) {
        finish(outcome, PageOutcome::TooLarge, sizeText(size.width, size.height));
        return false;
    }
    return true;
}

// Draws the page band by band into the encoder; the file is opened once the
// first band has been drawn, so that a page that cannot be drawn leaves nothing.
PageOutcome &renderAndWrite(const PageRenderer &page, const PageJob &job, const std::atomic<bool> &stop,
                            PageOutcome &outcome)
{
    const int width = outcome.width;
    const int height = outcome.height;
    const int rows = bandRows(width, height, job.bandBudget);
    const bool banded = rows < height;
    const BudgetLease lease(job.memory, bandBytes(width, banded ? rows + 2 * bandMargin : rows), stop);
    if (!lease.granted())
        return finish(outcome, PageOutcome::Stopped);

    AtomicFile file(job.outputPath);
    const std::unique_ptr<RowEncoder> encoder = makeEncoder(job.format);
    for (int top = 0; top < height; top += rows) {
        if (stopSet(stop))
            return finish(outcome, PageOutcome::Stopped);
        const int bandHeight = qMin(rows, height - top);
        const int above = banded ? qMin(top, bandMargin) : 0;
        const int below = banded ? qMin(height - top - bandHeight, bandMargin) : 0;
        const QRect drawn(0, top - above, width, above + bandHeight + below);
        const QImage image = page.render(job.resolution, drawn, stop);
        if (stopSet(stop))
            return finish(outcome, PageOutcome::Stopped);
        if (image.isNull())
            return finish(outcome, PageOutcome::RenderFailed, QStringLiteral("the page could not be rendered"));
        if (top == 0) {
            if (!file.open())
                return finish(outcome, PageOutcome::WriteFailed, file.errorString());
            if (!encoder->begin(&file.device(), EncodeSettings{width, height, job.resolution, job.quality}))
                return finish(outcome, PageOutcome::WriteFailed, encoder->errorString());
        }
        if (!encoder->writeRows(image.constScanLine(above), image.bytesPerLine(), bandHeight))
            return finish(outcome, PageOutcome::WriteFailed, encoder->errorString());
    }
    if (!encoder->finish())
        return finish(outcome, PageOutcome::WriteFailed, encoder->errorString());
    if (stopSet(stop))
        return finish(outcome, PageOutcome::Stopped);
    if (!file.commit())
        return finish(outcome, PageOutcome::WriteFailed, file.errorString());
    return finish(outcome, PageOutcome::Written);
}

} // namespace

PageOutcome convertPage(const Poppler::Document *document, const PageJob &job, const std::atomic<bool> &stop)
{
    PageOutcome outcome;
    outcome.page = job.pageIndex;
    outcome.outputPath = job.outputPath;
    if (stopSet(stop))
        return finish(outcome, PageOutcome::Stopped);
    const PageRenderer page(document, job.pageIndex);
    if (!page.exists())
        return finish(outcome, PageOutcome::NoPage, QStringLiteral("no such page"));
    if (!checkSize(page, job, outcome))
        return outcome;
    return renderAndWrite(page, job, stop, outcome);
}
