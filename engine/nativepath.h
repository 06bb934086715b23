#ifndef NATIVEPATH_H
#define NATIVEPATH_H

#include <QByteArray>
#include <QList>
#include <QString>

#include <sys/types.h>

class QUrl;

// File names on Linux are bytes, not text. QString decodes them as UTF-8 and
// turns every byte that is not UTF-8 (a Latin-1 name from an old archive)
// into U+FFFD, after which the file can no longer be found. Here each such
// byte is kept as the lone surrogate U+DC80 + byte instead, so that a path
// goes from argv to open() with its own bytes; a valid UTF-8 name is decoded
// as QString always decodes it. Every call that reaches the file system with
// such a path encodes it back through nativePath().

// A path that comes from outside the program (an argument, a drop, the
// executable's own location) as the system's bytes. It holds no QString, so
// no Qt call can decode it on the way: made absolute, split and joined here by
// bytes, it becomes text only when it is shown (display()) or handed to the
// engine, whose paths keep such bytes (escaped(), below) and reach the system
// through nativePath().
class NativePath
{
public:
    NativePath() = default;
    explicit NativePath(QByteArray bytes)
        : data(std::move(bytes))
    {
    }

    // argv as it came, each argument one path.
    static QList<NativePath> fromArguments(int argc, const char *const *argv);
    // The local file a file:// URL names, from its own percent-encoded bytes
    // (QUrl::toLocalFile() decodes them as UTF-8); empty for any other URL.
    static NativePath fromLocalFileUrl(const QUrl &url);
    // The folder the program runs in (getcwd), empty when it is gone.
    static NativePath workingFolder();
    // The running program's own file, read from /proc/self/exe: the folder it
    // is installed in may have a name that is not UTF-8. Empty when unknown.
    static NativePath runningExecutable();

    const QByteArray &bytes() const { return data; }
    const char *constData() const { return data.constData(); }
    bool isEmpty() const { return data.isEmpty(); }
    bool isAbsolute() const { return data.startsWith('/'); }

    // Made absolute against the working folder, with ".", ".." and doubled
    // slashes taken out by the bytes alone, as QDir::cleanPath does to text.
    NativePath absolute() const;
    // Everything before the last slash: "." for a bare name, "/" at the root.
    NativePath folder() const;
    // Everything after the last slash.
    QByteArray fileName() const;
    // A file name within this folder.
    NativePath joined(const QByteArray &name) const;
    // Whether the name ends in suffix, ASCII letters in any case (".pdf").
    bool hasSuffix(const QByteArray &suffix) const;

    bool exists() const;
    bool isDir() const;

    // The engine's form: pathFromNative(bytes()).
    QString escaped() const;
    // For messages and reports: displayPath(escaped()).
    QString display() const;

    bool operator==(const NativePath &other) const { return data == other.data; }
    bool operator!=(const NativePath &other) const { return data != other.data; }

private:
    QByteArray data;
};

// The engine's paths are QStrings that keep every byte that is not UTF-8 as
// described above; these functions go between the two forms and reach the
// system with them.

// The path as the system gave it, with the bytes that are not UTF-8 kept.
QString pathFromNative(const QByteArray &bytes);

// The bytes to hand to the system: the inverse of pathFromNative.
QByteArray nativePath(const QString &path);

// True when the path holds bytes that are not UTF-8, which Qt's own file
// functions cannot reach.
bool hasRawBytes(const QString &path);

// The path for messages and reports: valid UTF-8 throughout, every kept byte
// written visibly as \xNN.
QString displayPath(const QString &path);

// The path made absolute against the working folder and cleaned, by string
// alone: QFileInfo::absoluteFilePath() loses such bytes of a relative path.
QString absolutePathOf(const QString &path);

// The file system calls that such a path needs, each as its POSIX namesake.
bool nativeExists(const QString &path);
bool nativeIsDir(const QString &path);
bool nativeIsFile(const QString &path);
bool nativeIsReadable(const QString &path);
bool nativeIsWritableDir(const QString &path);
// Every missing folder of the path; true when it is a folder. Otherwise the
// folder that could not be made and errno's reason (ENOTDIR for a file in
// the way) when asked for. made: the folders it made, outermost first.
bool makeFolders(const QString &path, QString *failedAt = nullptr, int *error = nullptr, QStringList *made = nullptr);
int openNative(const QString &path, int flags, mode_t mode = 0666);

#endif // NATIVEPATH_H
