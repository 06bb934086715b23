#ifndef STANDARDOUTPUT_H
#define STANDARDOUTPUT_H

#include "engine/pageoutcome.h"
#include "engine/pagepipeline.h"

#include <atomic>

class RenderDocument;

// Converts one page through the page pipeline onto standard output (-o -),
// for a pipe. Nothing there can appear whole or not at all: a page that fails
// midway leaves what was written so far, and its outcome says it failed.
// BMP and TIFF go back to earlier bytes to finish (BMP's rows run bottom-up,
// TIFF's header points at its directory), so they are made in memory first.
PageOutcome convertPageToStandardOutput(const RenderDocument &document, const PageJob &job,
                                        const std::atomic<bool> &stop);

#endif // STANDARDOUTPUT_H
