#ifndef READTEXTFILE_H
#define READTEXTFILE_H

#include <QString>

// Whole text of a file or resource; empty when it cannot be opened.
QString readTextFile(const QString &path);

#endif // READTEXTFILE_H
