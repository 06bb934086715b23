#include "engine/pdftoppmsize.h"

#include <charconv>
#include <climits>
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

// A side as Poppler's parser reads the PDF's number: the whole part, then
// each decimal digit added at its scale, a tenth smaller each time. That is
// not always the double nearest the decimal (25.92 comes out below it), and
// pdftocairo multiplies it in double precision, where the difference can
// carry a side across a whole pixel. The decimal is the shortest that gives
// the renderer's single-precision side back, as for pdfLength().
double popplerLength(double length)
{
    char text[64];
    const auto written = std::to_chars(text, text + sizeof text, float(length), std::chars_format::fixed);
    if (written.ec != std::errc())
        return length;
    const char *at = text;
    const bool negative = *at == '-';
    if (negative)
        ++at;
    double value = 0;
    for (; at < written.ptr && *at != '.'; ++at)
        value = value * 10 + (*at - '0');
    if (at < written.ptr)
        ++at;
    double scale = 0.1;
    for (; at < written.ptr; ++at) {
        value = value + scale * (*at - '0');
        scale *= 0.1;
    }
    return negative ? -value : value;
}

// The resolutions across and down: -r, -rx and -ry, or those that -scale-to,
// -scale-to-x and -scale-to-y give the page's box (-1 on one side: the
// other's), as pdftoppm and pdftocairo both work them out.
std::pair<double, double> scaledResolutions(const PdftoppmSizing &sizing, double pageWidth, double pageHeight)
{
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
    return {xResolution, yResolution};
}

// pdftocairo's (int)ceil(), kept within int for pages no image could hold.
int ceilToInt(double pixels)
{
    const double up = std::ceil(pixels);
    return up >= double(INT_MAX) ? INT_MAX : up <= double(INT_MIN) ? INT_MIN : int(up);
}

// pdftocairo: the page's box as drawn, scaled in double precision with the
// resolution first multiplied in, the area cut to the page's sides, and
// nothing changed when that leaves a side of zero or less.
PdftoppmPage pdftocairoPage(const PdftoppmSizing &sizing, const QSizeF &points)
{
    const double pageWidth = popplerLength(points.width());
    const double pageHeight = popplerLength(points.height());
    const auto [xResolution, yResolution] = scaledResolutions(sizing, pageWidth, pageHeight);
    const double width = pageWidth * xResolution / 72.0;
    const double height = pageHeight * yResolution / 72.0;
    int w = sizing.width != 0 ? sizing.width : ceilToInt(width);
    int h = sizing.height != 0 ? sizing.height : ceilToInt(height);
    if (sizing.x + double(w) > width)
        w = ceilToInt(width - sizing.x);
    if (sizing.y + double(h) > height)
        h = ceilToInt(height - sizing.y);
    PdftoppmPage page;
    page.xResolution = xResolution;
    page.yResolution = yResolution;
    page.region = QRect(sizing.x, sizing.y, w, h);
    return page;
}

} // namespace

PdftoppmPage pdftoppmPage(const PdftoppmSizing &sizing, const QSizeF &points, bool quarterTurned)
{
    if (sizing.rule == PdftoppmSizing::Rule::Pdftocairo)
        return pdftocairoPage(sizing, points);
    PdftoppmPage page;
    // The box before its turn.
    const double pageWidth = pdfLength(quarterTurned ? points.height() : points.width());
    const double pageHeight = pdfLength(quarterTurned ? points.width() : points.height());
    auto [xResolution, yResolution] = scaledResolutions(sizing, pageWidth, pageHeight);
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
