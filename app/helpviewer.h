#ifndef HELPVIEWER_H
#define HELPVIEWER_H

#include <QString>

// The manual's file name, looked up in the working directory.
inline QString manualFileName()
{
    return QStringLiteral("Velloran.chm");
}

// The program that shows the manual: the HTML Help viewer on Windows;
// elsewhere the first CHM viewer on the search path, else the desktop's
// opener for the file type.
QString helpViewerProgram();

#endif // HELPVIEWER_H
