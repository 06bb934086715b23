#ifndef POPPLERRENDERER_H
#define POPPLERRENDERER_H

#include "engine/render/renderer.h"

// Poppler behind the renderer interface: the drawing the window does, so that
// the same settings give the same bytes from the window and the command line.
// The crop box only, in RGB: the options that renderOptionsRefused() accepts.
RenderOpenResult openWithPoppler(const QString &path, const QByteArray &password, const RenderOptions &options);

#endif // POPPLERRENDERER_H
