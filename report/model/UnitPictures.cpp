#include "report/model/UnitPictures.h"

#include "platform/Exception.h"

#include "report/model/RpItems.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QRegularExpression>
#include <QtEndian>

namespace unitpictures {
namespace {

constexpr QRgb kBlack = 0xFF000000;
constexpr QRgb kWhite = 0xFFFFFFFF;
// Grey level below which a smooth pixel counts as ink: light enough to keep thin strokes whole.
constexpr int kInk = 200;

QFont glyphFont(int pixelSize)
{
    QFont f(QStringLiteral("Liberation Sans"));
    f.setPixelSize(pixelSize);
    // Drawn smooth and then cut at mid grey: cleaner one-bit shapes than one-bit drawing.
    f.setStyleStrategy(QFont::PreferAntialias);
    f.setHintingPreference(QFont::PreferFullHinting);
    return f;
}

// Ink of a text drawn at a baseline, cut at the baseline (nothing below it) and trimmed to the
// columns and rows that hold ink. Baseline row of the result is its last row.
QImage inkAboveBaseline(const QString& text, int pixelSize)
{
    const int size = pixelSize * 4;
    QImage scratch(size * std::max<int>(1, static_cast<int>(text.size())), size, QImage::Format_RGB32);
    scratch.fill(kWhite);
    const int baseline = size * 3 / 4;
    {
        QPainter p(&scratch);
        p.setRenderHint(QPainter::TextAntialiasing, true);
        p.setFont(glyphFont(pixelSize));
        p.setPen(Qt::black);
        p.drawText(pixelSize, baseline, text);
    }
    int minX = scratch.width(), maxX = -1, minY = baseline;
    for (int y = 0; y < baseline; ++y)
        for (int x = 0; x < scratch.width(); ++x)
            if (qGray(scratch.pixel(x, y)) < kInk) {
                minX = std::min(minX, x);
                maxX = std::max(maxX, x);
                minY = std::min(minY, y);
            }
    if (maxX < 0)
        return {};
    QImage ink = scratch.copy(minX, minY, maxX - minX + 1, baseline - minY);
    for (int y = 0; y < ink.height(); ++y)
        for (int x = 0; x < ink.width(); ++x)
            ink.setPixel(x, y, qGray(ink.pixel(x, y)) < kInk ? kBlack : kWhite);
    return ink;
}

// Pixel size at which digits are the given number of rows tall.
int sizeForDigitHeight(int rows)
{
    for (int px = 8; px < 40; ++px)
        if (inkAboveBaseline(QStringLiteral("0"), px).height() >= rows)
            return px;
    return 14;
}

void blit(QImage& dst, const QImage& src, int x, int y)
{
    for (int sy = 0; sy < src.height(); ++sy)
        for (int sx = 0; sx < src.width(); ++sx)
            if (src.pixel(sx, sy) == kBlack && dst.rect().contains(x + sx, y + sy))
                dst.setPixel(x + sx, y + sy, kBlack);
}

// x10 with a raised exponent and /L: the main glyphs stand on the baseline row, the exponent's
// top on the top row.
QImage tenPower(int width, int height, const QString& exponent, int topRow, int baselineRow)
{
    QImage img(width, height, QImage::Format_RGB32);
    img.fill(kWhite);
    const int main = sizeForDigitHeight(10);
    const int small = sizeForDigitHeight(7);
    const QImage x = inkAboveBaseline(QStringLiteral("x"), main);
    const QImage ten = inkAboveBaseline(QStringLiteral("10"), main);
    const QImage exp = inkAboveBaseline(exponent, small);
    const QImage perL = inkAboveBaseline(QStringLiteral("/L"), main);
    int col = 1;
    auto onBaseline = [&](const QImage& piece, int gap) {
        blit(img, piece, col, baselineRow - piece.height() + 1);
        col += piece.width() + gap;
    };
    onBaseline(x, 2);
    onBaseline(ten, 1);
    blit(img, exp, col, topRow);
    col += exp.width() + 1;
    onBaseline(perL, 0);
    return img;
}

QImage perMille()
{
    QImage img(28, 21, QImage::Format_RGB32);
    img.fill(kWhite);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::NoBrush);
    // A small ring up left, the slash, and two rings down right: rows 6 to 15.
    p.drawEllipse(QRect(2, 6, 5, 4));
    p.drawLine(QPoint(14, 6), QPoint(7, 15));
    p.drawEllipse(QRect(12, 11, 5, 4));
    p.drawEllipse(QRect(20, 11, 5, 4));
    p.end();
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            img.setPixel(x, y, qGray(img.pixel(x, y)) < 128 ? kBlack : kWhite);
    return img;
}

void put16(QByteArray& b, int at, quint16 v) { qToLittleEndian(v, reinterpret_cast<uchar*>(b.data()) + at); }
void put32(QByteArray& b, int at, quint32 v) { qToLittleEndian(v, reinterpret_cast<uchar*>(b.data()) + at); }

} // namespace

