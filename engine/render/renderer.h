#ifndef RENDERER_H
#define RENDERER_H

#include "engine/render/pdfstatus.h"
#include "engine/render/rendererkind.h"

#include <QString>

#include <optional>

// The back-ends that draw pages, as the programs know them: by name, by what
// they can draw, by how a document is to be drawn. Nothing here draws or
// loads a library (the programs link none): drawing is the worker's, through
// renderdocument.h. Each back-end describes itself in its own files
// (rendererbackend.h), and what follows reads those descriptions.

QString rendererName(RendererKind kind);
std::optional<RendererKind> rendererForName(const QString &name);
// Whether the program was built with the back-end.
bool rendererBuiltIn(RendererKind kind);
// The first back-end built in, in the order of preference.
RendererKind defaultRenderer();
// Memory the library keeps for itself across pages (fonts, images it has
// decoded), to be set aside from a run's memory budget.
qint64 rendererCacheBytes(RendererKind kind);

// The page boxes a page may be drawn by. A missing bleed, trim or art box is
// the crop box, and every box is clipped to the media box, as PDF has it.
enum class PageBox {
    Media,
    Crop,
    Bleed,
    Trim,
    Art
};

QString pageBoxName(PageBox box);
std::optional<PageBox> pageBoxForName(const QString &name);

// How a document's pages are drawn, set when it is opened. The defaults are
// the window's drawing.
struct RenderOptions
{
    // Drawn on nothing: what a page leaves blank stays transparent, and pages
    // come as premultiplied ARGB. The one place alpha is asked for.
    bool withoutPaper = false;
    PageBox box = PageBox::Crop;
    bool antialias = true;     // text and vector edges
    bool annotations = true;   // comments, stamps, form fields
    bool cmyk = false;         // pixels as C, M, Y, K bytes
};

// Why the back-end cannot honour the options, worded from what it and the
// others built in can do (the command line's options name them); empty when
// it can.
QString renderOptionsRefused(RendererKind kind, const RenderOptions &options);

#endif // RENDERER_H
