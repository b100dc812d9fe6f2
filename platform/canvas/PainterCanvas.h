#pragma once
// A page canvas that draws straight onto a QPainter, in device pixels of the painter's current
// coordinates: the printer page of a live print, or an image. It paints through the same code
// as the metafile player, so a page drawn here and the same page recorded and played agree.
#include "platform/canvas/PageCanvas.h"

#include <memory>

class QPainter;

class PainterCanvas final : public PageCanvas {
public:
    // The painter must outlive the canvas; its state is restored when the canvas goes.
    PainterCanvas(QPainter& painter, QSize pageSize);
    ~PainterCanvas() override;
    PainterCanvas(const PainterCanvas&) = delete;
    PainterCanvas& operator=(const PainterCanvas&) = delete;

    QSize pageSize() const override;
    void setPen(const CanvasPen& pen) override;
    void setBrush(const CanvasBrush& brush) override;
    void setFont(const CanvasFont& font) override;
    void setTextColor(const QColor& color) override;
    void setTextAlign(CanvasTextAlign align) override;
    void setTextTransparent(bool transparent) override;
    void setBackgroundColor(const QColor& color) override;
    void fillRect(const DeviceRect& r, const QColor& color) override;
    void rectangle(const DeviceRect& r) override;
    void ellipse(const DeviceRect& r) override;
    void moveTo(int x, int y) override;
    void lineTo(int x, int y) override;
    void textOut(int x, int y, const QString& text) override;
    QSize textExtent(const QString& text) const override;
    void intersectClipRect(const DeviceRect& r) override;
    void removeClip() override;
    void save() override;
    void restore() override;
    void stretchImage(const DeviceRect& r, const QImage& image) override;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
