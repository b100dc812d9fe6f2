#pragma once
// The preview control: a scrolling box holding one page view. It is the recorder's client while
// it shows the recorder's pages: the recorder's queued notifications (pages available, progress)
// arrive here, and it shows the first page, zoomed to width, as soon as that page is complete.
// It keeps the page number and the zoom through a TRpPreviewState, which holds the rules.
//
// Knows: the recorder (page count, paper size, pages), the page view. Must not know: the window
// around it, generation, printing. Untrusted: the page count and paper size of a loaded file
// (through the recorder, which has checked them); a zoom that would give a view of no size or
// beyond the 2000 % bound is refused.
#include "report/preview/RpPreviewState.h"

#include <QScrollArea>
#include <functional>

class TRpPrinter;
class TRpPreviewImage;

class TRpPreview : public QScrollArea {
    Q_OBJECT
public:
    explicit TRpPreview(QWidget* parent = nullptr);
    ~TRpPreview() override;

    TRpPrinter* Recorder() const { return recorder_; }
    // Attaches a recorder: the previous one (if any) stops showing a preview (which cancels it
    // when busy) and loses its client; this control becomes the new one's client, page 1 is asked
    // for. Null only detaches.
    void SetRecorder(TRpPrinter* recorder);
    // Detaches without touching the recorder: it is already gone.
    void ForgetRecorder();

    int PageNumber() const { return state_.PageNumber(); }
    void SetPageNumber(int n);
    // Page n again even when it is the page number already (after loading a report file).
    void ReloadPage(int n);
    int Zoom() const { return state_.Zoom(); }
    void SetZoom(int z);
    TRpZoomMode ZoomMode() const { return state_.ZoomMode(); }
    void ZoomToFit();
    void ZoomToWidth();
    void LayoutPage();

    // Page size in pixels at zoom 100 (0 x 0 without a recorder).
    QSize PageSize100() const;
    TRpPreviewImage* PageView() const { return view_; }
    const TRpPreviewState& State() const { return state_; }

    // Raised after a pages-available notification (count) and a progress notification (percent).
    std::function<void(TRpPreview* sender, int pageCount)> OnPageAvailable;
    std::function<void(TRpPreview* sender, int percent)> OnProgressUpdate;

protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void pagesAvailable(int n);
    void applyModeZoom();

    TRpPrinter* recorder_ = nullptr;
    TRpPreviewImage* view_;
    TRpPreviewState state_;
};
