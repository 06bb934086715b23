#ifndef PDFMAKER_H
#define PDFMAKER_H

#include <QList>
#include <QSizeF>
#include <QString>

// Writes a PDF with one page per size (in points, 1/72 inch). Each page shows
// its number in large type and a frame, so rendered pages are told apart.
bool makePdf(const QString &path, const QList<QSizeF> &pageSizes);

// n pages of A4 portrait (595 x 842 points).
bool makePdf(const QString &path, int pageCount);

inline const QSizeF a4Portrait(595, 842);
inline const QSizeF a4Landscape(842, 595);

#endif // PDFMAKER_H
