#ifndef POPPLERRENDERER_H
#define POPPLERRENDERER_H

#include "engine/render/documentinfo.h"

#include <QByteArray>
#include <QString>

// Inside the module velloran-poppler only (popplerrenderer.cpp draws,
// popplerinfo.cpp reads what pdfinfo prints); the program reaches it through
// backendmodule.h.

// While one lives, what Poppler reports goes to standard error in Poppler's
// own words ("Syntax Error: ..."), as its command-line tools print it, and
// Poppler is set up for the process; afterwards reports go where they went.
class PopplerReportsPrinted
{
public:
    PopplerReportsPrinted();
    ~PopplerReportsPrinted();
    PopplerReportsPrinted(const PopplerReportsPrinted &) = delete;
    PopplerReportsPrinted &operator=(const PopplerReportsPrinted &) = delete;
};

// What the document says of itself, with Poppler's core parser.
PdfDocumentInfo readPopplerInfo(const QString &path, const QByteArray &password);

#endif // POPPLERRENDERER_H
