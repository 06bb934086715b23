#include "engine/nativepath.h"

#include <QDir>
#include <QUrl>

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
    const NativePath folder = NativePath::workingFolder();
    const QString working = folder.isEmpty() ? QDir::currentPath() : folder.escaped();
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

bool makeFolders(const QString &path, QString *failedAt, int *error, QStringList *made)
{
    const QByteArray bytes = nativePath(path);
    // Each prefix that ends before a slash, then the whole path. One that is
    // there already must be a folder: a file in the way is named as the
    // reason, not the ENOTDIR of a folder below it.
    const auto make = [&](const QByteArray &folder) {
        if (::mkdir(folder.constData(), 0777) == 0) {
            if (made)
                made->append(pathFromNative(folder));
            return true;
        }
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

QList<NativePath> NativePath::fromArguments(int argc, const char *const *argv)
{
    QList<NativePath> arguments;
    arguments.reserve(argc);
    for (int i = 0; i < argc; ++i)
        arguments << NativePath(QByteArray(argv[i]));
    return arguments;
}

NativePath NativePath::fromLocalFileUrl(const QUrl &url)
{
    if (!url.isLocalFile())
        return NativePath();
    return NativePath(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
}

NativePath NativePath::workingFolder()
{
    char *folder = ::getcwd(nullptr, 0);
    const NativePath path(folder ? QByteArray(folder) : QByteArray());
    std::free(folder);
    return path;
}

NativePath NativePath::runningExecutable()
{
    // readlink does not say how long the name is: grow until it fits.
    for (qsizetype size = 256; size <= (qsizetype(1) << 20); size *= 2) {
        QByteArray bytes(size, Qt::Uninitialized);
        const ssize_t n = ::readlink("/proc/self/exe", bytes.data(), size_t(size));
        if (n < 0)
            return NativePath();
        if (n < size) {
            bytes.truncate(n);
            return NativePath(bytes);
        }
    }
    return NativePath();
}

NativePath NativePath::absolute() const
{
    if (data.isEmpty())
        return NativePath();
    const NativePath working = isAbsolute() ? NativePath() : workingFolder();
    if (!isAbsolute() && working.isEmpty())
        return *this;
    const QByteArray whole = isAbsolute() ? data : working.data + '/' + data;
    QByteArrayList kept;
    for (const QByteArray &part : whole.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            if (!kept.isEmpty())
                kept.removeLast();
            continue;
        }
        kept << part;
    }
    return NativePath('/' + kept.join('/'));
}

NativePath NativePath::folder() const
{
    const qsizetype slash = data.lastIndexOf('/');
    if (slash < 0)
        return NativePath(QByteArray("."));
    return NativePath(slash == 0 ? QByteArray("/") : data.left(slash));
}

QByteArray NativePath::fileName() const
{
    return data.mid(data.lastIndexOf('/') + 1);
}

NativePath NativePath::joined(const QByteArray &name) const
{
    if (data.isEmpty())
        return NativePath(name);
    return NativePath(data.endsWith('/') ? data + name : data + '/' + name);
}

bool NativePath::hasSuffix(const QByteArray &suffix) const
{
    return data.size() >= suffix.size() && data.right(suffix.size()).toLower() == suffix.toLower();
}

bool NativePath::exists() const
{
    struct stat info;
    return !data.isEmpty() && ::stat(data.constData(), &info) == 0;
}

bool NativePath::isDir() const
{
    struct stat info;
    return !data.isEmpty() && ::stat(data.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

QString NativePath::escaped() const
{
    return pathFromNative(data);
}

QString NativePath::display() const
{
    return displayPath(escaped());
}
