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
    // The page's sides in pixels: in single precision, but under -scale-to
    // the longer side is the number given and the shorter is kept in double
    // precision, as pdftoppm has them (300 x 500 points scaled to 300 is 181
    // pixels wide).
    double width = float(pageWidth * (xResolution / 72.0));
    double height = float(pageHeight * (yResolution / 72.0));
    if (sizing.scaleTo != 0) {
        width = pageWidth >= pageHeight ? sizing.scaleTo : pageWidth * (xResolution / 72.0);
        height = pageHeight > pageWidth ? sizing.scaleTo : pageHeight * (yResolution / 72.0);
    }
    if (quarterTurned) {
        // The image's sides follow the box's, across and down as drawn, and
        // so do the resolutions the page is drawn at.
        std::swap(width, height);
        std::swap(xResolution, yResolution);
    }
    const auto ceilOf = [&sizing](double pixels) {
        return sizing.scaleTo != 0 ? int(std::ceil(pixels)) : ceilOfFloat(pixels);
    };
    int w = sizing.width > 0 ? sizing.width : ceilOf(width);
    int h = sizing.height > 0 ? sizing.height : ceilOf(height);
    if (sizing.x + w > width)
        w = ceilOf(width - sizing.x);
    if (sizing.y + h > height)
        h = ceilOf(height - sizing.y);
    page.xResolution = xResolution;
    page.yResolution = yResolution;
    // An area that starts past the page's edge: pdftoppm draws the whole page
    // when a side comes out below zero (its sides then rounded to the
    // nearest), and a pixel across a side of zero.
    if (w < 0 || h < 0) {
        page.region = QRect(0, 0, int(std::floor(width + 0.5)), int(std::floor(height + 0.5)));
        return page;
    }
    page.region = QRect(sizing.x, sizing.y, qMax(w, 1), qMax(h, 1));
    return page;
}
