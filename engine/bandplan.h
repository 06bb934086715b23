#ifndef BANDPLAN_H
#define BANDPLAN_H

#include <QtGlobal>

// Band budget: a page whose 32-bit bitmap is larger is drawn in horizontal bands.
constexpr qint64 defaultBandBudget = qint64(64) << 20;

// Rows drawn above and below each band and thrown away: Splash's
// antialiasing treats the edge rows of a drawing region differently (a
// shape's edge pixel there comes out lighter), so each band is drawn with a
// margin and only its inside is kept.
constexpr int bandMargin = 2;

// Splash allocates a bitmap in one piece, and not one of 2 GiB or more; a
// page wider than a band of one row (with its margins) can hold cannot be drawn.
constexpr qint64 maxBandBitmapBytes = (qint64(1) << 31) - 1;
bool bandsCanHold(int width);

// Rows per band for a page of width x height pixels: the whole height when its
// bitmap fits in the budget, otherwise as many rows as fit (at least one).
// Bands are kept as tall as possible, as every band edge is a place where
// Poppler may place a hairline a row apart from a whole-page drawing.
int bandRows(int width, int height, qint64 budgetBytes);

// Bytes of the 32-bit bitmap of one band.
qint64 bandBytes(int width, int rows);

// The threads that may draw bands of one page when pagesLeft pages remain
// for threads in all: fewer pages than threads leaves some without a page
// of their own, and they draw bands of the last ones (engine/parallelbands).
inline int bandThreadShare(int threads, int pagesLeft)
{
    return qMax(1, threads / qMax(1, pagesLeft));
}

#endif // BANDPLAN_H
