#ifndef POPPLERRENDERER_H
#define POPPLERRENDERER_H

#include "engine/render/renderer.h"

// Poppler behind the renderer interface: the drawing the window does, so that
// the same settings give the same bytes from the window and the command line.
RenderOpenResult openWithPoppler(const QString &path, const QByteArray &password, bool withoutPaper);

#endif // POPPLERRENDERER_H
