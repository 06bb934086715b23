#ifndef BACKENDMODULE_H
#define BACKENDMODULE_H

#include "engine/drawingnotes.h"
#include "engine/projectversion.h"
#include "engine/render/renderdocument.h"

// A back-end's drawing, as a shared module of its own (velloran-<name>.so,
// beside the worker) that a process loads the first time it opens a
// document with that back-end: a worker that draws with one library never
// loads the other, and only the module that draws with MuPDF carries it.
// The module and the program are built together from one tree; each says
// which build it is of, and a module of another is refused.

// What the program hands a module when it loads it: the one piece of the
// engine's state a module adds to (the notes of the page in hand; a module
// keeps no copy of the engine's own).
struct ModuleHost
{
    void (*note)(DrawingNotes::Severity severity, const QString &text);
};

// What a module gives the program. Members a library has no use for are null.
struct BackEndModule
{
    const char *build; // the build it is of: backEndModuleBuild
    RendererKind kind;
    RenderOpenResult (*open)(const QString &path, const QByteArray &password, const RenderOptions &options);
    // Keeps the library's store of fonts and decoded images to about bytes,
    // from the first document opened.
    void (*limitCache)(qint64 bytes);
    // What the library reports goes to the host's notes from now on.
    void (*keepReports)();
    // What a document says of itself, read by the back-end that judges files.
    PdfDocumentInfo (*readInfo)(const QString &path, const QByteArray &password);
};

// The project's version and the interface's own number: a module of
// another build may pass other types, so it is not loaded.
#define VELLORAN_BACKEND_MODULE_BUILD VELLORAN_VERSION "/1"

// The one symbol a module exports (its code is built with hidden symbols):
//   VELLORAN_BACKEND_MODULE const BackEndModule *velloranBackEndModule(const ModuleHost *host)
// It keeps host for the life of the process and gives its description of
// what it draws.
#define VELLORAN_BACKEND_MODULE extern "C" __attribute__((visibility("default")))
#define VELLORAN_BACKEND_MODULE_ENTRY "velloranBackEndModule"
using BackEndModuleEntry = const BackEndModule *(*)(const ModuleHost *host);

// The module of a back-end, loaded on first use and kept for the life of the
// process; null when it cannot be loaded (rendererUnavailable() says why).
const BackEndModule *backEndModule(RendererKind kind);

#endif // BACKENDMODULE_H
