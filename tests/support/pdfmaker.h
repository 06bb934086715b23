#ifndef PDFMAKER_H
#define PDFMAKER_H

#include <QByteArray>
#include <QList>
#include <QSizeF>
#include <QString>

// Writes a PDF with one page per size (in points, 1/72 inch). Each page shows
// its number in large type and a frame, so rendered pages are told apart.
bool makePdf(const QString &path, const QList<QSizeF> &pageSizes);

// n pages of A4 portrait (595 x 842 points).
bool makePdf(const QString &path, int pageCount);

// Writes a PDF of these objects, numbered from 1 in order (the first must be
// the catalog), with a cross-reference table and trailer: for pages that need
// PDF operators or entries QPdfWriter does not make. trailerEntries are added
// to the trailer (an /Info dictionary, say).
bool writePdfObjects(const QString &path, const QList<QByteArray> &objects, const QByteArray &version = "1.4",
                     const QByteArray &trailerEntries = QByteArray());

// One A4 page behind a linearization dictionary that claims claimedPages
// (/N), with the file's own length (/L), so that Poppler reads it as
// linearized, and no hint tables; its page tree holds the one page.
bool makeLinearizedPdf(const QString &path, qint64 claimedPages);

inline const QSizeF a4Portrait(595, 842);
inline const QSizeF a4Landscape(842, 595);

#endif // PDFMAKER_H
