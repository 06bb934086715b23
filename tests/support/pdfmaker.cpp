#include "support/pdfmaker.h"

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
