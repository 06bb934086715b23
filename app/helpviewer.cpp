#include "app/helpviewer.h"

#include <QStandardPaths>

QString helpViewerProgram()
{
#ifdef Q_OS_WIN
    return QStringLiteral("hh.exe");
#else
    for (const char *viewer : {"xchm", "kchmviewer"}) {
        const QString found = QStandardPaths::findExecutable(QLatin1String(viewer));
        if (!found.isEmpty())
            return found;
    }
    return QStringLiteral("xdg-open");
#endif
}
