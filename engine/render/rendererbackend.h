#ifndef RENDERERBACKEND_H
#define RENDERERBACKEND_H

#include "engine/render/renderer.h"

#include <QList>

// How a back-end describes itself to the renderer interface: each one's own
// file defines its RendererBackEnd, and rendererBackEnds() lists them. A new
// back-end is a new file and a line in that list; nothing else decides what
// a library can do.

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

using OpenForRendering = RenderOpenResult (*)(const QString &path, const QByteArray &password,
                                              const RenderOptions &options);

struct RendererBackEnd
{
    RendererKind kind;
    const char *name;   // as --renderer and the JSON summary have it
    const char *drawer; // what draws, as refusals name it
    RendererAbilities can;
    qint64 cacheBytes;  // what the library keeps across pages (rendererCacheBytes())
    // Null for a back-end left out of this build: it is known by name only,
    // so that asking for it says so rather than that no such thing exists.
    OpenForRendering open;
};

// Every back-end the program knows, in the order of preference.
const QList<const RendererBackEnd *> &rendererBackEnds();

// Why backEnd cannot honour options, or an empty string: the first option it
// lacks (the box, CMYK, anti-aliasing off, annotations off, alpha, in that
// order), the first of others built in that has it, and what backEnd does instead.
QString renderOptionsRefusedBy(const RendererBackEnd &backEnd, const RenderOptions &options,
                               const QList<const RendererBackEnd *> &others);

#endif // RENDERERBACKEND_H
