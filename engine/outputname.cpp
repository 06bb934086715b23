#include "engine/outputname.h"

#include <QDir>
#include <QFileInfo>

QString outputFileName(const QString &pdfPath, int pageIndex, const QString &extension)
{
    // Concatenation, not QString::arg: arg() would expand a "%1" inside the base name.
    return QFileInfo(pdfPath).completeBaseName() + QLatin1Char('_') + QString::number(pageIndex + 1)
           + QLatin1Char('.') + extension;
}

QString outputFilePath(const QDir &outputDir, const QString &fileName)
{
    return QFileInfo(outputDir, fileName).absoluteFilePath();
}
