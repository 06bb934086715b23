#include "engine/pdftoppmsize.h"

#include <charconv>
#include <cmath>
#include <utility>
#include <system_error>

namespace {

// A side as the PDF gives it. A renderer that keeps boxes in single precision
// hands back 1195.68 as 1195.6800537; its shortest decimal gives the number
// the PDF wrote, which is what pdftoppm computes with.
double pdfLength(double length)
{
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, float(length));
    double value = length;
    if (written.ec == std::errc())
        std::from_chars(text, written.ptr, value);
    return value;
}

// pdftoppm keeps a page's size in pixels in single precision before it takes
// the ceiling: 792 * (150 / 72.0) is a hair above 1650 in double precision,
// exactly 1650 in single.
int ceilOfFloat(double pixels)
{
    return int(std::ceil(float(pixels)));
}

} // namespace

PdftoppmPage pdftoppmPage(const PdftoppmSizing &sizing, const QSizeF &points, bool quarterTurned)
{
    PdftoppmPage page;
    // The box before its turn.
    const double pageWidth = pdfLength(quarterTurned ? points.height() : points.width());
    const double pageHeight = pdfLength(quarterTurned ? points.width() : points.height());
    double xResolution = sizing.xResolution;
    double yResolution = sizing.yResolution;
    if (sizing.scaleTo != 0) {
        xResolution = yResolution = (72.0 * sizing.scaleTo) / (pageWidth > pageHeight ? pageWidth : pageHeight);
    } else {
        if (sizing.scaleToX > 0) {
            xResolution = (72.0 * sizing.scaleToX) / pageWidth;
            if (sizing.scaleToY == -1)
                yResolution = xResolution;
        }
        if (sizing.scaleToY > 0) {
            yResolution = (72.0 * sizing.scaleToY) / pageHeight;
            if (sizing.scaleToX == -1)
                xResolution = yResolution;
        }
    }
    float width = float(pageWidth * (xResolution / 72.0));
    float height = float(pageHeight * (yResolution / 72.0));
    if (quarterTurned) {
        // The image's sides follow the box's, across and down as drawn, and
        // so do the resolutions the page is drawn at.
        std::swap(width, height);
        std::swap(xResolution, yResolution);
    }
    int w = sizing.width > 0 ? sizing.width : ceilOfFloat(width);
    int h = sizing.height > 0 ? sizing.height : ceilOfFloat(height);
    if (sizing.x + w > width)
        w = ceilOfFloat(width - sizing.x);
    if (sizing.y + h > height)
        h = ceilOfFloat(height - sizing.y);
    // An area that starts past the page's edge: pdftoppm writes one pixel.
    if (w < 1 || h < 1)
        return {xResolution, yResolution, QRect(0, 0, 1, 1)};
    page.xResolution = xResolution;
    page.yResolution = yResolution;
    page.region = QRect(sizing.x, sizing.y, w, h);
    return page;
}
