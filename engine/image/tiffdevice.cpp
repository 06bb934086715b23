#include "engine/image/tiffdevice.h"

#include <QIODevice>

#include <cstdarg>
#include <cstdio>
#include <tiffio.h>

namespace {

TiffDevice &outputOf(thandle_t handle)
{
    return *static_cast<TiffDevice *>(handle);
}

tmsize_t readProc(thandle_t handle, void *data, tmsize_t size)
{
    return tmsize_t(outputOf(handle).device->read(static_cast<char *>(data), qint64(size)));
}

tmsize_t writeProc(thandle_t handle, void *data, tmsize_t size)
{
    TiffDevice &output = outputOf(handle);
    const qint64 written = output.device->write(static_cast<const char *>(data), qint64(size));
    if (written != qint64(size))
        output.deviceFailed = true;
    return tmsize_t(written);
}

toff_t seekProc(thandle_t handle, toff_t offset, int whence)
{
    QIODevice *device = outputOf(handle).device;
    qint64 position = qint64(offset);
    if (whence == SEEK_CUR)
        position += device->pos();
    else if (whence == SEEK_END)
        position += device->size();
    return device->seek(position) ? toff_t(position) : toff_t(-1);
}

int closeProc(thandle_t)
{
    return 0; // the device belongs to the caller
}

toff_t sizeProc(thandle_t handle)
{
    return toff_t(outputOf(handle).device->size());
}

int mapProc(thandle_t, void **, toff_t *)
{
    return 0;
}

void unmapProc(thandle_t, void *, toff_t) {}

} // namespace

QString TiffDevice::why(const QString &fallback) const
{
    return deviceFailed ? device->errorString() : libraryError.isEmpty() ? fallback : libraryError;
}

int keepTiffError(TIFF *, void *userData, const char *module, const char *format, va_list arguments)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    *static_cast<QString *>(userData) = QString::fromLocal8Bit(module) + QStringLiteral(": ")
                                        + QString::fromLocal8Bit(text);
    return 1;
}

int dropTiffWarning(TIFF *, void *, const char *, const char *, va_list)
{
    return 1;
}

TIFF *openTiffOnDevice(TiffDevice &output, bool bigTiff)
{
    TIFFOpenOptions *options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, keepTiffError, &output.libraryError);
    TIFFOpenOptionsSetWarningHandlerExtR(options, dropTiffWarning, nullptr);
    TIFF *tif = TIFFClientOpenExt("output", bigTiff ? "w8" : "w", &output, readProc, writeProc, seekProc, closeProc,
                                  sizeProc, mapProc, unmapProc, options);
    TIFFOpenOptionsFree(options);
    return tif;
}
