#ifndef PDFTOPPMSIZE_H
#define PDFTOPPMSIZE_H

#include <QRect>
#include <QSizeF>

// How pdftoppm sizes a page, for the scripts that call this program in its
// place and rely on its sizes to the pixel: its resolutions, -scale-to,
// -scale-to-x and -scale-to-y, and the area -x -y -W -H cut from the page.
// Its sides are the whole pixels that cover the page (rounded up, where the
// rest of the program rounds to the nearest), computed in its order of
// floating-point operations so that the same pages give the same sizes.
// pdftocairo reads the same options and sizes pages its own way (Rule).
struct PdftoppmSizing
{
    enum class Rule : quint8 {
        Pdftoppm,
        // pdftocairo's: the page turned first, then scaled (-scale-to-x is
        // the width as drawn), sides in double precision from the numbers as
        // Poppler's parser reads them, an area past the page's edge kept as
        // it comes (a side of zero or less: nothing to draw).
        Pdftocairo
    };
    bool active = false; // off: the program's own sizes
    Rule rule = Rule::Pdftoppm;
    double xResolution = 150;
    double yResolution = 150;
    int scaleTo = 0;  // the longer side in pixels; 0: not given
    int scaleToX = 0; // the width in pixels; 0: not given; -1: the height's resolution
    int scaleToY = 0;
    int x = 0; // the area's top left corner, in pixels of the page as drawn
    int y = 0;
    int width = 0; // 0: to the page's right edge
    int height = 0; // 0: to the page's bottom edge
};

// What those give for one page.
struct PdftoppmPage
{
    double xResolution = 0; // across the page as drawn
    double yResolution = 0; // down
    QRect region; // in pixels of the page at those resolutions: the image's size and place
};

// points: the page's box as drawn, with its rotation applied; quarterTurned:
// that rotation is 90 or 270 degrees. pdftoppm finds -scale-to-x's and
// -scale-to-y's resolutions from the box before the turn, and turns the
// image's sides after: a page turned a quarter and scaled to a width has
// that width as its height. pdftocairo scales the page as drawn. Under
// pdftocairo's rule the region may have a side of zero or less, which it
// cannot draw; the caller decides what such a page becomes.
PdftoppmPage pdftoppmPage(const PdftoppmSizing &sizing, const QSizeF &points, bool quarterTurned = false);

#endif // PDFTOPPMSIZE_H
