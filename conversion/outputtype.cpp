#include "conversion/outputtype.h"

#include <QCoreApplication>

const QList<OutputType> &outputTypes()
{
    static const QList<OutputType> types = {
        {QT_TRANSLATE_NOOP("MainWindow", "JPEG format"), "jpg"},
        {QT_TRANSLATE_NOOP("MainWindow", "PNG format"), "png"},
        {QT_TRANSLATE_NOOP("MainWindow", "BMP format"), "bmp"},
        {QT_TRANSLATE_NOOP("MainWindow", "TIFF format"), "tiff"},
    };
    return types;
}

QString extensionForTypeText(const QString &comboText)
{
    for (const OutputType &type : outputTypes()) {
        if (comboText == QCoreApplication::translate("MainWindow", type.comboText))
            return QLatin1String(type.extension);
    }
    return QString();
}
