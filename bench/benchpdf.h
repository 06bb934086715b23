#ifndef BENCHPDF_H
#define BENCHPDF_H

#include <QString>

// Writes an A4 document of the given length whose pages look like a report:
// headings, body text, a table, line art and a photo-like picture.
bool makeBenchPdf(const QString &path, int pageCount);

#endif // BENCHPDF_H
