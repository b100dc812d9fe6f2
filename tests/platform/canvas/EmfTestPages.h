#pragma once
// Pages and image helpers shared by the page-image tests.
#include "fuzz/entries/HostilePages.h"
#include "platform/canvas/EmfFormat.h"
#include "platform/canvas/EmfPlayer.h"
#include "platform/canvas/EmfRecorder.h"
#include "platform/canvas/PageCanvas.h"
#include "platform/canvas/PainterCanvas.h"

#include <QImage>
#include <QPainter>
#include <functional>

namespace emftest {

inline const QSize kA4Pixels(794, 1123);
inline const QSizeF kA4Millimetres(210, 297);

// A small 24-bit picture with four coloured quarters and a one-pixel black border, so that
// stretching and row order show in the result.
inline QImage quarters(int w = 8, int h = 6)
{
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            QRgb c = x < w / 2 ? (y < h / 2 ? qRgb(255, 0, 0) : qRgb(0, 0, 255)) : (y < h / 2 ? qRgb(0, 200, 0) : qRgb(255, 255, 0));
            if (x == 0 || y == 0 || x == w - 1 || y == h - 1)
                c = qRgb(0, 0, 0);
            img.setPixel(x, y, c);
        }
    return img;
}

// Every operation of the canvas, laid out in separate areas of an A4 page. The large title stands
// apart, at its own left edge: Inkscape joins text records that share a left edge into one block
// and lays that out itself, which would move the title.
inline void drawEveryOperation(PageCanvas& c)
{
    c.fillRect({40, 40, 200, 60}, QColor(255, 220, 0));
    CanvasPen pen;
    c.setPen(pen);
    CanvasBrush brush{CanvasBrushStyle::Solid, QColor(0, 0, 255)};
    c.setBrush(brush);
    c.rectangle({40, 80, 200, 140});
    c.setPen({CanvasPenStyle::Solid, 3, QColor(200, 0, 0)});
    c.setBrush({CanvasBrushStyle::Clear, Qt::white});
    c.ellipse({240, 80, 400, 140});
    c.setPen({CanvasPenStyle::Dash, 1, QColor(0, 128, 0)});
    c.setBrush({CanvasBrushStyle::DiagCross, QColor(128, 0, 128)});
    c.rectangle({440, 80, 600, 140});
    c.setPen({CanvasPenStyle::Clear, 1, Qt::black});
    c.setBrush({CanvasBrushStyle::Solid, QColor(0, 160, 160)});
    c.rectangle({640, 80, 740, 140});
    c.setPen({CanvasPenStyle::Solid, 1, QColor(0, 150, 0)});
    c.moveTo(40, 170);
    c.lineTo(740, 170);
    c.moveTo(400, 180);
    c.lineTo(400, 240);
    c.lineTo(500, 240);

    CanvasFont f;
    c.setFont(f);
    c.setTextColor(Qt::black);
    c.setTextAlign(CanvasTextAlign::Left);
    c.textOut(40, 260, QStringLiteral("Left aligned WBC 6.5 g/L"));
    c.setTextAlign(CanvasTextAlign::Right);
    c.textOut(740, 260, QStringLiteral("Right aligned"));
    c.setTextAlign(CanvasTextAlign::Center);
    c.textOut(397, 300, QStringLiteral("Centred text"));
    c.setTextAlign(CanvasTextAlign::Left);
    f.height = -21;
    f.bold = true;
    f.charset = 204;
    c.setFont(f);
    c.setTextColor(QColor(0, 0, 160));
    c.textOut(90, 780, QStringLiteral("Результат гематологического анализа"));
    f = CanvasFont();
    f.italic = true;
    f.underline = true;
    c.setFont(f);
    c.textOut(40, 410, QStringLiteral("Italic underlined Пациент"));
    f.italic = false;
    f.underline = false;
    f.strikeOut = true;
    f.face = QStringLiteral("Times New Roman");
    f.height = -16;
    c.setFont(f);
    c.textOut(400, 410, QStringLiteral("Struck out Дата"));
    f = CanvasFont();
    c.setFont(f);
    c.setTextTransparent(false);
    c.setBackgroundColor(QColor(255, 200, 200));
    c.setTextColor(Qt::black);
    c.textOut(40, 460, QStringLiteral("Opaque background"));
    c.setTextTransparent(true);

    // Clipping, with state saved around it.
    c.save();
    c.intersectClipRect({40, 500, 140, 530});
    c.setBrush({CanvasBrushStyle::Solid, QColor(255, 0, 255)});
    c.setPen({CanvasPenStyle::Solid, 1, Qt::black});
    c.rectangle({20, 490, 300, 560});
    c.textOut(40, 510, QStringLiteral("Clipped text running well past the clip"));
    c.restore();
    c.rectangle({320, 500, 420, 540}); // pen and brush as before save: green outline, teal fill
    c.intersectClipRect({440, 500, 500, 540});
    c.fillRect({430, 490, 600, 560}, Qt::red);
    c.removeClip();
    c.fillRect({520, 500, 560, 540}, Qt::green);

    c.stretchImage({40, 600, 200, 720}, quarters());
    c.stretchImage({240, 600, 260, 610}, quarters(40, 30));
}

