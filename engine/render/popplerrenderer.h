#ifndef POPPLERRENDERER_H
#define POPPLERRENDERER_H

#include "engine/render/rendererbackend.h"

#include <memory>

namespace Poppler {
class Document;
}

// Poppler behind the renderer interface: the drawing the window does, so that
// the same settings give the same bytes from the window and the command line.
// Its Qt interface draws the crop box only, in RGB only; neither is imitated
// from another drawing.
extern const RendererBackEnd popplerBackEnd;

// A Poppler document that the caller keeps open (the window's), seen through
// the interface: drawn as its own render hints say, without paper when
// drawWithoutPaper() was asked for it.
std::unique_ptr<RenderDocument> popplerView(const Poppler::Document *document);

// From now on what Poppler reports (its error callback, process-wide) is kept
// with the page being drawn (engine/drawingnotes) instead of going to qDebug.
// For a worker process, whose one task at a time owns whatever is reported.
void keepPopplerReports();

#endif // POPPLERRENDERER_H
