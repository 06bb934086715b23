#ifndef TIFFDEVICE_H
#define TIFFDEVICE_H

#include <QString>

#include <cstdarg>

class QIODevice;
typedef struct tiff TIFF;

// libtiff writing onto a QIODevice rather than a file it opens itself, and
// what went wrong on the way: libtiff says only that a write failed, the
// device knows why.
struct TiffDevice
{
    QIODevice *device = nullptr;
    bool deviceFailed = false; // a write fell short: device->errorString() says why
    QString libraryError;      // libtiff's last error, "module: text"
    // What to tell the user of a failure: the device's reason, libtiff's, or fallback.
    QString why(const QString &fallback) const;
};

// A TIFF to write onto output.device, with BigTIFF's offsets when asked; its
// errors go to output, its warnings nowhere. Null when libtiff refuses.
// The device stays the caller's: TIFFClose leaves it open.
TIFF *openTiffOnDevice(TiffDevice &output, bool bigTiff);

// libtiff's error handler keeping the text in the QString at userData, and
// a warning handler that drops warnings, for TIFFOpenOptions.
int keepTiffError(TIFF *, void *userData, const char *module, const char *format, va_list arguments);
int dropTiffWarning(TIFF *, void *, const char *, const char *, va_list);

#endif // TIFFDEVICE_H
