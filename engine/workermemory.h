#ifndef WORKERMEMORY_H
#define WORKERMEMORY_H

#include <QtGlobal>

// What a worker process's memory ceiling must leave room for: the programs
// check a ceiling they are given against it, the worker sizes its bitmaps
// from what is past it.

// The memory a worker holds besides its page's bitmaps and what its renderer
// decodes: its libraries and fonts (about 24 MiB resident), and room for a
// document's objects.
constexpr qint64 workerBaseBytes = qint64(40) << 20;

// The smallest ceiling under which an ordinary page (A4) is drawn at this
// resolution, images and all: its bitmap twice over (or bands of 64 MiB at
// most) and an image covering it at three bytes a pixel; in whole MiB, 64
// MiB at least.
qint64 smallestWorkerMemory(double resolution);

// The ceiling a worker gets unless told otherwise: the machine's memory
// shared among the workers of a run, 1 GiB at least; 0 when it cannot be read.
qint64 defaultWorkerMemory(int workers);

#endif // WORKERMEMORY_H
