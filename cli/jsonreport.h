#ifndef JSONREPORT_H
#define JSONREPORT_H

#include "cli/batchjob.h"
#include "runner/conversionsummary.h"

#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <cstdio>

// The machine-readable report of a command-line run: one JSON object a line,
// one per page (file, page, output, status, error, milliseconds,
// redone_because, renderer, warnings: count, errors, first), one per refused input (file, status "refused", error),
// then one summary object that names the command's inputs. Each line is
// flushed as it is written, so that a job system can follow a long run.
class JsonReport
{
public:
    explicit JsonReport(FILE *stream);

    // error: the reason a page failed, as the converter says it; empty when written or skipped.
    void page(const QString &pdfPath, const PageOutcome &outcome, const QString &error);
    void refused(const RefusedFile &file);
    // renderer: the library that drew the pages ("mupdf" or "poppler").
    void summary(const ConversionSummary &summary, int pageCount, int refusedCount, const QStringList &files,
                 int exitStatus, const QString &renderer);

    // Whether some line could not be written whole (a full disk, a closed
    // pipe): the report is not to be trusted, and the exit status says so.
    bool lost() const { return failed; }
    QString lostBecause() const { return reason; }

private:
    void writeLine(const QJsonObject &object);

    FILE *stream;
    QElapsedTimer sinceStart;
    bool failed = false;
    QString reason; // the system's word for the first failure
};

#endif // JSONREPORT_H
