#include "engine/outputname.h"

#include "engine/nativepath.h"

#include <QDir>
#include <QFileInfo>

QString outputFileName(const QString &pdfPath, int pageIndex, const QString &extension)
{
    // Concatenation, not QString::arg: arg() would expand a "%1" inside the base name.
    return QFileInfo(pdfPath).completeBaseName() + QLatin1Char('_') + QString::number(pageIndex + 1)
           + QLatin1Char('.') + extension;
}

QString paddedOutputFileName(const QString &pdfPath, int pageIndex, int pageCount, const QString &extension)
{
    const int width = int(QString::number(qMax(pageCount, 1)).size());
    return QFileInfo(pdfPath).completeBaseName() + QLatin1Char('_')
           + QStringLiteral("%1").arg(pageIndex + 1, width, 10, QLatin1Char('0')) + QLatin1Char('.') + extension;
}

QString documentFileName(const QString &pdfPath, const QString &extension)
{
    return QFileInfo(pdfPath).completeBaseName() + QLatin1Char('.') + extension;
}

QString outputFilePath(const QDir &outputDir, const QString &fileName)
{
    return absolutePathOf(outputDir.path() + QLatin1Char('/') + fileName);
}
