#pragma once
// Text measuring for line formatting: a screen-compatible context at 96 pixels per inch that
// gives the same widths on every machine with the same fonts (hinting off).
// Knows: the fonts installed here and the stand-ins for stored family names, the 96 dpi device.
// Must not know: items, line breaking, pages, printers. Untrusted: the stored font (any family
// name, any height: the pixel size is clamped).
#include "report/model/RpTypes.h"

#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <vector>

class TRpTextMeasure {
public:
    virtual ~TRpTextMeasure() = default;
    // Advance of each character in pixels of the context, without kerning or ligatures, so that
    // the width of any run is the sum over it (a surrogate pair: all on its first half).
    virtual std::vector<double> Advances(const TRpFont& font, const QString& text) const = 0;
    // Cell height (ascent + descent) in pixels of the context.
    virtual int CellHeight(const TRpFont& font) const = 0;
    // Width of the text in whole pixels of the context.
    int TextExtent(const TRpFont& font, const QString& text) const;
};

// The font a stored font stands for on this system. Arial is Liberation Sans (same metrics);
// Arial Black has no metric twin here, so it is DejaVu Sans at its heaviest weight. Size is the
// stored em height in pixels at 96 per inch, hinting off.
QFont rpQFont(const TRpFont& font);
// Family name that stands in for a stored family name.
QString rpFamilySubstitute(const QString& family);

class ReferenceContext : public TRpTextMeasure {
public:
    ReferenceContext();
    std::vector<double> Advances(const TRpFont& font, const QString& text) const override;
    int CellHeight(const TRpFont& font) const override;
    // The paint device measured on (96 dots per inch).
    const QImage& Device() const { return device_; }
    // Whether the face the font resolves to is the one the font asks for (or its stand-in).
    static bool FontAvailable(const QString& family);

private:
    // The metrics of the last few fonts asked for: every text item formats its lines at every
    // print, and looking a font up costs more than measuring with it. One thread measures.
    const QFontMetricsF& metrics(const TRpFont& font) const;
    QImage device_;
    struct Cached {
        TRpFont font;
        QFontMetricsF metrics;
    };
    mutable std::vector<Cached> cache_;
    mutable size_t next_ = 0;
};
