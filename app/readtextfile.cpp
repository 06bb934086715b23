#include "app/readtextfile.h"

#include <QFile>
#include <QTextStream>

QString readTextFile(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly | QIODevice::Text);
    QTextStream stream(&file);
    return stream.readAll();
}
