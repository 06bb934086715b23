#include "app/helpviewer.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

QString installedManualPath(const QString &applicationDir)
{
    return QDir::cleanPath(applicationDir + QLatin1String("/../share/velloran/") + manualFileName());
}

QString findManual(const QString &applicationDir)
{
    if (QFile::exists(manualFileName()))
        return manualFileName();
    const QString installed = installedManualPath(applicationDir);
    if (QFile::exists(installed))
        return installed;
    return QString();
}

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
    return QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
#endif
}
