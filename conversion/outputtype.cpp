#include "conversion/outputtype.h"

#include "engine/image/imageformat.h"

#include <QCoreApplication>

const QList<OutputType> &outputTypes()
{
    // The types the format table offers in the window, in its order.
    static const QList<OutputType> types = [] {
        QList<OutputType> offered;
        for (const ImageFormatFacts &facts : imageFormats()) {
            if (facts.windowText)
                offered.append(OutputType{facts.windowText, facts.extension});
        }
        return offered;
    }();
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
