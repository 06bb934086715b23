#include "engine/image/rowencoder.h"

#include "engine/image/pixelconvert.h"

#include <climits>
#include <cmath>

std::unique_ptr<RowEncoder> makeEncoder(ImageFormat format)
{
    return formatFacts(format).makeEncoder();
}

int dotsPerMetre(double dpi)
{
    const double dpm = std::floor(dpi / 0.0254 + 0.5);
    return dpm > INT_MAX ? INT_MAX : int(dpm);
}

PixelLayout RowEncoder::layoutFor(PixelMode mode) const
{
    return packedLayout(mode);
}
