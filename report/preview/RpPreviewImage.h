#pragma once
// The page view of the preview: one recorded page, stretched over the view, on a white sheet with
// a black outline and a shadow at the right and bottom. The page is played through the same
// player that prints it, so screen and paper agree.
//
// Playing a page costs as much as its records, and a page at a high zoom is far larger than the
// screen (an A4 page at 2000 % would take over a gigabyte as one image). So only the part of the
// view that is visible, with a margin for small scrolls, is played into an image and kept; paints
// at the same page, zoom and position copy from it, and scrolling past the margin plays the newly
// visible part once.
//
// Knows: the recorder it asks for pages (GetPage) and the page image player. Must not know: the
// preview control's rules, generation. Untrusted: the page image (a loaded report file); a page
// that fails to play shows what was drawn before the fault, and its error is told once.
#include <QImage>
#include <QWidget>
#include <functional>
#include <memory>

class TRpPrinter;
class TRpPageImage;

class TRpPreviewImage : public QWidget {
    Q_OBJECT
public:
    // Extra pixels played on each side of the visible part.
    static constexpr int kCacheMargin = 256;

    explicit TRpPreviewImage(QWidget* parent = nullptr);
    ~TRpPreviewImage() override;

    TRpPrinter* Recorder() const { return recorder_; }
    // Forgets the page shown; the view paints nothing until ShowPage.
    void SetRecorder(TRpPrinter* recorder);
    int PageNumber() const { return pageNumber_; }
    int Zoom() const { return zoom_; }
    void SetZoom(int zoom);

    // Releases the page shown and asks the recorder for page n; ImageShown() tells whether one
    // came back. A damaged stored page raises ERpError with no page shown.
    void ShowPage(int n);
    bool ImageShown() const { return image_ != nullptr; }
    const TRpPageImage* Image() const { return image_.get(); }

    // What is kept: the part of the view played into an image, and how many times it was played.
    QRect CachedRect() const { return cacheRect_; }
    QSize CachedImageSize() const { return cache_.size(); }
    int PlayCount() const { return playCount_; }

    // Told, once per page shown and after the paint, when the page could not be played whole.
    std::function<void(const QString& message)> OnPlayError;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void dropCache();
    void renderCache(const QRect& area);
    // The player's error, or an empty text when the page played whole.
    QString drawSheet(class QPainter& painter) const;

    TRpPrinter* recorder_ = nullptr;
    int pageNumber_ = 1;
    int zoom_ = 100;
    std::unique_ptr<TRpPageImage> image_;
    QImage cache_;
    QRect cacheRect_;
    int playCount_ = 0;
    bool playErrorTold_ = false;
};
