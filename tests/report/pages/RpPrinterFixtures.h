#pragma once
// Recorded documents for the recorder tests: pages drawn through the recorder's canvas with every
// kind of drawing a report uses, so that saved files carry real page images.
#include "platform/canvas/PageCanvas.h"
#include "platform/print/PrinterInfo.h"
#include "report/pages/RpPrinter.h"

#include <QImage>

namespace rpfixtures {

// Draws page `page` of a document: bands, frames, shapes, Cyrillic and Latin text, a bitmap, clips.
inline void drawPage(TRpPrinter& rp, int page, int lines = 10)
{
    PageCanvas& c = *rp.Canvas();
    c.fillRect({rp.XPos(100), rp.YPos(100), rp.XPos(1000), rp.YPos(170)}, QColor(230, 230, 230));
    c.setPen({CanvasPenStyle::Solid, 1, Qt::black});
    c.setBrush({CanvasBrushStyle::Clear, Qt::white});
    c.rectangle({rp.XPos(100), rp.YPos(100), rp.XPos(1000), rp.YPos(170)});
    c.setBrush({CanvasBrushStyle::Solid, QColor(200, 0, 0)});
    c.ellipse({rp.XPos(1100), rp.YPos(100), rp.XPos(1300), rp.YPos(200)});
    c.moveTo(rp.XPos(100), rp.YPos(220));
    c.lineTo(rp.XPos(1900), rp.YPos(220));
    CanvasFont font;
    font.face = QStringLiteral("Arial");
    font.height = -13;
    font.charset = 204;
    c.setFont(font);
    c.setTextColor(Qt::black);
    c.setTextAlign(CanvasTextAlign::Left);
    c.save();
    c.intersectClipRect({rp.XPos(100), rp.YPos(250), rp.XPos(1900), rp.YPos(2500)});
    for (int i = 0; i < lines; ++i)
        c.textOut(rp.XPos(120), rp.YPos(250 + 45 * i),
                  QStringLiteral("Страница %1, строка %2: WBC 6.4 RBC 4.52 HGB 138").arg(page).arg(i + 1));
    c.restore();
    c.setTextAlign(CanvasTextAlign::Right);
    c.textOut(rp.XPos(1900), rp.YPos(110), QStringLiteral("Page %1").arg(page));
    QImage img(8, 6, QImage::Format_RGB32);
    img.fill(QColor(0, 0, 255 - page));
    c.stretchImage({rp.XPos(1500), rp.YPos(100), rp.XPos(1700), rp.YPos(200)}, img);
}

// A finished document of `pages` pages.
inline void recordDocument(TRpPrinter& rp, int pages, int lines = 10)
{
    rp.BeginDoc();
    for (int p = 1; p <= pages; ++p) {
        rp.NewPage();
        drawPage(rp, p, lines);
    }
    rp.EndDoc();
}

// A printer that offers only A4 and Letter.
inline PrinterDescription officePrinter()
{
    PrinterDescription d;
    d.name = QStringLiteral("Office");
    d.paperCodes = {1, 9};
    d.defaultPaperCode = 9;
    d.defaultPaperMm = QSizeF(210, 297);
    return d;
}

} // namespace rpfixtures
