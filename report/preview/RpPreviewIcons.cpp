#include "report/preview/RpPreviewIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <cmath>
#include <map>

namespace {

const QColor kInk(40, 48, 64);
const QColor kPaper(255, 255, 255);
const QColor kAccent(36, 110, 190);

// A sheet of paper with a folded corner, in a 24-unit box.
void sheet(QPainter& p, const QRectF& r)
{
    const qreal fold = r.width() * 0.3;
    QPainterPath path;
    path.moveTo(r.topLeft());
    path.lineTo(r.right() - fold, r.top());
    path.lineTo(r.right(), r.top() + fold);
    path.lineTo(r.bottomRight());
    path.lineTo(r.bottomLeft());
    path.closeSubpath();
    p.setPen(QPen(kInk, 1.2));
    p.setBrush(kPaper);
    p.drawPath(path);
    p.drawLine(QPointF(r.right() - fold, r.top()), QPointF(r.right() - fold, r.top() + fold));
    p.drawLine(QPointF(r.right() - fold, r.top() + fold), QPointF(r.right(), r.top() + fold));
}

void lines(QPainter& p, const QRectF& r, int n)
{
    p.setPen(QPen(QColor(150, 160, 175), 1.0));
    for (int i = 0; i < n; ++i) {
        const qreal y = r.top() + 7 + i * 3;
        if (y > r.bottom() - 2)
            break;
        p.drawLine(QPointF(r.left() + 3, y), QPointF(r.right() - 3, y));
    }
}

// A triangle pointing left (dir -1) or right (dir 1) centred at x.
void arrow(QPainter& p, qreal x, int dir)
{
    QPolygonF tri;
    tri << QPointF(x + 4.5 * dir, 12) << QPointF(x - 4.5 * dir, 5) << QPointF(x - 4.5 * dir, 19);
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawPolygon(tri);
}

void bar(QPainter& p, qreal x)
{
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawRect(QRectF(x - 1.25, 5, 2.5, 14));
}

void printer(QPainter& p)
{
    p.setPen(QPen(kInk, 1.2));
    p.setBrush(kPaper);
    p.drawRect(QRectF(7, 2.5, 10, 7));                    // paper going in
    p.setBrush(QColor(190, 198, 210));
    p.drawRoundedRect(QRectF(2.5, 9, 19, 9), 2, 2);        // body
    p.setBrush(kPaper);
    p.drawRect(QRectF(6.5, 14.5, 11, 7));                  // page coming out
    p.setPen(QPen(QColor(150, 160, 175), 1.0));
    p.drawLine(QPointF(8.5, 17.5), QPointF(15.5, 17.5));
    p.drawLine(QPointF(8.5, 19.5), QPointF(13.5, 19.5));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 170, 80));
    p.drawEllipse(QPointF(18.5, 11.5), 1.1, 1.1);
}

