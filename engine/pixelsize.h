#ifndef PIXELSIZE_H
#define PIXELSIZE_H

#include <QSize>
#include <QSizeF>

// A page's size in pixels at a resolution, computed in floating point so that
// absurd page boxes or resolutions cannot overflow.
struct PixelSize
{
    enum Status {
        Ok,
        BelowOnePixel, // a side rounds to no pixel at all
        BeyondInt      // a side needs more pixels than an int counts
    };

    Status status = BelowOnePixel;
    int width = 0;
    int height = 0;
    double exactWidth = 0;  // before rounding, for messages
    double exactHeight = 0;

    // In floating point: both sides may be near INT_MAX.
    double bitmapBytes() const { return double(width) * 4 * double(height); }
};

// Rounds as Poppler does when it lays a page out at the resolution; roundUp:
// the whole pixels that cover the page, as pdftoppm sizes its images.
PixelSize pixelSizeAt(const QSizeF &points, double dpi, bool roundUp = false);

// The resolution at which the page fits a box of maxWidth x maxHeight
// pixels, keeping its proportions; 0 for a side leaves it free.
double resolutionToFit(const QSizeF &points, int maxWidth, int maxHeight);

// The resolution at which the page's longer side is longestSide pixels.
double resolutionForLongestSide(const QSizeF &points, int longestSide);

// Resolution for the window's preview: 72 dpi, one pixel per point, unless
// that bitmap would pass maxPreviewBitmapBytes (a poster-sized page); then the
// resolution at which the page just fills fitArea, so no more is drawn than
// is shown.
constexpr qint64 maxPreviewBitmapBytes = qint64(64) << 20;
double previewResolution(const QSize &sizeAt72Dpi, const QSize &fitArea);

#endif // PIXELSIZE_H
