#include "engine/workermemory.h"

#include "engine/bandplan.h"
#include "engine/pixelsize.h"

#include <QSizeF>

#include <unistd.h>

qint64 smallestWorkerMemory(double resolution)
{
    const double a4 = pixelSizeAt(QSizeF(595, 842), resolution).bitmapBytes();
    const qint64 bitmap = qint64(qMin(a4, double(defaultBandBudget)));
    constexpr qint64 mebibyte = qint64(1) << 20;
    // Two bitmaps' worth for the bands and the encoder, and an image covering
    // the page at three bytes a pixel, which no band makes smaller.
    const qint64 bytes = workerBaseBytes + 2 * bitmap + qint64(a4 / 4 * 3);
    return qMax(qint64(64) << 20, (bytes + mebibyte - 1) / mebibyte * mebibyte);
}

qint64 defaultWorkerMemory(int workers)
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0)
        return 0;
    return qMax(qint64(pages) * pageSize / qMax(1, workers), qint64(1) << 30);
}
