#ifndef SHAREDOPENING_H
#define SHAREDOPENING_H

#include "engine/render/renderer.h"

#include <QDeadlineTimer>

#include <atomic>
#include <memory>

// Opening and closing documents touches Poppler's process-wide state (its
// global parameters, set up with the first document, and what they cache for
// every document), so a program that draws on several threads opens and
// closes them one thread at a time, through these.

// A document opened under the lock; it must be closed through closeShared().
RenderOpenResult openShared(RendererKind kind, const QString &path, const QByteArray &password,
                            const RenderOptions &options);
void closeShared(RenderOpenResult &opened);

// A copy of the document for one more thread drawing bands of a page: opened
// and, when it goes, closed under the lock; null when it cannot be opened.
std::unique_ptr<RenderDocument> openBandCopy(RendererKind kind, const QString &path, const QByteArray &password,
                                             const RenderOptions &options);

// Poppler sets up a process-wide colour profile the first time any page is
// drawn, without a lock, so two threads drawing their first pages at once
// race on it. One pixel drawn before the threads start sets it up; it obeys
// the stop flag and the time limit as the page itself does. Nothing to do
// for MuPDF, whose contexts are made for threads.
void prepareForThreads(RendererKind kind, const QString &path, const QByteArray &password, int pageIndex,
                       const std::atomic<bool> &stop, qint64 timeLimitMs);

#endif // SHAREDOPENING_H
