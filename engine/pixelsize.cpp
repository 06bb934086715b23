#include "engine/pixelsize.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

PixelSize pixelSizeAt(const QSizeF &points, double dpi, bool roundUp)
{
    PixelSize size;
    size.exactWidth = points.width() * dpi / 72.0;
    size.exactHeight = points.height() * dpi / 72.0;
    const double w = roundUp ? std::ceil(size.exactWidth) : std::floor(size.exactWidth + 0.5);
    const double h = roundUp ? std::ceil(size.exactHeight) : std::floor(size.exactHeight + 0.5);
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

double resolutionToFit(const QSizeF &points, int maxWidth, int maxHeight)
{
    constexpr double pointsPerInch = 72.0;
    double dpi = std::numeric_limits<double>::infinity();
    if (maxWidth > 0 && points.width() > 0)
        dpi = std::min(dpi, maxWidth * pointsPerInch / points.width());
    if (maxHeight > 0 && points.height() > 0)
        dpi = std::min(dpi, maxHeight * pointsPerInch / points.height());
    return std::isfinite(dpi) ? dpi : 0.0;
}

double resolutionForLongestSide(const QSizeF &points, int longestSide)
{
    const double longest = std::max(points.width(), points.height());
    return longest > 0 ? longestSide * 72.0 / longest : 0.0;
}

double previewResolution(const QSize &sizeAt72Dpi, const QSize &fitArea)
{
    constexpr double onePixelPerPoint = 72.0;
    const double bytes = double(sizeAt72Dpi.width()) * 4.0 * double(sizeAt72Dpi.height());
    if (bytes <= double(maxPreviewBitmapBytes) || fitArea.isEmpty())
        return onePixelPerPoint;
    const double scale = std::min(double(fitArea.width()) / sizeAt72Dpi.width(),
                                  double(fitArea.height()) / sizeAt72Dpi.height());
    return onePixelPerPoint * scale;
}
