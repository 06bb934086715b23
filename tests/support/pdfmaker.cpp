#include "support/pdfmaker.h"

#include <QFile>
#include <QFont>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

bool makePdf(const QString &path, const QList<QSizeF> &pageSizes)
{
    if (pageSizes.isEmpty())
        return false;
    QPdfWriter writer(path);
    writer.setResolution(72);
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setPageSize(QPageSize(pageSizes.first(), QPageSize::Point));

    QPainter painter;
    if (!painter.begin(&writer))
        return false;
    for (int i = 0; i < pageSizes.size(); ++i) {
        if (i > 0) {
            writer.setPageSize(QPageSize(pageSizes.at(i), QPageSize::Point));
            writer.newPage();
        }
        const QRectF page(QPointF(0, 0), pageSizes.at(i));
        painter.setPen(QPen(Qt::darkBlue, 4));
        painter.drawRect(page.adjusted(10, 10, -10, -10));
        QFont font = painter.font();
        font.setPixelSize(qMax(1, int(qMin(page.width(), page.height()) / 4)));
        painter.setFont(font);
        painter.drawText(page, Qt::AlignCenter, QString::number(i + 1));
    }
    return painter.end();
}

bool makePdf(const QString &path, int pageCount)
{
    return makePdf(path, QList<QSizeF>(pageCount, a4Portrait));
}

bool writePdfObjects(const QString &path, const QList<QByteArray> &objects, const QByteArray &version,
                     const QByteArray &trailerEntries)
{
    QByteArray pdf = "%PDF-" + version + "\n";
    QList<qsizetype> offsets;
    for (qsizetype i = 0; i < objects.size(); ++i) {
        offsets << pdf.size();
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects.at(i) + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R "
           + (trailerEntries.isEmpty() ? QByteArray() : trailerEntries + ' ') + ">>\nstartxref\n"
           + QByteArray::number(xref) + "\n%%EOF\n";
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(pdf) == pdf.size();
}

bool makeLinearizedPdf(const QString &path, qint64 claimedPages)
{
    const QByteArray content = "0 0 1 rg 100 100 200 200 re f";
    const QList<QByteArray> rest = {
        "<< /Type /Catalog /Pages 3 0 R >>",
        "<< /Type /Pages /Kids [4 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 3 0 R /MediaBox [0 0 595 842] /Contents 5 0 R >>",
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream",
    };
    // The length is written into the file it measures: tried until it holds.
    QByteArray pdf;
    qsizetype length = 0;
    do {
        length = pdf.size();
        pdf = "%PDF-1.4\n";
        QList<qsizetype> offsets{pdf.size()};
        pdf += "1 0 obj\n<< /Linearized 1 /L " + QByteArray::number(length) + " /O 4 /E 0 /N "
               + QByteArray::number(claimedPages) + " /T 0 /H [0 0] >>\nendobj\n";
        for (qsizetype i = 0; i < rest.size(); ++i) {
            offsets << pdf.size();
            pdf += QByteArray::number(i + 2) + " 0 obj\n" + rest.at(i) + "\nendobj\n";
        }
        const qsizetype xref = pdf.size();
        pdf += "xref\n0 " + QByteArray::number(offsets.size() + 1) + "\n0000000000 65535 f \n";
        for (qsizetype offset : offsets)
            pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
        pdf += "trailer\n<< /Size " + QByteArray::number(offsets.size() + 1) + " /Root 2 0 R >>\nstartxref\n"
               + QByteArray::number(xref) + "\n%%EOF\n";
    } while (pdf.size() != length);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(pdf) == pdf.size();
}
