#pragma once
// Fonts of report pages: Windows face names mapped to installed faces, sizes in pixels, hinting
// and kerning off, so that an advance measured here is the design advance scaled, the same on
// screen, printer and PDF. Advances are integers per UTF-16 unit, rounded cumulatively, because
// the metafile stores them as integers and layout must use exactly what is stored.
#include "platform/canvas/PageCanvas.h"

#include <QFont>
#include <QRawFont>
#include <QString>
#include <QVector>
#include <array>
#include <memory>

class QPainter;

// A font as the metafile's font record describes it.
struct LogicalFont {
    QString face = QStringLiteral("Arial");
    int height = -13; // < 0 em height, > 0 cell height, 0 default
    int weight = 400; // 0 means normal
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    int escapement = 0; // tenths of a degree, counter-clockwise
    friend bool operator==(const LogicalFont&, const LogicalFont&) = default;

    static LogicalFont from(const CanvasFont& f);
};

class TextFont {
public:
    explicit TextFont(const LogicalFont& spec = {});

    const LogicalFont& spec() const { return spec_; }
    const QFont& font() const { return font_; }
    // The installed face used for a Windows face name.
    static QString substituteFace(const QString& windowsFace);

    // Rounded metrics in pixels: cell = ascent + descent.
    int ascent() const { return ascent_; }
    int descent() const { return descent_; }
    int cellHeight() const { return ascent_ + descent_; }

    // Integer advances, one per UTF-16 unit (the low half of a surrogate pair gets 0), written
    // to dx when given; returns their sum.
    int advances(const QChar* text, qsizetype n, qint32* dx) const;
    int width(const QString& text) const { return advances(text.constData(), text.size(), nullptr); }

    // How many of the characters are looked up anew each time they are measured or drawn
    // (outside the cached ranges), or drawn one by one through font fallback (the face lacks
    // them): each costs far more than a glyph of the face.
    qsizetype uncommonCount(const QChar* text, qsizetype n) const;
    // Glyphs drawn this many pixels tall or more, or under a turned, skewed or squeezed transform,
    // are filled as outlines rather than drawn from the glyph cache.
    static constexpr int kLargestBitmapGlyph = 512;
    // Draws the characters with their left edges at x + the running sum of dx, on the baseline y,
    // with the underline and strike-out lines across the whole run.
    void drawRun(QPainter& p, qreal x, qreal baseline, const QChar* text, qsizetype n, const qint32* dx) const;

private:
    struct Glyph {
        float advance = -1.0f; // < 0: not looked up yet
        quint32 index = 0;
    };
    const Glyph& glyph(char32_t c) const;

    LogicalFont spec_;
    QFont font_;
    QRawFont raw_;
    int ascent_ = 0;
    int descent_ = 0;
    qreal underlinePos_ = 0;
    qreal strikeOutPos_ = 0;
    qreal lineWidth_ = 1;
    // Basic Latin to Cyrillic are looked up once; other characters each time.
    mutable std::array<Glyph, 0x500> cache_{};
    mutable Glyph other_;
};

// A few recently used fonts, so that switching between the fonts of a page costs no lookup.
class TextFontCache {
public:
    // made, when given, says whether the font had to be made (which costs a font lookup).
    std::shared_ptr<const TextFont> get(const LogicalFont& spec, bool* made = nullptr);

private:
    QVector<std::shared_ptr<const TextFont>> fonts_;
};
