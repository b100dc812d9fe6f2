#include "report/ReferenceContext.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <algorithm>
#include <cmath>

namespace {
// 96 dots per inch, the design resolution.
constexpr int kDotsPerMetre96 = 3780;
constexpr int kMaxExtent = 100000000;
} // namespace

QString rpFamilySubstitute(const QString& family)
{
    if (family.compare(QLatin1String("Arial"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("Liberation Sans");
    if (family.compare(QLatin1String("Arial Black"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("DejaVu Sans");
    return family;
}

QFont rpQFont(const TRpFont& f)
{
    QFont q(rpFamilySubstitute(f.Name));
    q.setPixelSize(std::max(1, std::abs(f.Height)));
    const bool black = f.Name.compare(QLatin1String("Arial Black"), Qt::CaseInsensitive) == 0;
    q.setWeight(black ? QFont::Black : (f.Style.has(TFontStyle::fsBold) ? QFont::Bold
                                                                         : QFont::Normal));
    q.setItalic(f.Style.has(TFontStyle::fsItalic));
    q.setUnderline(f.Style.has(TFontStyle::fsUnderline));
    q.setStrikeOut(f.Style.has(TFontStyle::fsStrikeOut));
    q.setHintingPreference(QFont::PreferNoHinting);
    q.setKerning(false);
    return q;
}

ReferenceContext::ReferenceContext() : device_(1, 1, QImage::Format_RGB32)
{
    device_.setDotsPerMeterX(kDotsPerMetre96);
    device_.setDotsPerMeterY(kDotsPerMetre96);
}

int ReferenceContext::TextExtent(const TRpFont& font, const QString& text) const
{
    if (text.isEmpty())
        return 0;
    const QFontMetricsF fm(rpQFont(font), &device_);
    // Whole pixels that cover the text; a kilometre of text is as wide as it gets.
    const double w = std::ceil(fm.horizontalAdvance(text) - 1e-6);
    return static_cast<int>(std::clamp(w, 0.0, static_cast<double>(kMaxExtent)));
}

int ReferenceContext::CellHeight(const TRpFont& font) const
{
    const QFontMetricsF fm(rpQFont(font), &device_);
    return static_cast<int>(std::ceil(fm.ascent() - 1e-6) + std::ceil(fm.descent() - 1e-6));
}

bool ReferenceContext::FontAvailable(const QString& family)
{
    const QString want = rpFamilySubstitute(family);
    return QFontDatabase::families().contains(want, Qt::CaseInsensitive);
}
