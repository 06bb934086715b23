#ifndef POPPLERBACKEND_H
#define POPPLERBACKEND_H

#include "engine/render/rendererbackend.h"

// Poppler, drawn through its core C++ interface (PDFDoc and Splash, as its
// pdftoppm draws) in the module velloran-poppler (popplerrenderer.cpp,
// popplerinfo.cpp). The crop box only, in RGB only; the pixels are those
// Poppler's Qt interface draws with the window's render hints, so the same
// settings give the same bytes from the window and the command line.
// Poppler judges which files are usable and draws the window's previews.
extern const RendererBackEnd popplerBackEnd;

#endif // POPPLERBACKEND_H
