#include "benchpdf.h"

#include <QImage>
#include <QLinearGradient>
#include <QPageSize>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>

#include <cmath>

namespace {

QImage photo()
{
    QImage image(480, 320, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const double v = std::sin(x * 0.05) * std::cos(y * 0.07);
            line[x] = qRgb(int(127 + 120 * v), (x * 255) / image.width(), (y * 255) / image.height());
        }
    }
    return image;
}

void drawPage(QPainter &painter, int number, const QImage &picture)
{
    const QString body = QStringLiteral(
        "The quarterly figures show a steady rise in orders across all regions, while costs stayed "
        "within the planned range. Shipping times improved after the new warehouse opened in spring.");

    painter.setPen(Qt::black);
    QFont font(QStringLiteral("DejaVu Serif"));
    font.setPixelSize(22);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRectF(50, 40, 495, 30), QStringLiteral("Section %1: Results").arg(number));

    font.setPixelSize(10);
    font.setBold(false);
    painter.setFont(font);
    for (int i = 0; i < 4; ++i)
        painter.drawText(QRectF(50, 85 + i * 52, 495, 50), Qt::TextWordWrap, body);

    painter.drawImage(QRectF(50, 300, 240, 160), picture);
    QLinearGradient gradient(300, 300, 545, 460);
    gradient.setColorAt(0, QColor(30, 90, 160));
    gradient.setColorAt(1, QColor(220, 235, 250));
    painter.fillRect(QRectF(305, 300, 240, 160), gradient);

    painter.setPen(QPen(Qt::darkGray, 0.5));
    for (int row = 0; row <= 10; ++row)
        painter.drawLine(QLineF(50, 490 + row * 22, 545, 490 + row * 22));
    for (int col = 0; col <= 4; ++col)
        painter.drawLine(QLineF(50 + col * 123.75, 490, 50 + col * 123.75, 710));
    for (int row = 0; row < 10; ++row)
        for (int col = 0; col < 4; ++col)
            painter.drawText(QRectF(55 + col * 123.75, 492 + row * 22, 115, 20), Qt::AlignVCenter,
                             QString::number((number * 97 + row * 13 + col * 7) % 1000 * 1.25, 'f', 2));

    painter.setPen(QPen(QColor(160, 20, 20), 1.5));
    QPainterPath curve(QPointF(50, 780));
    for (int x = 0; x <= 495; x += 15)
        curve.lineTo(50 + x, 780 - 40 * std::sin((x + number * 20) * 0.03));
    painter.drawPath(curve);
}

} // namespace

bool makeBenchPdf(const QString &path, int pageCount)
{
    QPdfWriter writer(path);
    writer.setResolution(72);
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setPageSize(QPageSize(QPageSize::A4));

    const QImage picture = photo();
    QPainter painter;
    if (!painter.begin(&writer))
        return false;
    for (int i = 0; i < pageCount; ++i) {
        if (i > 0)
            writer.newPage();
        drawPage(painter, i + 1, picture);
    }
    return painter.end();
}
