#ifndef STANDARDINPUT_H
#define STANDARDINPUT_H

#include <QString>

// A PDF read from standard input ("-"), kept in a private folder at path
// (mode 0600) for a worker to open; false when it cannot be read or kept.
bool saveStandardInput(const QString &path);

#endif // STANDARDINPUT_H
