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

bool makeDrawingPdf(const QString &path, int pathCount, const QSizeF &pageSize, int pageCount)
{
    QPdfWriter writer(path);
    QPainter painter;
    if (!begin(writer, painter, pageSize))
        return false;
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF page(QPointF(0, 0), pageSize);

    for (int n = 0; n < pageCount; ++n) {
        if (n > 0 && !writer.newPage())
            return false;
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
    }
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

bool makeTestCardPdf(const QString &path, const QSizeF &pageSize)
{
    QPdfWriter writer(path);
    QPainter painter;
    if (!begin(writer, painter, pageSize))
        return false;
    painter.setRenderHint(QPainter::Antialiasing);
    const double w = pageSize.width();
    const double h = pageSize.height();
    // A margin of nothing, so that a page drawn without paper keeps transparent pixels.
    const QRectF inner(2, 2, w - 4, h - 4);
    QLinearGradient down(0, 0, 0, h);
    down.setColorAt(0, QColor(250, 230, 20));
    down.setColorAt(1, QColor(10, 60, 240));
    painter.fillRect(QRectF(inner.left(), inner.top(), inner.width() / 2, inner.height()), down);
    QLinearGradient across(0, 0, w, 0);
    across.setColorAt(0, QColor(240, 20, 120));
    across.setColorAt(1, QColor(20, 220, 90));
    painter.fillRect(QRectF(w / 2, inner.top(), inner.width() / 2, inner.height()), across);

    const double block = qMin(w, h) / 5;
    painter.fillRect(QRectF(inner.left(), inner.top(), block, block), QColor(255, 0, 0));
    painter.fillRect(QRectF(inner.right() - block, inner.top(), block, block), QColor(0, 255, 0));
    painter.fillRect(QRectF(inner.left(), inner.bottom() - block, block, block), QColor(0, 0, 255));
    painter.fillRect(QRectF(inner.right() - block, inner.bottom() - block, block, block), QColor(255, 255, 255));

    // Either side of every band edge of 16 rows at 72 dpi.
    for (double y = 16; y < h; y += 16) {
        painter.setPen(QPen(QColor(0, 0, 0), 0));
        painter.drawLine(QPointF(0, y - 0.5), QPointF(w, y - 0.5));
        painter.setPen(QPen(QColor(255, 255, 255), 0.6));
        painter.drawLine(QPointF(w / 8, y + 0.8), QPointF(w * 7 / 8, y + 0.8));
    }
    painter.setPen(QPen(QColor(120, 0, 200), 0));
    for (double x = 0.5; x < w; x += 13)
        painter.drawLine(QPointF(x, h / 4), QPointF(x, h * 3 / 4));

    painter.setPen(QPen(QColor(0, 160, 255, 128), 3));
    painter.setBrush(QColor(255, 120, 0, 90));
    painter.drawEllipse(QRectF(w / 4, h / 5, w / 2, h * 3 / 5));
    painter.drawLine(QPointF(0, h), QPointF(w, 0));
    return painter.end();
}
