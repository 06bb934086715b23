#include "engine/nativepath.h"

#include <QDir>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char16_t escapeBase = 0xDC00; // U+DC80..U+DCFF stand for the bytes 0x80..0xFF

// Length of the valid UTF-8 sequence that starts at data[i], or 0.
int utf8SequenceLength(const unsigned char *data, int size, int i)
{
    const unsigned char lead = data[i];
    int length;
    char32_t min;
    char32_t code;
    if (lead < 0x80)
        return 1;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, min = 0x80, code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, min = 0x800, code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, min = 0x10000, code = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > size)
        return 0;
    for (int k = 1; k < length; ++k) {
        if ((data[i + k] & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (data[i + k] & 0x3F);
    }
    // Overlong forms, UTF-16 surrogates and code points past Unicode are not UTF-8.
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

bool isEscapedByte(QChar c)
{
    return c.unicode() >= escapeBase + 0x80 && c.unicode() <= escapeBase + 0xFF;
}

} // namespace

QString pathFromNative(const QByteArray &bytes)
{
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.constData());
    const int size = int(bytes.size());
    QString path;
    path.reserve(size);
    int start = 0; // first byte of the run of valid UTF-8 not yet decoded
    for (int i = 0; i < size;) {
        const int length = utf8SequenceLength(data, size, i);
        if (length > 0) {
            i += length;
            continue;
        }
        path += QString::fromUtf8(bytes.constData() + start, i - start);
        path += QChar(char16_t(escapeBase + data[i]));
        start = ++i;
    }
    path += QString::fromUtf8(bytes.constData() + start, size - start);
    return path;
}

QByteArray nativePath(const QString &path)
{
    if (!hasRawBytes(path))
        return path.toUtf8();
    QByteArray bytes;
    bytes.reserve(path.size());
    int start = 0;
    for (int i = 0; i < path.size(); ++i) {
        if (!isEscapedByte(path.at(i)))
            continue;
        bytes += QStringView(path).mid(start, i - start).toUtf8();
        bytes += char(path.at(i).unicode() - escapeBase);
        start = i + 1;
    }
    bytes += QStringView(path).mid(start).toUtf8();
    return bytes;
}

bool hasRawBytes(const QString &path)
{
    for (QChar c : path) {
        if (isEscapedByte(c))
            return true;
    }
    return false;
}

QString displayPath(const QString &path)
{
    if (!hasRawBytes(path))
        return path;
    QString shown;
    shown.reserve(path.size() + 8);
    for (QChar c : path) {
        if (isEscapedByte(c))
            shown += QStringLiteral("\\x%1").arg(c.unicode() - escapeBase, 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

QString absolutePathOf(const QString &path)
{
    if (QDir::isAbsolutePath(path))
        return QDir::cleanPath(path);
    char *folder = ::getcwd(nullptr, 0);
    const QString working = folder ? pathFromNative(QByteArray(folder)) : QDir::currentPath();
    std::free(folder);
    return QDir::cleanPath(working + QLatin1Char('/') + path);
}

bool nativeExists(const QString &path)
{
    struct stat info;
    return ::stat(nativePath(path).constData(), &info) == 0;
}

bool nativeIsDir(const QString &path)
{
    struct stat info;
    return ::stat(nativePath(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool nativeIsFile(const QString &path)
{
    struct stat info;
    return ::stat(nativePath(path).constData(), &info) == 0 && S_ISREG(info.st_mode);
}

bool nativeIsReadable(const QString &path)
{
    return ::access(nativePath(path).constData(), R_OK) == 0;
}

bool nativeIsWritableDir(const QString &path)
{
    return nativeIsDir(path) && ::access(nativePath(path).constData(), W_OK | X_OK) == 0;
}

bool makeFolders(const QString &path, QString *failedAt, int *error)
{
    const QByteArray bytes = nativePath(path);
    // Each prefix that ends before a slash, then the whole path. One that is
    // there already must be a folder: a file in the way is named as the
    // reason, not the ENOTDIR of a folder below it.
    const auto make = [&](const QByteArray &folder) {
        if (::mkdir(folder.constData(), 0777) == 0)
            return true;
        int why = errno;
        if (why == EEXIST) {
            struct stat info;
            if (::stat(folder.constData(), &info) == 0 && S_ISDIR(info.st_mode))
                return true;
            why = ENOTDIR;
        }
        if (failedAt)
            *failedAt = pathFromNative(folder);
        if (error)
            *error = why;
        return false;
    };
    for (qsizetype slash = bytes.indexOf('/', 1); slash != -1; slash = bytes.indexOf('/', slash + 1)) {
        if (!make(bytes.left(slash)))
            return false;
    }
    return make(bytes);
}

int openNative(const QString &path, int flags, mode_t mode)
{
    int fd;
    do {
        fd = ::open(nativePath(path).constData(), flags | O_CLOEXEC, mode);
    } while (fd == -1 && errno == EINTR);
    return fd;
}