QImage draw(Kind kind)
{
    switch (kind) {
    case Kind::TenPow9PerLitre: return tenPower(50, 23, QStringLiteral("9"), 1, 14);
    case Kind::TenPow12PerLitre: return tenPower(52, 30, QStringLiteral("12"), 5, 19);
    case Kind::PerMille: return perMille();
    }
    return {};
}

QByteArray toBmp24(const QImage& image)
{
    const int w = image.width(), h = image.height();
    const int rowBytes = (w * 3 + 3) / 4 * 4;
    const int pixelBytes = rowBytes * h;
    QByteArray b(54 + pixelBytes, '\0');
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 2, static_cast<quint32>(b.size()));
    put32(b, 10, 54);
    put32(b, 14, 40);
    put32(b, 18, static_cast<quint32>(w));
    put32(b, 22, static_cast<quint32>(h));   // positive: rows bottom-up
    put16(b, 26, 1);
    put16(b, 28, 24);
    put32(b, 30, 0);
    put32(b, 34, static_cast<quint32>(pixelBytes));
    put32(b, 38, 3780);   // 96 dots per inch
    put32(b, 42, 3780);
    for (int y = 0; y < h; ++y) {
        char* row = b.data() + 54 + (h - 1 - y) * rowBytes;
        for (int x = 0; x < w; ++x) {
            const QRgb c = image.pixel(x, y);
            row[x * 3] = static_cast<char>(qBlue(c));
            row[x * 3 + 1] = static_cast<char>(qGreen(c));
            row[x * 3 + 2] = static_cast<char>(qRed(c));
        }
    }
    return b;
}

QByteArray pictureData(Kind kind) { return TRpPicture::EncodeBitmap(toBmp24(draw(kind))); }

std::optional<Kind> kindForItem(const QString& itemName)
{
    static const QRegularExpression five(QStringLiteral("^RpImage[1-5]$"));
    if (five.match(itemName).hasMatch())
        return Kind::TenPow9PerLitre;
    if (itemName == QLatin1String("RpImage6"))
        return Kind::TenPow12PerLitre;
    if (itemName == QLatin1String("RpImage7"))
        return Kind::PerMille;
    return std::nullopt;
}

int embedInLayout(QByteArray& text)
{
    static const QRegularExpression objectLine(QStringLiteral("^\\s*object\\s+(\\w+)\\s*:\\s*(\\w+)\\s*$"));
    QList<QByteArray> lines = text.split('\n');
    QList<QByteArray> out;
    QString current;
    int replaced = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        const auto m = objectLine.match(QString::fromUtf8(line));
        if (m.hasMatch())
            current = m.captured(2) == QLatin1String("TRpImage") ? m.captured(1) : QString();
        const QByteArray trimmed = line.trimmed();
        const auto kind = current.isEmpty() ? std::nullopt : kindForItem(current);
        if (kind && trimmed.startsWith("Picture.Data = {")) {
            // Skip the old block up to its closing brace.
            qsizetype end = i;
            while (end < lines.size() && !lines[end].contains('}'))
                ++end;
            // Cutting here would drop the rest of the layout: refuse, and the caller writes nothing.
            if (end == lines.size())
                throw Exception(QStringLiteral("Picture.Data of %1 on line %2 has no closing brace")
                                    .arg(current)
                                    .arg(i + 1));
            const QByteArray indent = line.left(line.indexOf('P'));
            const QByteArray hex = pictureData(*kind).toHex().toUpper();
            QByteArray block = indent + "Picture.Data = {";
            for (qsizetype k = 0; k < hex.size(); k += 64)
                block += '\n' + indent + "  " + hex.mid(k, 64);
            block += '}';
            out << block;
            i = end;
            ++replaced;
            continue;
        }
        out << line;
    }
    text = out.join('\n');
    return replaced;
}

} // namespace unitpictures
