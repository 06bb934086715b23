#include "engine/image/imagecheck.h"

#include "engine/image/pnmencoder.h"
#include "engine/nativepath.h"

#include <QByteArray>
#include <QFile>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <tiffio.h>

namespace {

quint32 le32(const QByteArray &bytes, int at)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.constData()) + at;
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

int noteError(TIFF *, void *userData, const char *, const char *, va_list)
{
    *static_cast<bool *>(userData) = true;
    return 1;
}

int ignoreWarning(TIFF *, void *, const char *, const char *, va_list)
{
    return 1;
}

QString whyNotWholeTiff(const QString &path, qint64 size)
{
    bool failed = false;
    TIFFOpenOptions *options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, noteError, &failed);
    TIFFOpenOptionsSetWarningHandlerExtR(options, ignoreWarning, nullptr);
    // "m": read the directories with plain reads, not a map of the file.
    TIFF *tif = TIFFOpenExt(nativePath(path).constData(), "rm", options);
    TIFFOpenOptionsFree(options);
    if (!tif)
        return QStringLiteral("not a readable TIFF file");
    QString why;
    do {
        uint64_t *offsets = nullptr;
        uint64_t *counts = nullptr;
        const uint32_t strips = TIFFNumberOfStrips(tif);
        if (!TIFFGetField(tif, TIFFTAG_STRIPOFFSETS, &offsets) || !TIFFGetField(tif, TIFFTAG_STRIPBYTECOUNTS, &counts)
            || strips == 0) {
            why = QStringLiteral("a TIFF directory without strips");
            break;
        }
        for (uint32_t i = 0; i < strips && why.isEmpty(); ++i) {
            if (offsets[i] + counts[i] > uint64_t(size))
                why = QStringLiteral("cut short: a TIFF strip ends past the end of the file");
        }
    } while (why.isEmpty() && TIFFReadDirectory(tif));
    TIFFClose(tif);
    if (why.isEmpty() && failed)
        why = QStringLiteral("cut short: a TIFF directory cannot be read");
    return why;
}

// The size a binary netpbm file must have, read from its header ("P6 <w>
// <h> 255" and one whitespace byte before the rows); -1 when the header
// cannot be read.
qint64 pnmFileBytes(const QByteArray &head, PixelMode mode)
{
    const int fields = mode == PixelMode::Mono ? 2 : 3;
    qint64 values[3] = {};
    int at = 2;
    for (int field = 0; field < fields; ++field) {
        if (at >= head.size() || !std::isspace(uchar(head.at(at))))
            return -1;
        while (at < head.size() && std::isspace(uchar(head.at(at))))
            ++at;
        const int start = at;
        while (at < head.size() && head.at(at) >= '0' && head.at(at) <= '9' && at - start < 12)
            values[field] = values[field] * 10 + (head.at(at++) - '0');
        if (at == start)
            return -1;
    }
    if (at >= head.size() || !std::isspace(uchar(head.at(at))) || values[0] < 1 || values[1] < 1)
        return -1;
    return at + 1 + pnmRowBytes(mode, values[0]) * values[1];
}

} // namespace

QString whyNotWholeImage(const QString &path, ImageFormat format)
{
    QFile file;
    const int fd = openNative(path, O_RDONLY);
    if (fd == -1 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (fd != -1)
            ::close(fd);
        return QStringLiteral("cannot be read: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
    }
    const qint64 size = file.size();
    if (size == 0)
        return QStringLiteral("the file is empty");
    const QByteArray head = file.read(64);
    const auto tail = [&file, size](qint64 length) {
        return size >= length && file.seek(size - length) ? file.read(length) : QByteArray();
    };

    const ImageFormatFacts &facts = formatFacts(format);
    const bool recognised = std::any_of(facts.signatures.cbegin(), facts.signatures.cend(),
                                        [&head](const QByteArray &signature) { return head.startsWith(signature); });
    if (!recognised)
        return QStringLiteral("not a %1 file").arg(QLatin1String(facts.name));
    switch (format) {
    case ImageFormat::Png: {
        if (tail(12) != QByteArray::fromRawData("\0\0\0\0IEND\xae\x42\x60\x82", 12))
            return QStringLiteral("cut short: no PNG end (IEND)");
        return QString();
    }
    case ImageFormat::Jpeg:
        if (tail(2) != QByteArray::fromRawData("\xff\xd9", 2))
            return QStringLiteral("cut short: no JPEG end marker (EOI)");
        return QString();
    case ImageFormat::Bmp:
        if (head.size() < 6)
            return QStringLiteral("not a BMP file");
        if (le32(head, 2) != quint64(size))
            return QStringLiteral("cut short: %1 bytes of the %2 its BMP header gives").arg(size).arg(le32(head, 2));
        return QString();
    case ImageFormat::WebP:
        if (head.size() < 12 || head.mid(8, 4) != "WEBP")
            return QStringLiteral("not a WebP file");
        if (quint64(le32(head, 4)) + 8 != quint64(size))
            return QStringLiteral("cut short: %1 bytes of the %2 its RIFF header gives").arg(size).arg(quint64(le32(head, 4)) + 8);
        return QString();
    case ImageFormat::Ppm:
    case ImageFormat::Pgm:
    case ImageFormat::Pbm: {
        const qint64 expected = pnmFileBytes(head, facts.modes.constFirst());
        if (expected < 0)
            return QStringLiteral("not a %1 file").arg(QLatin1String(facts.name));
        if (expected != size)
            return QStringLiteral("cut short: %1 bytes of the %2 its %3 header gives").arg(size).arg(expected).arg(QLatin1String(facts.name));
        return QString();
    }
    case ImageFormat::Tiff:
        file.close();
        return whyNotWholeTiff(path, size);
    }
    return QString();
}
