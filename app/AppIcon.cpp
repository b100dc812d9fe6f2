#include "app/AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

QImage drawApplicationIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(Qt::white);
    p.setPen(QPen(QColor(120, 120, 120), size / 16.0));
    p.drawRoundedRect(QRectF(0.5, 0.5, size - 1, size - 1), size / 6.0, size / 6.0);
    QPainterPath drop;
    const double s = size;
    drop.moveTo(s * 0.5, s * 0.12);
    drop.cubicTo(s * 0.62, s * 0.35, s * 0.8, s * 0.5, s * 0.8, s * 0.64);
    drop.arcTo(QRectF(s * 0.2, s * 0.34, s * 0.6, s * 0.6), 0, -180);
    drop.cubicTo(s * 0.2, s * 0.5, s * 0.38, s * 0.35, s * 0.5, s * 0.12);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(190, 20, 30));
    p.drawPath(drop);
    p.end();
    return image;
}

QIcon applicationIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64})
        icon.addPixmap(QPixmap::fromImage(drawApplicationIcon(size)));
    return icon;
}
