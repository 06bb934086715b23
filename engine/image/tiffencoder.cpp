#include "engine/image/tiffencoder.h"

#include "engine/image/pixelconvert.h"
#include "engine/image/tiffdevice.h"

#include <QIODevice>

#include <algorithm>
#include <tiffio.h>

namespace {

// Strips of about this many bytes: few enough tags, small enough buffers.
constexpr qint64 stripBytes = 256 * 1024;

uint16_t compressionTag(TiffCompression compression)
{
    switch (compression) {
    case TiffCompression::PackBits:
        return COMPRESSION_PACKBITS;
    case TiffCompression::Lzw:
        return COMPRESSION_LZW;
    case TiffCompression::Deflate:
        return COMPRESSION_ADOBE_DEFLATE;
    case TiffCompression::Jpeg:
        return COMPRESSION_JPEG;
    case TiffCompression::None:
        break;
    }
    return COMPRESSION_NONE;
}

} // namespace

TiffEncoder::~TiffEncoder()
{
    if (tif)
        TIFFClose(tif);
}

qint64 TiffEncoder::pixelBytes(int width, int height, PixelMode mode, TiffCompression compression)
{
    const qint64 raw = packedRowBytes(mode, width) * height;
    // LZW's codes reach 12 bits for every 8 of input that nothing repeats;
    // the others (and G4, which 1-bit pages use) grow less.
    return compression == TiffCompression::None || mode == PixelMode::Mono ? raw : raw + raw / 2;
}

bool TiffEncoder::needsBigTiff(int width, int height, PixelMode mode, TiffCompression compression)
{
    return needsBigTiff(pixelBytes(width, height, mode, compression));
}

bool TiffEncoder::needsBigTiff(qint64 pixelBytes)
{
    // Pixels plus the strip tables, with room to spare for the directories.
    const qint64 strips = pixelBytes / stripBytes + 1;
    return pixelBytes + strips * 8 + (1 << 20) > qint64(0xFFFFFFFFu);
}

void TiffEncoder::startMultiPage(int pageCount, bool bigTiff)
{
    pagesInFile = pageCount;
    bigTiffForAll = bigTiff;
}

bool TiffEncoder::fail(const QString &fallback)
{
    error = output.why(fallback);
    return false;
}

bool TiffEncoder::open(QIODevice *device, bool bigTiff)
{
    output.device = device;
    tif = openTiffOnDevice(output, bigTiff);
    return tif != nullptr;
}

bool TiffEncoder::begin(QIODevice *device, const EncodeSettings &settings)
{
    width = settings.width;
    mode = settings.mode;
    layout = settings.layout;
    nextRow = 0;
    if (!tif) {
        const bool bigTiff = pagesInFile > 0
                                 ? bigTiffForAll
                                 : needsBigTiff(settings.width, settings.height, mode, settings.options.tiffCompression);
        if (!open(device, bigTiff))
            return fail(QStringLiteral("cannot start the TIFF file"));
    }

    const qint64 rowBytes = packedRowBytes(mode, width);
    const float dpi = float(settings.resolution);
    const bool mono = mode == PixelMode::Mono;
    const bool cmyk = mode == PixelMode::Cmyk;
    const int samples = mode == PixelMode::Color ? 3 : mode == PixelMode::ColorAlpha || cmyk ? 4 : 1;
    const uint16_t compression = mono ? COMPRESSION_CCITTFAX4 : compressionTag(settings.options.tiffCompression);
    // Colour JPEG is stored as YCbCr, 2 x 2 subsampled, made by libjpeg from
    // the RGB rows; its strips hold whole rows of 16-row MCUs.
    const bool ycbcr = compression == COMPRESSION_JPEG && samples == 3;
    uint32_t rowsPerStrip = uint32_t(std::clamp<qint64>(stripBytes / rowBytes, 1, settings.height));
    if (compression == COMPRESSION_JPEG)
        rowsPerStrip = std::max<uint32_t>(16, rowsPerStrip / 16 * 16);
    bool tagsSet = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(settings.width))
                   && TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(settings.height))
                   && TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, mono ? 1 : 8)
                   && TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples)
                   && TIFFSetField(tif, TIFFTAG_COMPRESSION, compression)
                   && TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                                   ycbcr  ? PHOTOMETRIC_YCBCR
                                   : cmyk ? PHOTOMETRIC_SEPARATED
                                   : samples >= 3 ? PHOTOMETRIC_RGB
                                                  : PHOTOMETRIC_MINISBLACK)
                   && TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG)
                   && TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT)
                   && TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip)
                   && TIFFSetField(tif, TIFFTAG_XRESOLUTION, dpi) && TIFFSetField(tif, TIFFTAG_YRESOLUTION, dpi)
                   && TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    if (compression == COMPRESSION_LZW || compression == COMPRESSION_ADOBE_DEFLATE)
        tagsSet = tagsSet && TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    // Deflate's level from the quality as for PNG (the default 75 gives 3): on
    // rendered pages level 1 takes 0.6 of the time of libtiff's 6 for 5% more bytes.
    if (compression == COMPRESSION_ADOBE_DEFLATE)
        tagsSet = tagsSet && TIFFSetField(tif, TIFFTAG_ZIPQUALITY, 1 + (100 - qBound(1, settings.quality, 100)) * 8 / 99);
    if (compression == COMPRESSION_JPEG) {
        tagsSet = tagsSet && TIFFSetField(tif, TIFFTAG_JPEGQUALITY, settings.quality);
        if (ycbcr)
            tagsSet = tagsSet && TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    if (cmyk)
        tagsSet = tagsSet && TIFFSetField(tif, TIFFTAG_INKSET, INKSET_CMYK);
    if (mode == PixelMode::ColorAlpha) {
        const uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
        tagsSet = tagsSet && TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    if (pagesInFile > 0) {
        tagsSet = tagsSet && TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE)
                  && TIFFSetField(tif, TIFFTAG_PAGENUMBER, uint16_t(pagesBegun), uint16_t(pagesInFile));
    }
    ++pagesBegun;
    if (!tagsSet)
        return fail(QStringLiteral("cannot set the TIFF tags"));
    rowBuffer.resize(qsizetype(rowBytes));
    return true;
}

bool TiffEncoder::writeRows(const uchar *rows, qsizetype bytesPerLine, int count)
{
    auto *buffer = reinterpret_cast<uchar *>(rowBuffer.data());
    for (int i = 0; i < count; ++i) {
        convertRow(mode, layout, rows + i * bytesPerLine, buffer, width);
        if (TIFFWriteScanline(tif, buffer, uint32_t(nextRow), 0) < 0)
            return fail(QStringLiteral("cannot write the TIFF rows"));
        ++nextRow;
    }
    return true;
}

bool TiffEncoder::finish()
{
    if (!TIFFWriteDirectory(tif))
        return fail(QStringLiteral("cannot finish the TIFF page"));
    return pagesInFile > 0 ? true : close();
}

bool TiffEncoder::close()
{
    if (!tif)
        return true;
    const bool flushed = TIFFFlush(tif);
    TIFFClose(tif);
    tif = nullptr;
    return flushed ? true : fail(QStringLiteral("cannot finish the TIFF file"));
}
