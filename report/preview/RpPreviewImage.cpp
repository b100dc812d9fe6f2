#include "report/preview/RpPreviewImage.h"

#include "report/pages/RpPageList.h"
#include "report/pages/RpPrinter.h"

#include "platform/Exception.h"

#include <QPaintEvent>
#include <QPainter>
#include <QTimer>

TRpPreviewImage::TRpPreviewImage(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("PreviewImage"));
}

TRpPreviewImage::~TRpPreviewImage() = default;

void TRpPreviewImage::SetRecorder(TRpPrinter* recorder)
{
    recorder_ = recorder;
    image_.reset();
    dropCache();
    update();
}

void TRpPreviewImage::SetZoom(int zoom)
{
    if (zoom == zoom_)
        return;
    zoom_ = zoom;
    dropCache();
    update();
}

void TRpPreviewImage::ShowPage(int n)
{
    image_.reset();
    dropCache();
    playErrorTold_ = false;
    pageNumber_ = n;
    update();
    if (recorder_)
        image_ = recorder_->GetPage(n);
}

void TRpPreviewImage::dropCache()
{
    cache_ = QImage();
    cacheRect_ = QRect();
}

void TRpPreviewImage::resizeEvent(QResizeEvent* event)
{
    dropCache();
    QWidget::resizeEvent(event);
}

QString TRpPreviewImage::drawSheet(QPainter& painter) const
{
    const int w = width();
    const int h = height();
    // White sheet (its outline white too), then the page stretched over the whole view, then the
    // black outline and the shadow strips over the page's last pixels.
    painter.fillRect(QRect(QPoint(1, 1), QPoint(w - 4, h - 4)), Qt::white);
    // A damaged record in a loaded file: what was drawn before it stays, and the error goes back to
    // the caller, which tells it outside the paint (a box from inside a paint would come back with
    // every repaint).
    QString error;
    try {
        image_->Play(painter, QRectF(0, 0, w, h));
    } catch (const Exception& e) {
        error = e.message();
    } catch (const std::exception& e) {
        error = QString::fromUtf8(e.what());
    }
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(Qt::black, 0));
    painter.setBrush(Qt::NoBrush);
    const QPoint outline[] = {{0, 0}, {0, h - 3}, {w - 3, h - 3}, {w - 3, 0}, {0, 0}};
    painter.drawPolyline(outline, 5);
    painter.fillRect(QRect(QPoint(w - 2, 2), QPoint(w - 1, h - 1)), Qt::black);
    painter.fillRect(QRect(QPoint(2, h - 2), QPoint(w - 1, h - 1)), Qt::black);
    return error;
}

void TRpPreviewImage::renderCache(const QRect& area)
{
    const qreal dpr = devicePixelRatioF();
    cache_ = QImage((QSizeF(area.size()) * dpr).toSize(), QImage::Format_RGB32);
    cache_.setDevicePixelRatio(dpr);
    // The corners outside the sheet and shadow show the box behind the view.
    cache_.fill(palette().color(QPalette::Window));
    cacheRect_ = area;
    QPainter painter(&cache_);
    // Scaled below 100 %, one-pixel rules would fall between pixels and vanish; smoothed, they
    // show as lighter lines, as they do on paper at the printer's resolution.
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.translate(-area.topLeft());
    painter.setClipRect(area);
    const QString error = drawSheet(painter);
    ++playCount_;
    if (!error.isEmpty() && !playErrorTold_) {
        playErrorTold_ = true;
        QTimer::singleShot(0, this, [this, error] {
            if (OnPlayError)
                OnPlayError(error);
        });
    }
}

void TRpPreviewImage::paintEvent(QPaintEvent* event)
{
    if (!image_)
        return;
    const QRect want = event->rect() & rect();
    if (want.isEmpty())
        return;
    if (cache_.isNull() || !cacheRect_.contains(want)) {
        QRect visible = visibleRegion().boundingRect();
        if (visible.isEmpty())
            visible = want;
        const QRect area = (visible.united(want))
                               .adjusted(-kCacheMargin, -kCacheMargin, kCacheMargin, kCacheMargin)
                           & rect();
        renderCache(area);
    }
    QPainter painter(this);
    painter.drawImage(want, cache_,
                      QRectF(QPointF(want.topLeft() - cacheRect_.topLeft()) * cache_.devicePixelRatio(),
                             QSizeF(want.size()) * cache_.devicePixelRatio()));
}
