#include "report/preview/RpPreviewState.h"

#include <cmath>
#include <limits>

namespace {

// Nearest integer, halves to even, clamped so a huge ratio cannot overflow into a valid zoom.
int roundRatio(double v)
{
    if (!(v > 0))
        return 0;
    if (v > static_cast<double>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    return static_cast<int>(std::nearbyint(v));
}

} // namespace

bool TRpPreviewState::SetZoom(int z)
{
    if (z < kMinZoom || z > kMaxZoom)
        return false;
    mode_ = TRpZoomMode::Fixed;
    zoom_ = z;
    return true;
}

int TRpPreviewState::FitZoom(QSize control, QSize page)
{
    if (page.width() <= 0 || page.height() <= 0)
        return 0;
    const int byWidth = roundRatio(static_cast<double>(control.width()) / page.width() * kFitFactor);
    const int byHeight = roundRatio(static_cast<double>(control.height()) / page.height() * kFitFactor);
    return std::min(byWidth, byHeight);
}

int TRpPreviewState::WidthZoom(QSize control, QSize page)
{
    if (page.width() <= 0)
        return 0;
    return roundRatio(static_cast<double>(control.width()) / page.width() * kWidthFactor);
}

bool TRpPreviewState::ZoomToFit(QSize control, QSize page)
{
    const bool taken = SetZoom(FitZoom(control, page));
    mode_ = TRpZoomMode::Fit;
    return taken;
}

bool TRpPreviewState::ZoomToWidth(QSize control, QSize page)
{
    const bool taken = SetZoom(WidthZoom(control, page));
    mode_ = TRpZoomMode::Width;
    return taken;
}

bool TRpPreviewState::SetPageNumber(int n, int pageCount, bool imageShown)
{
    if ((n == pageNumber_ && imageShown) || n <= 0 || n > pageCount)
        return false;
    pageNumber_ = n;
    return true;
}

bool TRpPreviewState::ShowOnAvailable(int n, bool imageShown, int availablePages, int viewPage) const
{
    return n == pageNumber_ && !imageShown && availablePages >= viewPage;
}

QString TRpPreviewState::PagePositionText(int pageCount) const
{
    return QStringLiteral("Page") + QLatin1Char(' ') + QString::number(pageNumber_) + QLatin1Char(' ')
           + QStringLiteral("of") + QLatin1Char(' ') + QString::number(pageCount);
}

std::optional<QString> TRpProgressText::Progress(int p)
{
    std::optional<QString> text;
    // Compared as a difference of 64-bit values: a hostile percentage near INT_MIN must not wrap.
    if (static_cast<long long>(p) >= static_cast<long long>(lastProgress_) + 5) {
        text = QString::number(p) + QLatin1Char('%');
        lastProgress_ = p;
    }
    if (p == 0 || p == 100)
        text = QString();
    return text;
}

QPoint TRpPreviewState::ViewPlace(QSize viewport, QSize view)
{
    const int x = view.width() < viewport.width() ? (viewport.width() - view.width()) / 2 : 0;
    const int y = view.height() < viewport.height() ? (viewport.height() - view.height()) / 2 : 0;
    return {x, y};
}
