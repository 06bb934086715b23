#include "support/readback.h"

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QStringList>

#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <jpeglib.h>

DecodedImage readPng(const QString &path)
{
    DecodedImage decoded;
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, QFile::encodeName(path).constData())) {
        decoded.error = QString::fromLatin1(image.message);
        return decoded;
    }
    // 8-bit to 8-bit in the same channels, with no colour profile in the
    // file, is passed through untouched; 1-bit gray comes out as 0 and 255.
    const bool alpha = image.format & PNG_FORMAT_FLAG_ALPHA;
    const bool colour = image.format & PNG_FORMAT_FLAG_COLOR;
    image.format = alpha ? PNG_FORMAT_RGBA : colour ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
    decoded.width = int(image.width);
    decoded.height = int(image.height);
    decoded.channels = int(PNG_IMAGE_PIXEL_CHANNELS(image.format));
    decoded.samples.resize(qsizetype(PNG_IMAGE_SIZE(image)));
    if (!png_image_finish_read(&image, nullptr, decoded.samples.data(), 0, nullptr))
        decoded.error = QString::fromLatin1(image.message);
    png_image_free(&image);
    return decoded;
}

DecodedImage readBmp(const QString &path)
{
    DecodedImage decoded;
    QImageReader reader(path, "bmp");
    const QImage image = reader.read();
    if (image.isNull()) {
        decoded.error = reader.errorString();
        return decoded;
    }
    decoded.width = image.width();
    decoded.height = image.height();
    decoded.channels = image.depth() <= 8 ? 1 : 3; // a palette holds gray levels only, in our files
    decoded.samples.resize(qsizetype(decoded.width) * decoded.height * decoded.channels);
    auto *to = reinterpret_cast<uchar *>(decoded.samples.data());
    for (int y = 0; y < decoded.height; ++y) {
        for (int x = 0; x < decoded.width; ++x) {
            const QRgb pixel = image.pixel(x, y);
            *to++ = uchar(qRed(pixel));
            if (decoded.channels == 3) {
                *to++ = uchar(qGreen(pixel));
                *to++ = uchar(qBlue(pixel));
            }
        }
    }
    return decoded;
}

namespace {

struct TiffCloser
{
    void operator()(TIFF *tif) const { TIFFClose(tif); }
};
using TiffFile = std::unique_ptr<TIFF, TiffCloser>;

TiffFile openTiff(const QString &path, QString *error)
{
    TiffFile tif(TIFFOpen(QFile::encodeName(path).constData(), "r"));
    if (!tif)
        *error = QStringLiteral("libtiff cannot open %1").arg(path);
    return tif;
}

} // namespace

DecodedImage readTiff(const QString &path, int directory)
{
    DecodedImage decoded;
    const TiffFile tif = openTiff(path, &decoded.error);
    if (!tif)
        return decoded;
    if (!TIFFSetDirectory(tif.get(), tdir_t(directory))) {
        decoded.error = QStringLiteral("no directory %1").arg(directory);
        return decoded;
    }
    uint32_t width = 0, height = 0;
    uint16_t bits = 0, samples = 0, photometric = 0;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric);
    if ((bits != 8 && !(bits == 1 && samples == 1)) || (samples != 1 && samples != 3 && samples != 4)) {
        decoded.error = QStringLiteral("%1 bits and %2 samples a pixel").arg(bits).arg(samples);
        return decoded;
    }
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_COMPRESSION, &compression);
    if (compression == COMPRESSION_JPEG && photometric == PHOTOMETRIC_YCBCR)
        TIFFSetField(tif.get(), TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB); // libjpeg turns it back into RGB
    decoded.width = int(width);
    decoded.height = int(height);
    decoded.channels = samples;
    decoded.samples.resize(qsizetype(width) * height * samples);
    QByteArray line(qsizetype(TIFFScanlineSize(tif.get())), '\0');
    auto *to = reinterpret_cast<uchar *>(decoded.samples.data());
    for (uint32_t y = 0; y < height; ++y) {
        if (TIFFReadScanline(tif.get(), line.data(), y, 0) < 0) {
            decoded.error = QStringLiteral("libtiff cannot read row %1").arg(y);
            return decoded;
        }
        const auto *from = reinterpret_cast<const uchar *>(line.constData());
        if (bits == 8) {
            std::copy(from, from + qsizetype(width) * samples, to);
            to += qsizetype(width) * samples;
            continue;
        }
        const uchar white = photometric == PHOTOMETRIC_MINISWHITE ? 0 : 1;
        for (uint32_t x = 0; x < width; ++x)
            *to++ = ((from[x / 8] >> (7 - x % 8)) & 1) == white ? 255 : 0;
    }
    return decoded;
}

