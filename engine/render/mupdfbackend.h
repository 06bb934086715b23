#ifndef MUPDFBACKEND_H
#define MUPDFBACKEND_H

#include "engine/render/rendererbackend.h"

// MuPDF, in the module velloran-mupdf (mupdfrenderer.cpp, with MuPDF linked
// into it): every page box, CMYK, and each of the other options. Opens PDF
// files only, as Poppler does. Its contexts are made for threads, so it needs
// nothing of the process; built with VELLORAN_MUPDF, else known by name only.
extern const RendererBackEnd muPdfBackEnd;

// The resource store (fonts, decoded images) that every MuPDF document of the
// process shares; a run sets it aside from its memory budget (cacheBytes).
constexpr qint64 muPdfStoreBytes = qint64(96) << 20;

#endif // MUPDFBACKEND_H
