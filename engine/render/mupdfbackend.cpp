#include "engine/render/mupdfbackend.h"

namespace {

#ifdef VELLORAN_MUPDF
constexpr const char *module = "velloran-mupdf.so";
#else
constexpr const char *module = nullptr;
#endif

} // namespace

const RendererBackEnd muPdfBackEnd{RendererKind::MuPdf,
                                   "mupdf",
                                   "MuPDF",
                                   RendererAbilities{everyBox, true, true, true, true},
                                   muPdfStoreBytes,
                                   module,
                                   RendererNeeds()};
