#include "engine/bandplan.h"

#include <algorithm>

qint64 bandBytes(int width, int rows)
{
    return qint64(width) * 4 * qint64(rows);
}

int bandRows(int width, int height, qint64 budgetBytes)
{
    if (width < 1 || height < 1)
        return 0;
    if (bandBytes(width, height) <= budgetBytes)
        return height;
    const qint64 rows = budgetBytes / (qint64(width) * 4) - 2 * bandMargin;
    return int(std::clamp<qint64>(rows, 1, height));
}
