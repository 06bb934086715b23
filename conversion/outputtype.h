#ifndef OUTPUTTYPE_H
#define OUTPUTTYPE_H

#include <QString>
#include <QStringList>

// The output types offered in the window, in combo-box order: those of the
// format table (engine/image/imageformat) that have a window text.
struct OutputType
{
    const char *comboText; // untranslated, context "MainWindow"
    const char *extension; // lower case, no dot; picks the image writer
};

const QList<OutputType> &outputTypes();

// Extension for a combo-box text, or an empty string when it names no type.
QString extensionForTypeText(const QString &comboText);

#endif // OUTPUTTYPE_H
