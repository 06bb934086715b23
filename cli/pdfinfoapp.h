#ifndef PDFINFOAPP_H
#define PDFINFOAPP_H

#include <QStringList>

// The program run under the name pdfinfo (its installed link in
// libexec/velloran/poppler-compat/): pdfinfo 22.12's fields, in its order and
// format, for `pdfinfo FILE` (FILE "-": standard input) with -f, -l, -box,
// -isodates, -rawdates, -opw and -upw, read by a worker. Returns the exit
// status as pdfinfo does: 0, 1 (a file that cannot be opened or read, a wrong
// password), 99 (a bad argument or page range).
int runPdfinfo(const QStringList &arguments);

#endif // PDFINFOAPP_H