QList<TiffPage> tiffPages(const QString &path, QString *error)
{
    QList<TiffPage> pages;
    const TiffFile tif = openTiff(path, error);
    if (!tif)
        return pages;
    do {
        TiffPage page;
        uint32_t width = 0, height = 0, subfileType = 0;
        uint16_t bits = 0, number = 0, count = 0;
        TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
        TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
        if (TIFFGetField(tif.get(), TIFFTAG_PAGENUMBER, &number, &count)) {
            page.page = number;
            page.pages = count;
        }
        TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SUBFILETYPE, &subfileType);
        page.width = int(width);
        page.height = int(height);
        page.bitsPerSample = bits;
        page.isPage = subfileType == FILETYPE_PAGE;
        pages.append(page);
    } while (TIFFReadDirectory(tif.get()));
    return pages;
}

QString imageDifferences(const DecodedImage &actual, const DecodedImage &expected)
{
    if (!actual.error.isEmpty())
        return actual.error;
    if (actual.width != expected.width || actual.height != expected.height || actual.channels != expected.channels) {
        return QStringLiteral("%1 x %2 pixels of %3 channels, expected %4 x %5 of %6")
            .arg(actual.width).arg(actual.height).arg(actual.channels)
            .arg(expected.width).arg(expected.height).arg(expected.channels);
    }
    const int n = actual.channels;
    const auto pixelText = [n](const uchar *at) {
        return QByteArray(reinterpret_cast<const char *>(at), n).toHex(' ');
    };
    QStringList rows;
    int rowsDiffering = 0;
    for (int y = 0; y < actual.height; ++y) {
        const uchar *a = actual.row(y);
        const uchar *b = expected.row(y);
        int count = 0, first = -1, last = -1;
        for (int x = 0; x < actual.width; ++x) {
            if (std::equal(a + qsizetype(x) * n, a + qsizetype(x) * n + n, b + qsizetype(x) * n))
                continue;
            ++count;
            last = x;
            if (first < 0)
                first = x;
        }
        if (count == 0)
            continue;
        if (++rowsDiffering <= 8) {
            rows << QStringLiteral("row %1: %2 px in %3-%4 (%5, expected %6)")
                        .arg(y).arg(count).arg(first).arg(last)
                        .arg(QString::fromLatin1(pixelText(a + qsizetype(first) * n)),
                             QString::fromLatin1(pixelText(b + qsizetype(first) * n)));
        }
    }
    if (rowsDiffering == 0)
        return QString();
    return QStringLiteral("%1 of %2 rows differ; %3").arg(rowsDiffering).arg(actual.height).arg(rows.join(QStringLiteral("; ")));
}

namespace {

struct JpegReader
{
    jpeg_decompress_struct cinfo{};
    struct Error
    {
        jpeg_error_mgr manager;
        std::jmp_buf jump;
    } error{};

