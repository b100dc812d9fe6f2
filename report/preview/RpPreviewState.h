#pragma once
// The preview's rules that need no window: which page may be shown, the zoom arithmetic of the
// three zoom modes, where the page view stands in the control, the status bar's page position and
// progress texts, and when an arriving page is shown. The preview control and window keep one of
// these and apply what it answers; tests drive it directly.
//
// Knows: page counts, pixel sizes and percentages. Must not know: widgets, the recorder, Qt
// events. Untrusted: nothing; every number comes from the program, but sizes of zero and
// out-of-range zooms are answered (ignored) rather than divided by.
#include <QPoint>
#include <QSize>
#include <QString>
#include <optional>

enum class TRpZoomMode { Fixed, Fit, Width };

class TRpPreviewState {
public:
    static constexpr int kMinZoom = 2;
    static constexpr int kMaxZoom = 2000;
    // Margins left around the page by the two automatic zooms, in percent of the control.
    static constexpr double kFitFactor = 95.0;
    static constexpr double kWidthFactor = 90.0;

    int PageNumber() const { return pageNumber_; }
    int Zoom() const { return zoom_; }
    TRpZoomMode ZoomMode() const { return mode_; }

    // Fixed zoom z; false (nothing changes) unless kMinZoom <= z <= kMaxZoom.
    bool SetZoom(int z);
    // The two automatic zooms: control W x H, page PW x PH pixels at zoom 100. The mode is taken
    // even when the computed zoom is refused, so a later resize tries again.
    bool ZoomToFit(QSize control, QSize page);
    bool ZoomToWidth(QSize control, QSize page);
    static int FitZoom(QSize control, QSize page);   // 0 when the page has no size
    static int WidthZoom(QSize control, QSize page);

    // Whether the page number may become n: not when n is the page shown with its image, not
    // below 1, not past the pages started. Applies it when allowed.
    bool SetPageNumber(int n, int pageCount, bool imageShown);
    // Forces page n (after loading a report file).
    void ResetPageNumber(int n) { pageNumber_ = n; }

    // Navigation targets; the caller passes them to SetPageNumber.
    int FirstPage() const { return 1; }
    int PreviousPage() const { return pageNumber_ - 1; }
    int NextPage() const { return pageNumber_ + 1; }
    static int LastPage(int pageCount) { return pageCount; }

    // A page-available count n arrived: the page is to be fetched again, zoomed to width, when n
    // is the page number, the view shows nothing yet and the page it asks for is stored.
    bool ShowOnAvailable(int n, bool imageShown, int availablePages, int viewPage) const;

    // "Page 2 of 5".
    QString PagePositionText(int pageCount) const;

    // Page view of a page w x h pixels at the current zoom (w and h already scaled) plus its
    // 4-pixel outline and shadow, placed in a viewport: centred where it is smaller, else at 0.
    static QSize ViewSize(QSize scaledPage) { return scaledPage + QSize(4, 4); }
    static QPoint ViewPlace(QSize viewport, QSize view);

private:
    int pageNumber_ = 1;
    int zoom_ = 100;
    TRpZoomMode mode_ = TRpZoomMode::Fixed;
};

// The progress panel of the status bar: it counts up in steps of at least 5 and is emptied when 0
// or 100 arrives; the last value written is never lowered.
class TRpProgressText {
public:
    // Progress p arrived: the new text, or none when the panel keeps its text.
    std::optional<QString> Progress(int p);
    int LastProgress() const { return lastProgress_; }

private:
    int lastProgress_ = 0;
};
