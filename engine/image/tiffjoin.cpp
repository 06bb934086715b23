#include "engine/image/tiffjoin.h"

#include "engine/image/tiffdevice.h"
#include "engine/image/tiffencoder.h"
#include "engine/nativepath.h"

#include <QIODevice>

#include <limits>
#include <memory>
#include <sys/stat.h>
#include <tiffio.h>

namespace {

struct Closer
{
    void operator()(TIFF *tif) const { TIFFClose(tif); }
};
using TiffHandle = std::unique_ptr<TIFF, Closer>;

TiffHandle openPiece(const QString &path, QString *error)
{
    TIFFOpenOptions *options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, keepTiffError, error);
    TIFFOpenOptionsSetWarningHandlerExtR(options, dropTiffWarning, nullptr);
    TiffHandle tif(TIFFOpenExt(nativePath(path).constData(), "r", options));
    TIFFOpenOptionsFree(options);
    return tif;
}

template<typename T>
bool copyField(TIFF *in, TIFF *out, ttag_t tag)
{
    T value{};
    return !TIFFGetField(in, tag, &value) || TIFFSetField(out, tag, value);
}

// The tags that say how a page's strips are read, as the encoder writes them.
bool copyTags(TIFF *in, TIFF *out)
{
    bool copied = true;
    for (ttag_t tag : {TIFFTAG_IMAGEWIDTH, TIFFTAG_IMAGELENGTH, TIFFTAG_ROWSPERSTRIP})
        copied = copied && copyField<uint32_t>(in, out, tag);
    // Compression first: it brings the codec whose own tags follow.
    for (ttag_t tag : {TIFFTAG_COMPRESSION, TIFFTAG_BITSPERSAMPLE, TIFFTAG_SAMPLESPERPIXEL, TIFFTAG_PHOTOMETRIC,
                       TIFFTAG_PLANARCONFIG, TIFFTAG_ORIENTATION, TIFFTAG_RESOLUTIONUNIT, TIFFTAG_FILLORDER,
                       TIFFTAG_INKSET, TIFFTAG_PREDICTOR})
        copied = copied && copyField<uint16_t>(in, out, tag);
    for (ttag_t tag : {TIFFTAG_XRESOLUTION, TIFFTAG_YRESOLUTION})
        copied = copied && copyField<float>(in, out, tag);
    for (ttag_t tag : {TIFFTAG_T4OPTIONS, TIFFTAG_T6OPTIONS})
        copied = copied && copyField<uint32_t>(in, out, tag);
    uint16_t count = 0;
    uint16_t *extra = nullptr;
    if (TIFFGetField(in, TIFFTAG_EXTRASAMPLES, &count, &extra))
        copied = copied && TIFFSetField(out, TIFFTAG_EXTRASAMPLES, count, extra);
    uint16_t across = 0, down = 0;
    if (TIFFGetField(in, TIFFTAG_YCBCRSUBSAMPLING, &across, &down))
        copied = copied && TIFFSetField(out, TIFFTAG_YCBCRSUBSAMPLING, across, down);
    float *blackWhite = nullptr;
    if (TIFFGetField(in, TIFFTAG_REFERENCEBLACKWHITE, &blackWhite))
        copied = copied && TIFFSetField(out, TIFFTAG_REFERENCEBLACKWHITE, blackWhite);
    uint32_t tableBytes = 0;
    void *tables = nullptr;
    if (TIFFGetField(in, TIFFTAG_JPEGTABLES, &tableBytes, &tables))
        copied = copied && TIFFSetField(out, TIFFTAG_JPEGTABLES, tableBytes, tables);
    return copied;
}

// One piece as the next page: its tags and its strips as they are.
QString copyPage(TIFF *in, TIFF *out, int page, int pageCount)
{
    if (TIFFIsTiled(in))
        return QStringLiteral("a page in tiles, not strips");
    if (!copyTags(in, out)
        || !TIFFSetField(out, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE)
        || !TIFFSetField(out, TIFFTAG_PAGENUMBER, uint16_t(page), uint16_t(pageCount)))
        return QStringLiteral("cannot set the TIFF tags");
    const uint32_t strips = TIFFNumberOfStrips(in);
    if (strips != TIFFNumberOfStrips(out))
        return QStringLiteral("its strips do not cover the page");
    QByteArray buffer;
    for (uint32_t strip = 0; strip < strips; ++strip) {
        const uint64_t bytes = TIFFGetStrileByteCount(in, strip);
        if (bytes == 0 || bytes > uint64_t(std::numeric_limits<int>::max()))
            return QStringLiteral("strip %1 has no size a page can have").arg(strip);
        buffer.resize(qsizetype(bytes));
        if (TIFFReadRawStrip(in, strip, buffer.data(), tmsize_t(bytes)) != tmsize_t(bytes))
            return QStringLiteral("cannot read strip %1").arg(strip);
        if (TIFFWriteRawStrip(out, strip, buffer.data(), tmsize_t(bytes)) != tmsize_t(bytes))
            return QStringLiteral("cannot write the TIFF strips");
    }
    if (!TIFFWriteDirectory(out))
        return QStringLiteral("cannot finish the TIFF page");
    return QString();
}

} // namespace

bool joinTiffPages(const QStringList &pieces, QIODevice &device, QString *why)
{
    qint64 total = 0;
    for (const QString &piece : pieces) {
        struct stat status = {};
        if (::stat(nativePath(piece).constData(), &status) == 0)
            total += qint64(status.st_size);
    }
    TiffDevice output;
    output.device = &device;
    TiffHandle out(openTiffOnDevice(output, TiffEncoder::needsBigTiff(total)));
    const auto failed = [&](const QString &what) {
        *why = output.deviceFailed ? device.errorString() : what;
        return false;
    };
    if (!out)
        return failed(output.libraryError.isEmpty() ? QStringLiteral("cannot start the TIFF file") : output.libraryError);
    for (int i = 0; i < pieces.size(); ++i) {
        QString readError;
        const TiffHandle in = openPiece(pieces.at(i), &readError);
        QString problem = in ? copyPage(in.get(), out.get(), i, int(pieces.size())) : QStringLiteral("cannot open it");
        if (problem.isEmpty() && in && TIFFReadDirectory(in.get()))
            problem = QStringLiteral("it holds more than one page");
        if (!problem.isEmpty()) {
            if (!readError.isEmpty())
                problem += QStringLiteral(" (%1)").arg(readError);
            else if (!output.libraryError.isEmpty())
                problem += QStringLiteral(" (%1)").arg(output.libraryError);
            return failed(QStringLiteral("page %1 of the joined file: %2").arg(i + 1).arg(problem));
        }
    }
    const bool flushed = TIFFFlush(out.get());
    out.reset();
    return flushed && !output.deviceFailed ? true : failed(QStringLiteral("cannot finish the TIFF file"));
}
