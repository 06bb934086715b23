#ifndef JSONREPORT_H
#define JSONREPORT_H

#include "cli/parallelconverter.h"

#include <QElapsedTimer>
#include <QString>

#include <cstdio>

// The machine-readable report of a command-line run: one JSON object a line,
// one per page (file, page, output, status, error, milliseconds), then one
// summary object. Each line is flushed as it is written, so that a job
// system can follow a long run.
class JsonReport
{
public:
    explicit JsonReport(FILE *stream);

    // error: the reason a page failed, as the converter says it; empty when written or skipped.
    void page(const QString &pdfPath, const PageOutcome &outcome, const QString &error);
    // renderer: the library that drew the pages ("mupdf" or "poppler").
    void summary(const ConversionSummary &summary, int pageCount, int exitStatus, const QString &renderer);

private:
    FILE *stream;
    QElapsedTimer sinceStart;
};

#endif // JSONREPORT_H
