#include "support/popplertools.h"

#include "support/pdfmaker.h"
#include "support/readback.h"
#include "support/warnings.h"

#include <QFile>
#include <QProcess>

ToolRun runTool(const QString &program, const QStringList &arguments, const QString &folder, const QByteArray &input,
                const QString &zone)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    if (!zone.isNull()) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TZ"), zone);
        process.setProcessEnvironment(environment);
    }
    process.start(program, arguments);
    // Standard input ends after input: a program that reads it never waits.
    process.write(input);
    process.closeWriteChannel();
    ToolRun result;
    if (!process.waitForFinished(240000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    // Without what a sanitizer's runtime adds of its own: the real tools' lines are compared to these.
    result.err = programErrors(process.readAllStandardError()).toUtf8();
    return result;
}

bool makeBoxesPdf(const QString &path, const QStringList &pages)
{
    QList<QByteArray> objects{"<< /Type /Catalog /Pages 2 0 R >>"};
    QByteArray kids;
    for (int i = 0; i < pages.size(); ++i)
        kids += QByteArray::number(3 + 2 * i) + " 0 R ";
    objects << "<< /Type /Pages /Kids [" + kids + "] /Count " + QByteArray::number(pages.size()) + " >>";
    for (int i = 0; i < pages.size(); ++i) {
        const QStringList v = pages.at(i).split(QLatin1Char(','));
        const QByteArray crop = v.size() > 3 ? " /CropBox [" + v.mid(3).join(QLatin1Char(' ')).toLatin1() + "]" : "";
        objects << "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + v.at(0).toLatin1() + ' ' + v.at(1).toLatin1() + "]"
                       + crop + " /Rotate " + v.value(2, QStringLiteral("0")).toLatin1() + " /Contents "
                       + QByteArray::number(4 + 2 * i) + " 0 R >>";
        const QByteArray content = "1 0 0 rg 10 10 50 30 re f 0 0 1 rg 2 w 0 0 m " + v.at(0).toLatin1() + ' '
                                   + v.at(1).toLatin1() + " l S";
        objects << "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream";
    }
    return writePdfObjects(path, objects);
}

QString imageHeader(const QByteArray &bytes, qsizetype *length)
{
    if (bytes.startsWith("P4") || bytes.startsWith("P5") || bytes.startsWith("P6")) {
        const bool mono = bytes.startsWith("P4");
        QList<QByteArray> fields;
        qsizetype at = 2;
        while (fields.size() < (mono ? 2 : 3) && at < bytes.size()) {
            while (at < bytes.size() && QChar(bytes.at(at)).isSpace())
                ++at;
            const qsizetype start = at;
            while (at < bytes.size() && !QChar(bytes.at(at)).isSpace())
                ++at;
            fields << bytes.mid(start, at - start);
        }
        const qint64 w = fields.value(0).toLongLong();
        const qint64 h = fields.value(1).toLongLong();
        const qint64 row = bytes.startsWith("P6") ? w * 3 : bytes.startsWith("P5") ? w : (w + 7) / 8;
        if (length)
            *length = at + 1 + row * h;
        return QStringLiteral("%1 %2 %3 %4").arg(QString::fromLatin1(bytes.left(2))).arg(w).arg(h)
            .arg(QString::fromLatin1(fields.value(2)));
    }
    if (bytes.startsWith("\x89PNG") && bytes.size() >= 26) {
        const auto *p = reinterpret_cast<const uchar *>(bytes.constData());
        const quint32 w = quint32(p[16]) << 24 | quint32(p[17]) << 16 | quint32(p[18]) << 8 | p[19];
        const quint32 h = quint32(p[20]) << 24 | quint32(p[21]) << 16 | quint32(p[22]) << 8 | p[23];
        return QStringLiteral("PNG %1 %2 type %3 depth %4").arg(w).arg(h).arg(p[25]).arg(p[24]);
    }
    if (bytes.startsWith("\xff\xd8")) {
        const DecodedImage image = readJpeg(bytes);
        return QStringLiteral("JPEG %1 %2 %3").arg(image.width).arg(image.height).arg(image.channels);
    }
    return QStringLiteral("unknown");
}

QString fileHeader(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("unreadable");
    if (path.endsWith(QLatin1String(".tif"))) {
        const DecodedImage image = readTiff(path);
        QString error;
        const QList<TiffPage> pages = tiffPages(path, &error);
        return QStringLiteral("TIFF %1 %2 %3 depth %4")
            .arg(image.width)
            .arg(image.height)
            .arg(image.channels)
            .arg(pages.isEmpty() ? 0 : pages.constFirst().bitsPerSample);
    }
    return imageHeader(path.endsWith(QLatin1String(".jpg")) ? file.readAll() : file.read(64));
}
