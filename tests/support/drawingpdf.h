#ifndef DRAWINGPDF_H
#define DRAWINGPDF_H

#include <QSizeF>
#include <QString>

// A one-page PDF that looks like a technical drawing: text at several sizes,
// hairlines, thick and diagonal strokes, filled shapes, a gradient and
// pathCount random curves (thousands make a page that takes seconds to draw
// at a high resolution). The same arguments always give the same page;
// pageCount pages are copies of it.
bool makeDrawingPdf(const QString &path, int pathCount, const QSizeF &pageSize = QSizeF(595, 842),
                    int pageCount = 1);

// One page filled with pure red on the left half and pure blue on the right,
// to catch swapped colour channels.
bool makeRedBluePdf(const QString &path, const QSizeF &pageSize = QSizeF(200, 100));

// One page that changes from top to bottom and from left to right: gradients
// both ways, a block of its own colour in each corner, hairlines and thin
// stripes every 16 points (band edges at 72 dpi), and half-transparent shapes
// that leave soft edges and partly covered pixels. Made to be compared pixel
// for pixel, where a shifted row or a swapped channel shows.
bool makeTestCardPdf(const QString &path, const QSizeF &pageSize = QSizeF(240, 160));

#endif // DRAWINGPDF_H
