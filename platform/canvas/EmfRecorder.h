#pragma once
// Records the calls of a page canvas as a standard enhanced metafile, one record per call, with
// the page as the reference device. Text is kept as wide-character text with the advance of
// every character, taken from the same metrics that textExtent() reports, so a page lays out
// and plays identically here, on the printer, in PDF and in other programs that read the format.
// One recorder can record page after page (finish() starts the next), which keeps its fonts
// looked up; it belongs to the thread that uses it.
#include "platform/canvas/PageCanvas.h"

#include <QByteArray>
#include <QSizeF>
#include <memory>

class EmfRecorder final : public PageCanvas {
public:
    // pagePixels: the page in device pixels (794 x 1123 for A4 portrait at 96 dpi);
    // pageMillimetres: the same page in millimetres (210 x 297). description: the
    // "application\0title" text stored in the header (may be empty).
    EmfRecorder(QSize pagePixels, QSizeF pageMillimetres, const QString& description = {});
    ~EmfRecorder() override;
    EmfRecorder(const EmfRecorder&) = delete;
    EmfRecorder& operator=(const EmfRecorder&) = delete;

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

    // Closes the page (unwinds saved states, writes the end record and the header's totals)
    // and returns the metafile. The recorder then holds a fresh empty page of the same size.
    QByteArray finish();
    // Bytes recorded so far on the open page.
    qsizetype size() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
