#include "report/model/ReferenceContext.h"

#include "report/model/FormatLines.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <cmath>

namespace {
// 96 dots per inch, the design resolution.
constexpr int kDotsPerMetre96 = 3780;
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

const QFontMetricsF& ReferenceContext::metrics(const TRpFont& font) const
{
    constexpr size_t kCached = 8;
    for (const Cached& c : cache_)
        if (c.font == font)
            return c.metrics;
    Cached entry{font, QFontMetricsF(rpQFont(font), &device_)};
    if (cache_.size() < kCached) {
        cache_.push_back(std::move(entry));
        return cache_.back().metrics;
    }
    const size_t at = next_++ % kCached;
    cache_[at] = std::move(entry);
    return cache_[at].metrics;
}

std::vector<double> ReferenceContext::Advances(const TRpFont& font, const QString& text) const
{
    std::vector<double> out(static_cast<size_t>(text.size()), 0.0);
    if (text.isEmpty())
        return out;
    const QFontMetricsF& fm = metrics(font);
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            out[static_cast<size_t>(i)] = fm.horizontalAdvance(text.mid(i, 2));
            ++i;
        } else {
            out[static_cast<size_t>(i)] = fm.horizontalAdvance(text[i]);
        }
    }
    return out;
}

int TRpTextMeasure::TextExtent(const TRpFont& font, const QString& text) const
{
    double sum = 0;
    for (double a : Advances(font, text))
        sum += a;
    return formatlines::extentOf(sum);
}

int ReferenceContext::CellHeight(const TRpFont& font) const
{
    const QFontMetricsF& fm = metrics(font);
    return static_cast<int>(std::ceil(fm.ascent() - 1e-6) + std::ceil(fm.descent() - 1e-6));
}

bool ReferenceContext::FontAvailable(const QString& family)
{
    const QString want = rpFamilySubstitute(family);
    return QFontDatabase::families().contains(want, Qt::CaseInsensitive);
}
