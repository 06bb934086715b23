#ifndef HELPVIEWER_H
#define HELPVIEWER_H

#include <QString>

// The manual's file name, looked up in the working directory.
inline QString manualFileName()
{
    return QStringLiteral("Velloran.chm");
}

// The manual installed with the program: share/velloran beside the bin
// folder that holds the executable.
QString installedManualPath(const QString &applicationDir);

// The manual to show: the one in the working directory first, else the
// installed one; an empty string when there is neither. The installed copy is
// found from the executable's folder rather than a path fixed at build time,
// so that a staged or moved installation finds its own.
QString findManual(const QString &applicationDir);

// The program that shows the manual: the HTML Help viewer on Windows;
// elsewhere the first CHM viewer on the search path, else the desktop's
// opener for the file type; empty when there is neither.
QString helpViewerProgram();

#endif // HELPVIEWER_H
