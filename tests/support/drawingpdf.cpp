#include "support/drawingpdf.h"

#include <QLinearGradient>
#include <QPageSize>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QRandomGenerator>

namespace {

bool begin(QPdfWriter &writer, QPainter &painter, const QSizeF &pageSize)
{
    writer.setResolution(72);
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setPageSize(QPageSize(pageSize, QPageSize::Point));
    return painter.begin(&writer);
}

void drawFixedParts(QPainter &painter, const QRectF &page)
{
    QLinearGradient gradient(page.topLeft(), page.bottomRight());
    gradient.setColorAt(0, QColor(250, 240, 200));
    gradient.setColorAt(1, QColor(200, 230, 250));
    painter.fillRect(page.adjusted(20, 20, -20, -page.height() / 2), gradient);

    painter.setPen(QPen(Qt::black, 0)); // hairlines: one device pixel at any resolution
    for (double y = 30; y < page.height() - 30; y += 7.3)
        painter.drawLine(QPointF(30, y), QPointF(page.width() - 30, y));
    painter.setPen(QPen(Qt::darkRed, 2.5));
    painter.drawLine(page.topLeft(), page.bottomRight());
    painter.setBrush(QColor(40, 120, 60));
    painter.drawEllipse(page.center(), page.width() / 6, page.height() / 9);

    QFont font = painter.font();
    for (int size = 5; size <= 29; size += 6) {
        font.setPixelSize(size);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(QPointF(40, page.height() / 2 + size * 6),
                         QStringLiteral("Section %1: the quick brown fox jumps over the lazy dog").arg(size));
    }
}

} // namespace

bool makeDrawingPdf(const QString &path, int pathCount, const QSizeF &pageSize)
{
    QPdfWriter writer(path);
    QPainter painter;
    if (!begin(writer, painter, pageSize))
        return false;
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF page(QPointF(0, 0), pageSize);

    QRandomGenerator random(7);
    auto point = [&] {
        return QPointF(random.bounded(pageSize.width()), random.bounded(pageSize.height()));
    };
    for (int i = 0; i < pathCount; ++i) {
        QPainterPath curve(point());
        curve.cubicTo(point(), point(), point());
        painter.setPen(QPen(QColor::fromRgb(random.generate() | 0xff000000u), 0.5 + random.bounded(4.0)));
        painter.setBrush(i % 3 ? Qt::NoBrush : QBrush(QColor::fromRgb(random.generate() & 0x7fffffffu)));
        painter.drawPath(curve);
    }
    // Last, so that a page made slow by its curves is slow from the start.
    drawFixedParts(painter, page);
    return painter.end();
}

bool makeRedBluePdf(const QString &path, const QSizeF &pageSize)
{
    QPdfWriter writer(path);
    QPainter painter;
    if (!begin(writer, painter, pageSize))
        return false;
    const double half = pageSize.width() / 2;
    painter.fillRect(QRectF(0, 0, half, pageSize.height()), QColor(255, 0, 0));
    painter.fillRect(QRectF(half, 0, half, pageSize.height()), QColor(0, 0, 255));
    return painter.end();
}
