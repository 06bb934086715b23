#ifndef POPPLERRENDERER_H
#define POPPLERRENDERER_H

#include "engine/render/renderer.h"

// Poppler behind the renderer interface: the drawing the window does, so that
// the same settings give the same bytes from the window and the command line.
// The crop box only, in RGB: the options that renderOptionsRefused() accepts.
RenderOpenResult openWithPoppler(const QString &path, const QByteArray &password, const RenderOptions &options);

// From now on what Poppler reports (its error callback, process-wide) is kept
// with the page being drawn (engine/drawingnotes) instead of going to qDebug.
// For a worker process, whose one task at a time owns whatever is reported.
void keepPopplerReports();

#endif // POPPLERRENDERER_H
