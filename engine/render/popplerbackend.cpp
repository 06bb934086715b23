#include "engine/render/popplerbackend.h"

namespace {

// Splash allocates a bitmap in one piece, and not one of 2 GiB or more: a
// larger one comes back as a single pixel.
constexpr qint64 splashLargestBitmap = qint64(1) << 31;

} // namespace

const RendererBackEnd popplerBackEnd{
    RendererKind::Poppler,
    "poppler",
    "Poppler",
    RendererAbilities{boxBit(PageBox::Crop), false, true, true, true},
    0,
    "velloran-poppler.so",
    RendererNeeds{
        // Opening and closing a document touches Poppler's global parameters
        // and what they cache for every document.
        true,
        // Its colour profile is set up, without a lock, by the first page drawn.
        true,
        // Poppler decides which files are usable, whichever library draws,
        // so that refusals read the same.
        true,
        true,
        splashLargestBitmap,
    },
};
