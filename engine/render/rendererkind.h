#ifndef RENDERERKIND_H
#define RENDERERKIND_H

// The back-ends that draw pages, in the order of preference: the first one
// built in is the default. Each lives in its own files beside this one and
// describes itself (name, what it can draw, how it opens a document) in a
// RendererBackEnd; rendererbackend.cpp lists them.
enum class RendererKind {
    MuPdf,
    Poppler
};

#endif // RENDERERKIND_H
