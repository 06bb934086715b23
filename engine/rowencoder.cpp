#include "engine/rowencoder.h"

#include "engine/bmpencoder.h"
#include "engine/jpegencoder.h"
#include "engine/pngencoder.h"
#include "engine/tiffencoder.h"

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
    }
    return nullptr;
}

int dotsPerMetre(int dpi)
{
    const double dpm = std::floor(dpi / 0.0254 + 0.5);
    return dpm > INT_MAX ? INT_MAX : int(dpm);
}
