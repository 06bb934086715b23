#include "engine/image/imageformat.h"

#include <climits>

namespace {

using M = PixelMode;

// A colour BMP's bytes: its two headers, then rows of three bytes a pixel,
// each padded to four (what bmpencoder writes; its gray and 1-bit files are
// smaller).
qint64 bmpColourFileBytes(qint64 width, qint64 height)
{
    return 14 + 40 + ((3 * width + 3) & ~qint64(3)) * height;
}

} // namespace

const QList<ImageFormatFacts> &imageFormats()
{
    static const QList<ImageFormatFacts> formats = {
        {ImageFormat::Jpeg, "JPEG", "jpg", {QByteArray("\xff\xd8\xff", 3)}, jpegMaxSide, nullptr,
         "a JPEG image has at most %1 pixels a side", {M::Color, M::Gray, M::Cmyk}, false, true,
         QT_TRANSLATE_NOOP("MainWindow", "JPEG format")},
        // 31 bits a side in PNG; rows are counted in int.
        {ImageFormat::Png, "PNG", "png", {QByteArray("\x89PNG\r\n\x1a\n", 8)}, INT_MAX, nullptr, nullptr,
         {M::Color, M::Gray, M::Mono, M::ColorAlpha}, false, true, QT_TRANSLATE_NOOP("MainWindow", "PNG format")},
        // Its rows run bottom-up, and its header gives the file's size.
        {ImageFormat::Bmp, "BMP", "bmp", {QByteArray("BM", 2)}, INT_MAX,
         bmpColourFileBytes, "a BMP file holds at most 4 GiB", {M::Color, M::Gray, M::Mono}, false, false,
         QT_TRANSLATE_NOOP("MainWindow", "BMP format")},
        // Past 4 GiB it becomes BigTIFF; its header points at its directory, written last.
        {ImageFormat::Tiff, "TIFF", "tiff",
         {QByteArray("II*\0", 4), QByteArray("MM\0*", 4), QByteArray("II+\0", 4), QByteArray("MM\0+", 4)}, INT_MAX,
         nullptr, nullptr, {M::Color, M::Gray, M::Mono, M::ColorAlpha, M::Cmyk}, true, false,
         QT_TRANSLATE_NOOP("MainWindow", "TIFF format")},
        {ImageFormat::WebP, "WebP", "webp", {QByteArray("RIFF", 4)}, webpMaxSide, nullptr,
         "a WebP image has at most %1 pixels a side", {M::Color, M::ColorAlpha}, false, true, nullptr},
        // Binary netpbm, as pdftoppm writes by default: a text header, then the
        // rows as they come. Each type holds one mode.
        {ImageFormat::Ppm, "PPM", "ppm", {QByteArray("P6", 2)}, INT_MAX, nullptr, nullptr, {M::Color}, false, true,
         nullptr},
        {ImageFormat::Pgm, "PGM", "pgm", {QByteArray("P5", 2)}, INT_MAX, nullptr, nullptr, {M::Gray}, false, true,
         nullptr},
        {ImageFormat::Pbm, "PBM", "pbm", {QByteArray("P4", 2)}, INT_MAX, nullptr, nullptr, {M::Mono}, false, true,
         nullptr},
    };
    return formats;
}

const ImageFormatFacts &formatFacts(ImageFormat format)
{
    for (const ImageFormatFacts &facts : imageFormats()) {
        if (facts.format == format)
            return facts;
    }
    Q_UNREACHABLE();
}

std::optional<ImageFormat> imageFormatForExtension(const QString &extension)
{
    for (const ImageFormatFacts &facts : imageFormats()) {
        if (extension == QLatin1String(facts.extension))
            return facts.format;
    }
    return std::nullopt;
}

QStringList formatExtensions()
{
    QStringList extensions;
    for (const ImageFormatFacts &facts : imageFormats())
        extensions << QLatin1String(facts.extension);
    return extensions;
}

PixelMode defaultMode(ImageFormat format)
{
    const QList<PixelMode> &modes = formatFacts(format).modes;
    return modes.contains(PixelMode::Color) ? PixelMode::Color : modes.constFirst();
}

bool formatStores(ImageFormat format, PixelMode mode)
{
    return formatFacts(format).modes.contains(mode);
}

QStringList extensionsStoring(PixelMode mode)
{
    QStringList extensions;
    for (const ImageFormatFacts &facts : imageFormats()) {
        if (facts.modes.contains(mode))
            extensions << QLatin1String(facts.extension);
    }
    return extensions;
}

QStringList multiPageExtensions()
{
    QStringList extensions;
    for (const ImageFormatFacts &facts : imageFormats()) {
        if (facts.multiPage)
            extensions << QLatin1String(facts.extension);
    }
    return extensions;
}

QString listText(const QStringList &items, const QString &lastJoin)
{
    if (items.size() < 2)
        return items.join(QString());
    return items.mid(0, items.size() - 1).join(QStringLiteral(", ")) + QLatin1Char(' ') + lastJoin
           + QLatin1Char(' ') + items.last();
}

bool formatHolds(ImageFormat format, qint64 width, qint64 height)
{
    if (width < 1 || height < 1)
        return false;
    const ImageFormatFacts &facts = formatFacts(format);
    if (width > facts.maxSide || height > facts.maxSide)
        return false;
    return !facts.fileBytes || facts.fileBytes(width, height) <= qint64(0xFFFFFFFFu);
}

QString formatLimitText(ImageFormat format)
{
    const ImageFormatFacts &facts = formatFacts(format);
    if (!facts.limitText)
        return QStringLiteral("more than an image can have");
    const QString text = QString::fromLatin1(facts.limitText);
    return text.contains(QLatin1String("%1")) ? text.arg(facts.maxSide) : text;
}
