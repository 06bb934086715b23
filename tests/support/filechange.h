#ifndef FILECHANGE_H
#define FILECHANGE_H

#include <QString>

// A document saved again under its name, the two ways programs save: a new
// file renamed over the old (another inode), or the old one written over in
// place (the same inode). Each gives path the bytes of with; false when the
// file system refused.
bool replaceFile(const QString &path, const QString &with);
bool rewriteInPlace(const QString &path, const QString &with);

#endif // FILECHANGE_H
