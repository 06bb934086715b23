#include "engine/atomicfile.h"

#include "engine/nativepath.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace {

QString systemError(int code)
{
    return QString::fromStdString(std::error_code(code, std::generic_category()).message());
}

std::mutex nameSourceMutex;
AtomicFile::NameSource nameSource;
QString temporaryMark; // under nameSourceMutex

// Short, whatever the target's length (a name of 240 bytes of CJK characters
// must still leave room for it), and random: a name made from the process id
// and a counter was taken again by a later process with the same id.
QString temporaryName()
{
    QString mark;
    {
        const std::lock_guard<std::mutex> lock(nameSourceMutex);
        if (nameSource)
            return nameSource();
        mark = temporaryMark;
    }
    return QLatin1String(AtomicFile::temporaryPrefix) + mark
           + QString::number(QRandomGenerator::global()->generate64(), 36) + QStringLiteral(".tmp");
}

// Through the system's calls rather than QFileInfo, which cannot reach a
// name whose bytes are not UTF-8.
QString resolvedTarget(const QString &path)
{
    const QString absolute = absolutePathOf(path);
    const QByteArray bytes = nativePath(absolute);
    struct stat status = {};
    if (::lstat(bytes.constData(), &status) != 0 || !S_ISLNK(status.st_mode))
        return absolute;
    if (char *real = ::realpath(bytes.constData(), nullptr)) {
        const QString resolved = pathFromNative(QByteArray(real));
        std::free(real);
        return resolved;
    }
    // A dangling link names the file to make.
    QByteArray link(PATH_MAX, '\0');
    const ssize_t length = ::readlink(bytes.constData(), link.data(), size_t(link.size()));
    if (length <= 0 || length >= link.size())
        return absolute;
    link.truncate(length);
    const QString linked = pathFromNative(link);
    return QDir::isAbsolutePath(linked) ? QDir::cleanPath(linked)
                                        : QDir::cleanPath(QFileInfo(absolute).absolutePath() + QLatin1Char('/') + linked);
}

} // namespace

// A file descriptor as a QIODevice, unbuffered: the encoders write in large
// blocks already. Each failure keeps errno's text, and a short write goes on
// until the system says why it cannot.
class AtomicFile::Device : public QIODevice
{
public:
    ~Device() override { closeFd(); }

    void attach(int descriptor, OpenMode mode)
    {
        fd = descriptor;
        QIODevice::open(mode | QIODevice::Unbuffered);
    }

    int descriptor() const { return fd; }

    // Closes the descriptor; false, with the reason, when the system reports
    // a late write error (NFS reports them here).
    bool closeFd()
    {
        if (fd < 0)
            return true;
        QIODevice::close();
        const int result = ::close(fd);
        fd = -1;
        if (result == 0)
            return true;
        setErrorString(systemError(errno));
        return false;
    }

    bool isSequential() const override { return false; }

    qint64 size() const override
    {
        struct stat status = {};
        return fd >= 0 && ::fstat(fd, &status) == 0 ? qint64(status.st_size) : 0;
    }

    void fail(int code)
    {
        setErrorString(systemError(code));
        failed = true;
    }

    // Whether a read or write failed: such a file is never put in place, even
    // when its writer went on and asked for a commit.
    bool hasFailed() const { return failed; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        ssize_t n;
        do
            n = ::pread(fd, data, size_t(maxSize), off_t(pos()));
        while (n < 0 && errno == EINTR);
        if (n < 0)
            fail(errno);
        return qint64(n);
    }

