#ifndef CONFINEMENT_H
#define CONFINEMENT_H

#include <QString>
#include <QStringList>

// Confines the calling process, for good, with Landlock (Linux 5.13 and
// later): it may then read only the given inputs, the output folders and the
// system's own trees (libraries, fonts, their configuration), and create,
// write and remove files only in the output folders. Returns an empty string
// when confined, otherwise why not; the process is then as it was.
QString confineToFiles(const QStringList &inputs, const QStringList &outputFolders);

#endif // CONFINEMENT_H
