#include "engine/image/rowencoder.h"

#include "engine/image/bmpencoder.h"
#include "engine/image/jpegencoder.h"
#include "engine/image/pngencoder.h"
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
    }
    return nullptr;
}

bool formatStores(ImageFormat format, PixelMode mode)
{
    switch (mode) {
    case PixelMode::Color:
        return true;
    case PixelMode::Gray:
        return format != ImageFormat::WebP;
    case PixelMode::Mono:
        return format == ImageFormat::Png || format == ImageFormat::Bmp || format == ImageFormat::Tiff;
    case PixelMode::ColorAlpha:
        return format == ImageFormat::Png || format == ImageFormat::Tiff || format == ImageFormat::WebP;
    case PixelMode::Cmyk:
        return format == ImageFormat::Jpeg || format == ImageFormat::Tiff;
    }
    return false;
}

int dotsPerMetre(double dpi)
{
    const double dpm = std::floor(dpi / 0.0254 + 0.5);
    return dpm > INT_MAX ? INT_MAX : int(dpm);
}
