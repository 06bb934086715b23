#include "engine/bandplan.h"

#include <algorithm>

qint64 bandBytes(int width, int rows)
{
    return qint64(width) * 4 * qint64(rows);
}

bool bandsCanHold(int width)
{
    return bandBytes(width, 1 + 2 * bandMargin) <= maxBandBitmapBytes;
}

int bandRows(int width, int height, qint64 budgetBytes)
{
    if (width < 1 || height < 1)
        return 0;
    if (double(width) * 4 * double(height) <= double(budgetBytes))
        return height;
    const qint64 rows = budgetBytes / (qint64(width) * 4) - 2 * bandMargin;
    return int(std::clamp<qint64>(rows, 1, height));
}
