#ifndef IMAGEFORMAT_H
#define IMAGEFORMAT_H

#include <QCoreApplication>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

enum class ImageFormat { Jpeg, Png, Bmp, Tiff, WebP, Ppm, Pgm, Pbm };

// What a file holds for each pixel.
enum class PixelMode {
    Color,     // 8-bit RGB
    Gray,      // 8-bit luminance
    Mono,      // 1 bit: white at half luminance and above, else black
    ColorAlpha, // 8-bit RGB and alpha, for pages drawn without paper
    Cmyk        // 8-bit C, M, Y, K, for pages drawn in CMYK (JPEG, TIFF)
};

// Everything the program knows about an output type, in one place: the
// command line's checks, help and standard output, the check of a finished
// file and the window's type list all read it. Plain facts: the programs
// read them without the image libraries, which only the encoders (a worker's,
// makeEncoder() in rowencoder.h) link.
struct ImageFormatFacts
{
    ImageFormat format;
    const char *name;        // "JPEG", for messages
    const char *extension;   // "jpg": -t's value, the file names' ending, {ext}
    QList<QByteArray> signatures; // the bytes a file of the type starts with
    qint64 maxSide;          // pixels a side the format can hold
    // The bytes of a file of width x height, for a format that keeps its
    // file's size in 32 bits (BMP: 4 GiB at most); null for the others.
    qint64 (*fileBytes)(qint64 width, qint64 height);
    const char *limitText;   // why a page past those limits is refused; null: only past int
    QList<PixelMode> modes;  // the pixel layouts its files can store
    bool multiPage;          // every page into one file (--multipage)
    bool streams;            // written front to back: standard output takes it as it comes;
                             // otherwise it goes back to earlier bytes and is made in memory first
    // Its text in the window's type list (to be translated in the context
    // "MainWindow"); null for a type of the command line only.
    const char *windowText;
};

// Every type, in the order they are listed: the window's four first, as its list has them.
const QList<ImageFormatFacts> &imageFormats();
const ImageFormatFacts &formatFacts(ImageFormat format);

// The format an output extension ("jpg", "png", "bmp", "tiff", "webp") stands for.
std::optional<ImageFormat> imageFormatForExtension(const QString &extension);

// The extensions of every type, in the table's order.
QStringList formatExtensions();

// The mode a page of the format is written in when none is asked for: colour,
// or the one mode a type holds (gray for pgm, 1-bit for pbm).
PixelMode defaultMode(ImageFormat format);

// Whether files of the format can store pixels in the mode.
bool formatStores(ImageFormat format, PixelMode mode);

// The extensions of the types that store the mode, or hold many pages, in
// the table's order: {"jpg", "tiff"} for CMYK.
QStringList extensionsStoring(PixelMode mode);
QStringList multiPageExtensions();

// A list for people: "jpg, png, bmp, tiff or webp"; with "and" for "jpg and tiff".
QString listText(const QStringList &items, const QString &lastJoin = QStringLiteral("or"));

// WebP keeps each side in 14 bits.
constexpr qint64 webpMaxSide = 16383;
// The JPEG header has 16 bits a side; libjpeg stops a little short of that
// (JPEG_MAX_DIMENSION, which the JPEG encoder checks this against).
constexpr qint64 jpegMaxSide = 65500;

// Whether a file of the format can hold an image of width x height pixels.
// These are the formats' own limits; the renderer has none of its own.
bool formatHolds(ImageFormat format, qint64 width, qint64 height);

// What the format can hold, for telling why a page was refused.
QString formatLimitText(ImageFormat format);

#endif // IMAGEFORMAT_H