    qint64 writeData(const char *data, qint64 maxSize) override
    {
        qint64 done = 0;
        while (done < maxSize) {
            const ssize_t n = ::pwrite(fd, data + done, size_t(maxSize - done), off_t(pos() + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                fail(n < 0 ? errno : ENOSPC);
                return -1; // part of it may be in the file; the file is given up anyway
            }
            done += n;
        }
        return done;
    }

private:
    int fd = -1;
    bool failed = false;
};

AtomicFile::AtomicFile(const QString &path)
    : target(resolvedTarget(path))
    , file(std::make_unique<Device>())
{
}

AtomicFile::~AtomicFile()
{
    discard();
}

QIODevice &AtomicFile::device()
{
    return *file;
}

void AtomicFile::setNameSource(NameSource source)
{
    const std::lock_guard<std::mutex> lock(nameSourceMutex);
    nameSource = std::move(source);
}

bool AtomicFile::open(bool readable)
{
    const QFileInfo info(target);
    const QString folder = info.absolutePath() + QLatin1Char('/');
    // Not mkstemp: the file gets the usual permissions (0666 less the umask) rather than 0600.
    constexpr int attempts = 100;
    for (int i = 0; i < attempts; ++i) {
        const QString candidate = folder + temporaryName();
        const int fd = ::open(nativePath(candidate).constData(),
                              (readable ? O_RDWR : O_WRONLY) | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST)
            continue; // left by another run, or taken by one now: another name
        if (fd < 0) {
            error = systemError(errno);
            return false;
        }
        temporaryPath = candidate;
        file->attach(fd, readable ? QIODevice::ReadWrite : QIODevice::WriteOnly);
        struct stat status = {};
        if (::stat(nativePath(target).constData(), &status) == 0 && S_ISREG(status.st_mode))
            ::fchmod(fd, status.st_mode & 07777);
        return true;
    }
    error = QStringLiteral("no free name for a temporary file in %1").arg(info.absolutePath());
    return false;
}

// Everything of a commit but the rename: the data whole, on the disk when asked.
bool AtomicFile::closeWhole()
{
    if (file->descriptor() < 0) {
        error = QStringLiteral("the file is not open");
        return false;
    }
    if (file->hasFailed()) {
        error = file->errorString();
        discard();
        return false;
    }
    if (synced && ::fdatasync(file->descriptor()) != 0) {
        error = systemError(errno);
        discard();
        return false;
    }
    if (!file->closeFd()) {
        error = file->errorString();
        discard();
        return false;
    }
    return true;
}

bool AtomicFile::commit()
{
    if (!closeWhole())
        return false;
    const QByteArray from = nativePath(temporaryPath);
    if (std::rename(from.constData(), nativePath(target).constData()) != 0) {
        error = systemError(errno);
        discard();
        return false;
    }
    temporaryPath.clear();
    if (synced) {
        // The rename is lasting once the folder is on the disk. Some file
        // systems cannot sync a folder; the file's own data is safe either way.
        const int dir = ::open(nativePath(QFileInfo(target).absolutePath()).constData(),
                               O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
    }
    return true;
}

QString AtomicFile::hold()
{
    if (!closeWhole())
        return QString();
    return std::exchange(temporaryPath, QString());
}

QString AtomicFile::adopt(const QString &temporaryPath, const QString &target, QString *why)
{
    const QString folder = QFileInfo(resolvedTarget(target)).absolutePath() + QLatin1Char('/');
    const QString name = temporaryPath.mid(folder.size());
    if (!temporaryPath.startsWith(folder) || name.contains(QLatin1Char('/'))
        || !name.startsWith(QLatin1String(temporaryPrefix)) || !name.endsWith(QLatin1String(".tmp"))) {
        *why = QStringLiteral("the worker named no file of its own");
        return QString();
    }
    const QByteArray from = nativePath(temporaryPath);
    constexpr int attempts = 100;
    for (int i = 0; i < attempts; ++i) {
        const QString candidate = folder + temporaryName();
        const QByteArray to = nativePath(candidate);
        // Never over another file: a name taken is passed over. A file system
        // that cannot promise that gets the plain rename of a random name.
        int renamed = ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE);
        if (renamed != 0 && errno == EINVAL)
            renamed = std::rename(from.constData(), to.constData());
        if (renamed == 0)
            return candidate;
        if (errno != EEXIST) {
            *why = systemError(errno);
            return QString();
        }
    }
    *why = QStringLiteral("no free name for a temporary file in %1").arg(folder);
    return QString();
}

bool AtomicFile::place(const QString &temporaryPath, const QString &target, QString *why)
{
    const QByteArray from = nativePath(temporaryPath);
    if (std::rename(from.constData(), nativePath(resolvedTarget(target)).constData()) == 0)
        return true;
    *why = systemError(errno);
    ::unlink(from.constData());
    return false;
}

void AtomicFile::discard()
{
    file->closeFd();
    if (temporaryPath.isEmpty())
        return;
    ::unlink(nativePath(temporaryPath).constData());
    temporaryPath.clear();
}

void AtomicFile::setTemporaryMark(const QString &mark)
{
    const std::lock_guard<std::mutex> lock(nameSourceMutex);
    temporaryMark = mark;
}

int AtomicFile::removeMarkedTemporaries(const QString &folder, const QString &mark)
{
    DIR *dir = ::opendir(nativePath(folder).constData());
    if (!dir)
        return 0;
    // A mark ends in '-', which the random part never holds: no mark is the start of another.
    const QByteArray prefix = QByteArray(temporaryPrefix) + mark.toLatin1();
    int removed = 0;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name.startsWith(prefix) && name.endsWith(".tmp") && ::unlinkat(::dirfd(dir), entry->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(dir);
    return removed;
}

int AtomicFile::removeStaleTemporaries(const QString &folder, qint64 maxAgeSeconds)
{
    const qint64 before = QDateTime::currentSecsSinceEpoch() - maxAgeSeconds;
    DIR *dir = ::opendir(nativePath(folder).constData());
    if (!dir)
        return 0;
    const QByteArray prefix(temporaryPrefix);
    int removed = 0;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (!name.startsWith(prefix) || !name.endsWith(".tmp"))
            continue;
        struct stat status = {};
        if (::fstatat(::dirfd(dir), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode)
            && status.st_mtime < before && ::unlinkat(::dirfd(dir), entry->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(dir);
    return removed;
}
