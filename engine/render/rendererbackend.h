#ifndef RENDERERBACKEND_H
#define RENDERERBACKEND_H

#include "engine/render/renderer.h"

#include <QList>

// How a back-end describes itself: each one's own files define its
// RendererBackEnd, and rendererBackEnds() lists them. A description is plain
// data, read by the programs (names, what can be drawn, refusals) without
// loading any library; the drawing itself is the back-end's module, which a
// worker loads the first time it opens a document with it. What a library
// can do or needs is decided here and nowhere else; a new back-end is its
// files, its RendererKind, a line in that list and its module's lines in
// engine/CMakeLists.txt and the install rules.

constexpr unsigned boxBit(PageBox box)
{
    return 1u << unsigned(box);
}
constexpr unsigned everyBox = boxBit(PageBox::Media) | boxBit(PageBox::Crop) | boxBit(PageBox::Bleed)
                              | boxBit(PageBox::Trim) | boxBit(PageBox::Art);

// What a back-end honours of RenderOptions besides the defaults (the crop
// box, in RGB, anti-aliased, with annotations, on white paper).
struct RendererAbilities
{
    unsigned boxes = boxBit(PageBox::Crop); // boxBit() of each box it draws
    bool cmyk = false;
    bool antialiasOff = false;
    bool annotationsOff = false;
    bool alpha = false; // drawing without paper
};

// What the library asks of the process that draws with it, and the parts
// the program gives it beyond drawing pages.
struct RendererNeeds
{
    // Its documents are opened and closed one thread at a time, under one
    // lock of the process (process-wide state shared by every document).
    bool openOneAtATime = false;
    // Something process-wide is set up, without a lock, by the first page
    // drawn: one pixel is drawn before threads draw side by side.
    bool warmUpBeforeThreads = false;
    // It decides which files are usable, whichever library draws: its
    // opening gives a file's status and page count, and it reads what a
    // document says of itself (pdfinfo). Refusals then read the same with
    // any library.
    bool judgesFiles = false;
    // The window's previews are drawn with it, as the window has always
    // drawn them.
    bool drawsPreviews = false;
    // The largest bitmap it draws in one piece, in bytes; 0: none of its own.
    qint64 largestBitmap = 0;
};

struct RendererBackEnd
{
    RendererKind kind;
    const char *name;   // as --renderer and the JSON summary have it
    const char *drawer; // what draws, as refusals name it
    RendererAbilities can;
    qint64 cacheBytes;  // what the library keeps across pages (rendererCacheBytes())
    // The file of its module (backendmodule.h), beside the worker. Null for
    // a back-end left out of this build: it is known by name only, so that
    // asking for it says so rather than that no such thing exists.
    const char *module;
    RendererNeeds needs;
};

// Every back-end the program knows, in the order of preference.
const QList<const RendererBackEnd *> &rendererBackEnds();

// The back-end of that kind, and the one built in (null when it is not).
const RendererBackEnd *rendererBackEnd(RendererKind kind);
const RendererBackEnd *builtInBackEnd(RendererKind kind);

// The first back-end built in whose needs say it judges files, or draws the
// window's previews.
const RendererBackEnd &judgingBackEnd();
const RendererBackEnd &previewBackEnd();

// The most any back-end built in keeps across pages.
qint64 largestRendererCache();

// Why backEnd cannot honour options, or an empty string: the first option it
// lacks (the box, CMYK, anti-aliasing off, annotations off, alpha, in that
// order), the first of others built in that has it, and what backEnd does instead.
QString renderOptionsRefusedBy(const RendererBackEnd &backEnd, const RenderOptions &options,
                               const QList<const RendererBackEnd *> &others);

#endif // RENDERERBACKEND_H