inline QImage blankPage(QSize size = kA4Pixels)
{
    QImage img(size, QImage::Format_RGB32);
    img.fill(Qt::white);
    return img;
}

inline QByteArray recordPage(const std::function<void(PageCanvas&)>& draw, QSize px = kA4Pixels, QSizeF mm = kA4Millimetres)
{
    EmfRecorder rec(px, mm, QString::fromUtf16(u"Hematix\0Test", 12));
    draw(rec);
    return rec.finish();
}

inline QImage playPage(const QByteArray& emf, bool antialias, QSize size = kA4Pixels)
{
    QImage img = blankPage(size);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, antialias);
    p.setRenderHint(QPainter::TextAntialiasing, antialias);
    EmfPlayer::play(emf, p, QRectF(0, 0, size.width(), size.height()));
    return img;
}

inline QImage paintDirect(const std::function<void(PageCanvas&)>& draw, bool antialias, QSize size = kA4Pixels)
{
    QImage img = blankPage(size);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, antialias);
    p.setRenderHint(QPainter::TextAntialiasing, antialias);
    {
        PainterCanvas c(p, size);
        draw(c);
    }
    return img;
}

inline int differingPixels(const QImage& a, const QImage& b, QRect* where = nullptr)
{
    if (a.size() != b.size())
        return -1;
    int n = 0;
    QRect box;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y)) {
                ++n;
                box |= QRect(x, y, 1, 1);
            }
    if (where)
        *where = box;
    return n;
}

// Bounding box of the pixels inside area that satisfy the predicate.
inline QRect inkBox(const QImage& img, const QRect& area, const std::function<bool(QRgb)>& is)
{
    QRect box;
    const QRect a = area.intersected(img.rect());
    for (int y = a.top(); y <= a.bottom(); ++y)
        for (int x = a.left(); x <= a.right(); ++x)
            if (is(img.pixel(x, y)))
                box |= QRect(x, y, 1, 1);
    return box;
}

inline bool isDark(QRgb c) { return qGray(c) < 128; }

using hostilepages::rec;

// A metafile with our header, the given records and an end record; nBytes and nRecords correct.
inline QByteArray assemble(const std::vector<QByteArray>& records, quint16 handles = 8, bool withEof = true)
{
    QByteArray page = recordPage([](PageCanvas&) {});
    const qsizetype headerSize = qsizetype(emf::loadU32(reinterpret_cast<const uchar*>(page.constData()) + 4));
    page.truncate(headerSize);
    for (const QByteArray& r : records)
        page += r;
    if (withEof)
        page += rec(emf::EMR_EOF, {0, 16, 20});
    emf::patchU32(page, 48, quint32(page.size()));
    emf::patchU32(page, 52, quint32(records.size() + 2));
    qToLittleEndian(handles, page.data() + 56);
    return page;
}

} // namespace emftest
