#include "engine/pixelsize.h"

#include <climits>
#include <cmath>

PixelSize pixelSizeAt(const QSizeF &points, double dpi)
{
    PixelSize size;
    size.exactWidth = points.width() * dpi / 72.0;
    size.exactHeight = points.height() * dpi / 72.0;
    const double w = std::floor(size.exactWidth + 0.5);
    const double h = std::floor(size.exactHeight + 0.5);
    // NaN fails every comparison, so it lands here as well.
    if (!(w >= 1 && h >= 1)) {
        size.status = PixelSize::BelowOnePixel;
        return size;
    }
    if (w > INT_MAX || h > INT_MAX) {
        size.status = PixelSize::BeyondInt;
        return size;
    }
    size.status = PixelSize::Ok;
    size.width = int(w);
    size.height = int(h);
    return size;
}
