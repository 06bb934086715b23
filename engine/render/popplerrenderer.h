#ifndef POPPLERRENDERER_H
#define POPPLERRENDERER_H

#include "engine/render/rendererbackend.h"

// Poppler behind the renderer interface, drawn through Poppler's core C++
// interface (PDFDoc and Splash, as its pdftoppm draws): each open document
// keeps its output devices across pages, so that its fonts are loaded once,
// and draws 3-byte RGB where the encoder takes it. The pixels are those
// Poppler's Qt interface draws with the window's render hints (popplerview.h
// keeps that drawing as the reference), so the same settings give the same
// bytes from the window and the command line. The crop box only, in RGB only.
extern const RendererBackEnd popplerBackEnd;

// From now on what Poppler reports (its error callback, process-wide) is kept
// with the page being drawn (engine/drawingnotes) instead of going to qDebug.
// For a worker process, whose one task at a time owns whatever is reported.
void keepPopplerReports();

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

// The pages a document's page tree holds, which for a linearized file may be
// fewer than its linearization dictionary claims (and Poppler's Qt interface
// counts); 0 when it does not open.
int popplerPagesInTree(const QString &path, const QByteArray &password);

#endif // POPPLERRENDERER_H
