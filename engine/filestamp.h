#ifndef FILESTAMP_H
#define FILESTAMP_H

#include <QString>

// Which file a path leads to and in what state: its inode, size and last
// change. A document is opened by its path each time a page of it is drawn,
// so a file replaced or rewritten since it was opened is only told apart by
// its stamp. Two stamps differ when the file was replaced (another inode) or
// written to (another size or time); a rewrite that keeps all three within
// the file system's clock tick goes unseen. All zero: no stamp (no file has
// inode 0).
struct FileStamp
{
    // As the protocol carries whole numbers: the file system's own, as bits.
    qint64 device = 0;
    qint64 inode = 0;
    qint64 size = 0;
    qint64 changedNs = 0; // st_mtim in nanoseconds

    bool isSet() const { return inode != 0; }

    bool operator==(const FileStamp &other) const
    {
        return device == other.device && inode == other.inode && size == other.size && changedNs == other.changedNs;
    }
    bool operator!=(const FileStamp &other) const { return !(*this == other); }
};

// The stamp of the file the path leads to (links followed); not set when
// there is no file to stamp.
FileStamp fileStamp(const QString &path);

#endif // FILESTAMP_H
