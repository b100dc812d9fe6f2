#include "report/preview/RpPreview.h"

#include "report/pages/RpPrinter.h"
#include "report/preview/RpPreviewImage.h"

#include <QResizeEvent>
#include <QScrollBar>
#include <utility>

TRpPreview::TRpPreview(QWidget* parent) : QScrollArea(parent), view_(new TRpPreviewImage)
{
    setObjectName(QStringLiteral("RpPreview"));
    setWidgetResizable(false);
    setAlignment(Qt::AlignCenter);
    setWidget(view_);
    view_->resize(0, 0);
    // The page follows the thumb while it is dragged.
    horizontalScrollBar()->setTracking(true);
    verticalScrollBar()->setTracking(true);
}

TRpPreview::~TRpPreview() = default;

void TRpPreview::ForgetRecorder()
{
    recorder_ = nullptr;
    view_->SetRecorder(nullptr);
}

void TRpPreview::SetRecorder(TRpPrinter* recorder)
{
    if (recorder_ && recorder_ != recorder) {
        TRpPrinter* previous = recorder_;
        recorder_ = nullptr;
        if (previous->Client() == this)
            previous->SetClient(nullptr);
        previous->SetShowingPreview(false);
    }
    recorder_ = recorder;
    view_->SetRecorder(recorder);
    if (!recorder)
        return;
    recorder->SetClient(this);
    recorder->SetShowingPreview(true);
    state_.ResetPageNumber(1);
    view_->ShowPage(1);
}

void TRpPreview::SetPageNumber(int n)
{
    if (!recorder_ || !state_.SetPageNumber(n, recorder_->PageCount(), view_->ImageShown()))
        return;
    view_->ShowPage(n);
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
}

void TRpPreview::ReloadPage(int n)
{
    state_.ResetPageNumber(n);
    view_->ShowPage(n);
    applyModeZoom();
}

QSize TRpPreview::PageSize100() const
{
    if (!recorder_)
        return {};
    return {recorder_->XSize(recorder_->PaperWidth()), recorder_->YSize(recorder_->PaperLength())};
}

void TRpPreview::SetZoom(int z)
{
    if (state_.SetZoom(z))
        LayoutPage();
}

void TRpPreview::ZoomToFit()
{
    state_.ZoomToFit(size(), PageSize100());
    LayoutPage();
}

void TRpPreview::ZoomToWidth()
{
    state_.ZoomToWidth(size(), PageSize100());
    LayoutPage();
}

void TRpPreview::applyModeZoom()
{
    switch (state_.ZoomMode()) {
    case TRpZoomMode::Fit:
        ZoomToFit();
        break;
    case TRpZoomMode::Width:
        ZoomToWidth();
        break;
    case TRpZoomMode::Fixed:
        LayoutPage();
        break;
    }
}

void TRpPreview::LayoutPage()
{
    QSize scaled;
    if (recorder_) {
        const double z = state_.Zoom() / 100.0;
        scaled = QSize(recorder_->XSize(recorder_->PaperWidth() * z), recorder_->YSize(recorder_->PaperLength() * z));
    }
    view_->SetZoom(state_.Zoom());
    view_->resize(TRpPreviewState::ViewSize(scaled));
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
}

void TRpPreview::resizeEvent(QResizeEvent* event)
{
    QScrollArea::resizeEvent(event);
    if (state_.ZoomMode() != TRpZoomMode::Fixed)
        applyModeZoom();
}

void TRpPreview::pagesAvailable(int n)
{
    if (recorder_
        && state_.ShowOnAvailable(n, view_->ImageShown(), recorder_->AvailablePages(), view_->PageNumber())) {
        ZoomToWidth();
        view_->ShowPage(view_->PageNumber());
    }
    if (OnPageAvailable)
        OnPageAvailable(this, n);
}

bool TRpPreview::event(QEvent* event)
{
    if (event->type() == TRpNotifyEvent::PagesAvailableType) {
        pagesAvailable(static_cast<TRpNotifyEvent*>(event)->value());
        return true;
    }
    if (event->type() == TRpNotifyEvent::ProgressType) {
        if (OnProgressUpdate)
            OnProgressUpdate(this, static_cast<TRpNotifyEvent*>(event)->value());
        return true;
    }
    return QScrollArea::event(event);
}
