#ifndef DRAWINGPDF_H
#define DRAWINGPDF_H

#include <QSizeF>
#include <QString>

// A one-page PDF that looks like a technical drawing: text at several sizes,
// hairlines, thick and diagonal strokes, filled shapes, a gradient and
// pathCount random curves (thousands make a page that takes seconds to draw
// at a high resolution). The same arguments always give the same page.
bool makeDrawingPdf(const QString &path, int pathCount, const QSizeF &pageSize = QSizeF(595, 842));

// One page filled with pure red on the left half and pure blue on the right,
// to catch swapped colour channels.
bool makeRedBluePdf(const QString &path, const QSizeF &pageSize = QSizeF(200, 100));

#endif // DRAWINGPDF_H
