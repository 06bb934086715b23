#ifndef POPPLERVIEW_H
#define POPPLERVIEW_H

#include "engine/render/renderdocument.h"

#include <memory>

namespace Poppler {
class Document;
}

// Pages drawn by Poppler's Qt interface itself (Page::renderToImage, which
// makes an output device for every page and draws 32-bit pixels): the
// reference that the Poppler back-end's bytes are held to, for the tests and
// the benchmarks. The programs draw through the back-end's module
// (popplerrenderer.cpp).

// A document the caller keeps open, drawn as its own render
// hints say, without paper when drawWithoutPaper() was asked for it.
std::unique_ptr<RenderDocument> popplerView(const Poppler::Document *document);

// The file opened through the Qt interface with the options set as its render
// hints, the way the Poppler back-end draws them.
RenderOpenResult openPopplerView(const QString &path, const QByteArray &password,
                                 const RenderOptions &options = RenderOptions());

#endif // POPPLERVIEW_H
