#ifndef DESCRIPTOROUTPUT_H
#define DESCRIPTOROUTPUT_H

#include "engine/pageoutcome.h"
#include "engine/pagepipeline.h"

#include <atomic>
#include <functional>

class RenderDocument;

// Converts one page through the page pipeline onto a descriptor its program
// gave the worker (its standard output, for -o -), as the rows come, for a
// pipe. Nothing there can appear whole or not at all: a page that fails
// midway, or whose worker dies, leaves what was written so far, and its
// outcome says it failed. BMP and TIFF go back to earlier bytes to finish
// (BMP's rows run bottom-up, TIFF's header points at its directory), so they
// are made in memory first.
//
// waitForTurn, when set, is asked before the first byte goes out: the
// descriptor is shared with other workers' pages, which come first. So that
// the pages draw side by side, a page is held in memory until it is whole or
// holds holdAtMost bytes, then waits for its turn and goes on as the rows
// come; rows handed on in one large piece (a netpbm page drawn whole) wait
// for the turn where they are instead of being copied. A page refused its
// turn is not written (Stopped).
using WaitForTurn = std::function<bool()>;
PageOutcome convertPageToDescriptor(const RenderDocument &document, const PageJob &job, int descriptor,
                                    const std::atomic<bool> &stop, const WaitForTurn &waitForTurn = {},
                                    qint64 holdAtMost = 0);

#endif // DESCRIPTOROUTPUT_H