    JpegReader()
    {
        cinfo.err = jpeg_std_error(&error.manager);
        error.manager.error_exit = [](j_common_ptr common) {
            std::longjmp(reinterpret_cast<Error *>(common->err)->jump, 1);
        };
        jpeg_create_decompress(&cinfo);
    }
    ~JpegReader() { jpeg_destroy_decompress(&cinfo); }
};

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// libjpeg leaves the longjmp'd-over frames alone: everything here is plain data.
DecodedImage decodeJpeg(const QByteArray &bytes, QString *storage)
{
    DecodedImage decoded;
    JpegReader reader;
    jpeg_decompress_struct &cinfo = reader.cinfo;
    if (setjmp(reader.error.jump)) {
        decoded.error = QStringLiteral("libjpeg cannot read the file");
        return decoded;
    }
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char *>(bytes.constData()), (unsigned long)bytes.size());
    jpeg_read_header(&cinfo, TRUE);
    if (storage) {
        *storage = QStringLiteral("jpeg ") + (cinfo.progressive_mode ? QStringLiteral("progressive") : QStringLiteral("baseline"));
        for (int c = 0; c < cinfo.num_components; ++c)
            *storage += QStringLiteral(" %1x%2").arg(cinfo.comp_info[c].h_samp_factor).arg(cinfo.comp_info[c].v_samp_factor);
        if (cinfo.jpeg_color_space == JCS_CMYK)
            *storage += QStringLiteral(" cmyk");
        if (cinfo.saw_Adobe_marker)
            *storage += QStringLiteral(" adobe");
        return decoded;
    }
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = cinfo.num_components == 1 ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_start_decompress(&cinfo);
    decoded.width = int(cinfo.output_width);
    decoded.height = int(cinfo.output_height);
    decoded.channels = cinfo.output_components;
    decoded.samples.resize(qsizetype(decoded.width) * decoded.height * decoded.channels);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = reinterpret_cast<JSAMPROW>(decoded.samples.data())
                       + qsizetype(cinfo.output_scanline) * decoded.width * decoded.channels;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    // Files with Adobe's marker hold CMYK inverted, as Adobe's programs write it.
    if (cmyk && cinfo.saw_Adobe_marker) {
        for (char &sample : decoded.samples)
            sample = char(255 - uchar(sample));
    }
    return decoded;
}

} // namespace

DecodedImage readJpeg(const QByteArray &bytes)
{
    return decodeJpeg(bytes, nullptr);
}

DecodedImage readJpeg(const QString &path)
{
    return decodeJpeg(fileBytes(path), nullptr);
}

QString storageText(const QString &path)
{
    if (path.endsWith(QLatin1String(".jpg"))) {
        QString storage;
        const DecodedImage failed = decodeJpeg(fileBytes(path), &storage);
        return failed.error.isEmpty() ? storage : failed.error;
    }
    QString error;
    const TiffFile tif = openTiff(path, &error);
    if (!tif)
        return error;
    QStringList directories;
    do {
        uint16_t compression = 0, predictor = 0, photometric = 0, samples = 0;
        TIFFGetFieldDefaulted(tif.get(), TIFFTAG_COMPRESSION, &compression);
        TIFFGetField(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric);
        TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
        QString text = QStringLiteral("tiff compression %1").arg(compression);
        // Only the codecs that have a predictor know the tag.
        if (compression == COMPRESSION_LZW || compression == COMPRESSION_ADOBE_DEFLATE) {
            TIFFGetFieldDefaulted(tif.get(), TIFFTAG_PREDICTOR, &predictor);
            text += QStringLiteral(" predictor %1").arg(predictor);
        }
        text += QStringLiteral(" photometric %1 samples %2").arg(photometric).arg(samples);
        uint16_t inkSet = 0;
        if (photometric == PHOTOMETRIC_SEPARATED && TIFFGetField(tif.get(), TIFFTAG_INKSET, &inkSet))
            text += QStringLiteral(" inkset %1").arg(inkSet);
        directories << text;
    } while (TIFFReadDirectory(tif.get()));
    return directories.join(QStringLiteral("; "));
}

double meanDifference(const DecodedImage &a, const DecodedImage &b)
{
    if (!a.error.isEmpty() || !b.error.isEmpty() || a.width != b.width || a.height != b.height
        || a.channels != b.channels || a.samples.isEmpty())
        return -1;
    qint64 total = 0;
    for (qsizetype i = 0; i < a.samples.size(); ++i)
        total += std::abs(int(uchar(a.samples.at(i))) - int(uchar(b.samples.at(i))));
    return double(total) / double(a.samples.size());
}