void draw(QPainter& p, TRpPreviewIcon kind)
{
    switch (kind) {
    case TRpPreviewIcon::ZoomFit: {
        const QRectF page(6.5, 2.5, 11, 19);
        sheet(p, page);
        lines(p, page, 4);
        p.setPen(QPen(kAccent, 1.6));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(3, 1, 18, 22).adjusted(0.5, 0.5, -0.5, -0.5));
        break;
    }
    case TRpPreviewIcon::Zoom100: {
        const QRectF page(3.5, 2.5, 17, 19);
        sheet(p, page);
        QFont f(QStringLiteral("DejaVu Sans"));
        f.setPixelSize(8);
        f.setBold(true);
        p.setFont(f);
        p.setPen(kAccent);
        p.drawText(QRectF(2, 8, 20, 10), Qt::AlignCenter, QStringLiteral("100"));
        break;
    }
    case TRpPreviewIcon::ZoomWidth: {
        const QRectF page(2.5, 4.5, 19, 17);
        sheet(p, page);
        lines(p, page, 4);
        p.setPen(QPen(kAccent, 1.6));
        p.drawLine(QPointF(1.5, 2), QPointF(22.5, 2));
        p.setPen(Qt::NoPen);
        p.setBrush(kAccent);
        p.drawPolygon(QPolygonF() << QPointF(0.5, 2) << QPointF(4.5, -0.5) << QPointF(4.5, 4.5));
        p.drawPolygon(QPolygonF() << QPointF(23.5, 2) << QPointF(19.5, -0.5) << QPointF(19.5, 4.5));
        break;
    }
    case TRpPreviewIcon::FirstPage:
        bar(p, 6);
        arrow(p, 13, -1);
        break;
    case TRpPreviewIcon::PreviousPage:
        arrow(p, 12, -1);
        break;
    case TRpPreviewIcon::NextPage:
        arrow(p, 12, 1);
        break;
    case TRpPreviewIcon::LastPage:
        arrow(p, 11, 1);
        bar(p, 18);
        break;
    case TRpPreviewIcon::Print:
        printer(p);
        break;
    case TRpPreviewIcon::PrintSetup: {
        p.save();
        p.translate(-1.5, 2);
        p.scale(0.8, 0.8);
        printer(p);
        p.restore();
        // A cog over the printer's corner.
        p.setPen(QPen(kInk, 1.0));
        p.setBrush(QColor(230, 170, 40));
        QPainterPath cog;
        const QPointF c(17.5, 7);
        for (int i = 0; i < 8; ++i) {
            const double a = i * 3.14159265358979 / 4;
            const QPointF tip = c + QPointF(std::cos(a) * 6, std::sin(a) * 6);
            cog.addRect(QRectF(tip - QPointF(1.2, 1.2), QSizeF(2.4, 2.4)));
        }
        cog.addEllipse(c, 4.5, 4.5);
        p.drawPath(cog.simplified());
        p.setBrush(kPaper);
        p.drawEllipse(c, 1.8, 1.8);
        break;
    }
    case TRpPreviewIcon::Save: {
        // A diskette: body, shutter and label.
        p.setPen(QPen(kInk, 1.2));
        p.setBrush(kAccent);
        QPainterPath body;
        body.moveTo(3, 3);
        body.lineTo(18, 3);
        body.lineTo(21, 6);
        body.lineTo(21, 21);
        body.lineTo(3, 21);
        body.closeSubpath();
        p.drawPath(body);
        p.setBrush(QColor(210, 215, 222));
        p.drawRect(QRectF(7, 3, 9, 6));
        p.setBrush(kInk);
        p.drawRect(QRectF(12.5, 4.2, 2, 3.6));
        p.setBrush(kPaper);
        p.drawRect(QRectF(6, 12.5, 12, 8.5));
        p.setPen(QPen(QColor(150, 160, 175), 1.0));
        p.drawLine(QPointF(8, 15.5), QPointF(16, 15.5));
        p.drawLine(QPointF(8, 18), QPointF(16, 18));
        break;
    }
    case TRpPreviewIcon::Load: {
        // An open folder.
        p.setPen(QPen(QColor(120, 85, 20), 1.2));
        p.setBrush(QColor(230, 180, 70));
        QPainterPath back;
        back.moveTo(2.5, 6);
        back.lineTo(8.5, 6);
        back.lineTo(10.5, 8);
        back.lineTo(19.5, 8);
        back.lineTo(19.5, 19.5);
        back.lineTo(2.5, 19.5);
        back.closeSubpath();
        p.drawPath(back);
        p.setBrush(QColor(250, 210, 110));
        QPainterPath front;
        front.moveTo(2.5, 19.5);
        front.lineTo(6, 11);
        front.lineTo(22.5, 11);
        front.lineTo(19.5, 19.5);
        front.closeSubpath();
        p.drawPath(front);
        break;
    }
    }
}

QPixmap render(TRpPreviewIcon kind, int scale)
{
    QPixmap pm(24 * scale, 24 * scale);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    draw(p, kind);
    return pm;
}

} // namespace

QIcon rpPreviewIcon(TRpPreviewIcon kind)
{
    // Drawn once per program run: every preview window opens with the same tool bar.
    static std::map<TRpPreviewIcon, QIcon> icons;
    QIcon& icon = icons[kind];
    if (icon.isNull()) {
        icon.addPixmap(render(kind, 1));
        icon.addPixmap(render(kind, 2));
    }
    return icon;
}
