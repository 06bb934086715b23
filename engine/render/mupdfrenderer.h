#ifndef MUPDFRENDERER_H
#define MUPDFRENDERER_H

#include "engine/render/rendererbackend.h"

// MuPDF behind the renderer interface, used the way its own tools use it: one
// context per document, cloned from a process-wide base context that holds
// the locks and the shared resource store; every call that may throw is made
// inside a small function of plain C variables, since MuPDF's errors are
// longjmps that would skip C++ destructors.

// The resource store (fonts, decoded images) that every MuPDF document of the
// process shares; a run sets it aside from its memory budget (cacheBytes).
constexpr qint64 muPdfStoreBytes = qint64(96) << 20;
// A smaller store, for a process under a memory ceiling; read when the first
// document is opened. 0: muPdfStoreBytes.
void setMuPdfStoreLimit(qint64 bytes);

// Every page box, CMYK, and each of the other options. Opens PDF files only,
// as Poppler does: MuPDF's other formats (XPS, EPUB, images) are refused like
// any file that is not a PDF.
extern const RendererBackEnd muPdfBackEnd;

#endif // MUPDFRENDERER_H
