#ifndef READBACK_H
#define READBACK_H

#include <QByteArray>
#include <QList>
#include <QString>

// An image file decoded by the format's own library (libpng, libtiff, libjpeg) or, for
// BMP, which has none, by Qt's reader: never by the program's code. Samples
// are 8 bits, rows packed: 1 channel for gray (1-bit pixels as 0 and 255),
// 3 for RGB, 4 for RGB and unmultiplied alpha or for C, M, Y, K (0: no ink;
// a JPEG with Adobe's marker is read as inverted, as Adobe writes it).
struct DecodedImage
{
    int width = 0;
    int height = 0;
    int channels = 0;
    QByteArray samples;
    QString error; // set when the file could not be read

    const uchar *row(int y) const
    {
        return reinterpret_cast<const uchar *>(samples.constData()) + qsizetype(y) * width * channels;
    }
};

DecodedImage readPng(const QString &path);
DecodedImage readBmp(const QString &path);
DecodedImage readTiff(const QString &path, int directory = 0);
DecodedImage readJpeg(const QString &path);
DecodedImage readJpeg(const QByteArray &bytes);

// How a file is stored, as its own library reads it, for comparing with what
// was asked: "jpeg progressive 2x2 1x1 1x1" (the components' sampling
// factors, then "cmyk" and "adobe" for a CMYK file and Adobe's marker), or for
// each TIFF directory "tiff compression 5 predictor 2 photometric 2 samples 3"
// (a predictor with LZW and Deflate only; "inkset 1" after a separated
// photometric with an InkSet tag), joined by "; ".
QString storageText(const QString &path);

// The mean of |a - b| over every sample of two images of one size; -1 when
// they differ in size or channels.
double meanDifference(const DecodedImage &a, const DecodedImage &b);

// What a TIFF's directories say about their pages, in file order.
struct TiffPage
{
    int width = 0;
    int height = 0;
    int bitsPerSample = 0;
    int page = -1;  // PageNumber: this page's index ...
    int pages = -1; // ... and the number of pages
    bool isPage = false; // SubfileType says a page of a multi-page file
};
QList<TiffPage> tiffPages(const QString &path, QString *error);

// Empty when a and b are the same image; else their sizes, or the rows that
// differ (how many pixels, where, the first of them in each) for a failure message.
QString imageDifferences(const DecodedImage &actual, const DecodedImage &expected);

#endif // READBACK_H
