#include "engine/image/rowencoder.h"

#include "engine/image/bmpencoder.h"
#include "engine/image/jpegencoder.h"
#include "engine/image/pixelconvert.h"
#include "engine/image/pngencoder.h"
#include "engine/image/pnmencoder.h"
#include "engine/image/tiffencoder.h"
#include "engine/image/webpencoder.h"

#include <climits>
#include <cmath>

std::unique_ptr<RowEncoder> makeEncoder(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Jpeg:
        return std::make_unique<JpegEncoder>();
    case ImageFormat::Png:
        return std::make_unique<PngEncoder>();
    case ImageFormat::Bmp:
        return std::make_unique<BmpEncoder>();
    case ImageFormat::Tiff:
        return std::make_unique<TiffEncoder>();
    case ImageFormat::WebP:
        return std::make_unique<WebpEncoder>();
    case ImageFormat::Ppm:
    case ImageFormat::Pgm:
    case ImageFormat::Pbm:
        return std::make_unique<PnmEncoder>();
    }
    Q_UNREACHABLE();
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
