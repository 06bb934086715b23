#ifndef NATIVEPATH_H
#define NATIVEPATH_H

#include <QByteArray>
#include <QString>

#include <sys/types.h>

// File names on Linux are bytes, not text. QString decodes them as UTF-8 and
// turns every byte that is not UTF-8 (a Latin-1 name from an old archive)
// into U+FFFD, after which the file can no longer be found. Here each such
// byte is kept as the lone surrogate U+DC80 + byte instead, so that a path
// goes from argv to open() with its own bytes; a valid UTF-8 name is decoded
// as QString always decodes it. Every call that reaches the file system with
// such a path encodes it back through nativePath().

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
// the way) when asked for.
bool makeFolders(const QString &path, QString *failedAt = nullptr, int *error = nullptr);
int openNative(const QString &path, int flags, mode_t mode = 0666);

#endif // NATIVEPATH_H
