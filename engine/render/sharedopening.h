#ifndef SHAREDOPENING_H
#define SHAREDOPENING_H

#include "engine/render/renderdocument.h"

#include <QDeadlineTimer>

#include <atomic>
#include <memory>

// Documents for a process that draws on several threads, opened as each
// back-end's description asks (RendererNeeds): one that keeps process-wide
// state opens and closes its documents one thread at a time, under one lock
// of the process; one whose first drawing sets something up without a lock
// is warmed up before the threads start.

// A document opened as its back-end asks; it must be closed through closeShared().
RenderOpenResult openShared(RendererKind kind, const QString &path, const QByteArray &password,
                            const RenderOptions &options);
void closeShared(RenderOpenResult &opened);

// A copy of the document for one more thread drawing bands of a page, opened
// and, when it goes, closed as its back-end asks; null when it cannot be opened.
std::unique_ptr<RenderDocument> openBandCopy(RendererKind kind, const QString &path, const QByteArray &password,
                                             const RenderOptions &options);

// For a back-end that asks to be warmed up before threads draw side by side:
// one pixel of the page drawn, once in the process. It obeys the stop flag and the time limit as
// the page itself does. Nothing for the others.
void prepareForThreads(RendererKind kind, const QString &path, const QByteArray &password, int pageIndex,
                       const std::atomic<bool> &stop, qint64 timeLimitMs);

#endif // SHAREDOPENING_H
