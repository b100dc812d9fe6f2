#pragma once
// Printable items: static text, field text, system data, shapes and pictures. Plain data with
// the size logic they own (line formatting, auto-size); drawing lives with generation.
// Knows: items' stored properties, native and pixel sizes, line formatting, the stored picture
// form and the bitmap file. Must not know: drawing, pages, layout text, how field values are
// read (generation hands the texts in).
// Untrusted: Picture.Data from a layout: its class name, length and bitmap header are checked
// before the image reader sees it.
#include "report/model/RpTypes.h"
#include "report/model/RpUnits.h"

#include <QByteArray>
#include <QImage>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <optional>

class TDataSet;
class TField;
class TRpBasePanel;
class TCustomReport;
class TRpPrintable;

// Height, Left, Top and Width of an item, stored as Size.Values in that order; Left and Top are
// relative to the band's top-left corner.
class TRpPrintableSize : public TRpUnitBase {
public:
    enum Index { Height, Left, Top, Width };
    explicit TRpPrintableSize(TRpPrintable* item) : TRpUnitBase(4), item_(item) {}

protected:
    TRpAxis AxisOf(int index) const override
    {
        return (index == Left || index == Width) ? TRpAxis::Horizontal : TRpAxis::Vertical;
    }
    void Changed(int index) override;

private:
    TRpPrintable* item_;
};

class TRpPrintable {
public:
    virtual ~TRpPrintable() = default;
    TRpPrintable(const TRpPrintable&) = delete;
    TRpPrintable& operator=(const TRpPrintable&) = delete;

    virtual QString ClassName() const = 0;
    QString Name;
    TRpPrintableSize Size;
    TRpFrame Frame;
    bool Enabled = true;
    TColor Color = rpcolor::clWhite;

    // Design-pixel bounds relative to the band, at the report's zoom.
    int Left() const { return left_; }
    int Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    // Sets the pixel bounds and the native values of the components that changed.
    void SetPixelBounds(int left, int top, int width, int height);

    // Pixel bounds from Size.Values; a component that comes out 0 takes its stored pixel value.
    void UpdateBoundsFromSize();
    std::optional<int> StoredLeft, StoredTop, StoredWidth, StoredHeight;

    TRpBasePanel* Parent() const { return parent_; }
    TCustomReport* Report() const;

    // What changed the item's context (parent, font, zoom) asks of it.
    virtual void ParentChanged() {}

protected:
    TRpPrintable() : Size(this) {}

private:
    friend class TRpBasePanel;
    friend class TRpPrintableSize;
    TRpBasePanel* parent_ = nullptr;
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
};

// Text items: label, field text and system data.
class TRpCustomLabel : public TRpPrintable {
public:
    TAlignment Alignment = TAlignment::taLeftJustify;
    bool AlignToBand = false;
    bool AutoSize = true;
    bool AutoStretch = false;
    bool Transparent = false;
    bool WordWrap = true;
    // Font size in whole points stored beside the font; applied after loading when > 0.
    int FontSize = 0;

    const QString& Caption() const { return caption_; }
    // Sets the text and formats its lines again.
    virtual void SetCaption(const QString& text);
    // The text actually printed.
    QString PrintCaption;

    const TRpFont& Font() const;
    void SetFont(const TRpFont& font);
    bool ParentFont() const { return parentFont_; }
    void SetParentFont(bool on);
    TRpFont& OwnFont() { return font_; }

    // Memo mode: the text comes as lines of a memo field.
    bool MemoMode() const { return memoMode_; }
    void SetMemoLines(const QStringList& lines);
    void ClearMemo();

    // Splits the print text into output lines and, under AutoSize, sizes the item to them.
    void FormatLines();
    const QStringList& Lines() const { return lines_; }
    bool Formatted() const { return formatted_; }

    // With AlignToBand the item's Left follows the band width.
    void ApplyAlignToBand(int bandWidth);

    void ParentChanged() override { FormatLines(); }

private:
    QString caption_;
    TRpFont font_;
    bool parentFont_ = true;
    bool memoMode_ = false;
    QStringList memoLines_;
    QStringList lines_;
    bool formatted_ = false;
};

class TRpLabel : public TRpCustomLabel {
public:
    QString ClassName() const override { return QStringLiteral("TRpLabel"); }
};

class TRpDBText : public TRpCustomLabel {
public:
    QString ClassName() const override { return QStringLiteral("TRpDBText"); }
    // The bound data set; cleared by itself when the data set is destroyed.
    TDataSet* DataSet() const;
    void SetDataSet(TDataSet* ds);
    // A stored reference ("Form1.Table1") waiting to be bound.
    QString DataSetReference;
    const QString& DataField() const { return dataField_; }
    // Also sets the caption to the field name (the item's own name when empty).
    void SetDataField(const QString& field);
    QString Mask;

private:
    QPointer<TDataSet> dataSet_;
    QString dataField_;
};

class TRpSysData : public TRpCustomLabel {
public:
    TRpSysData();
    QString ClassName() const override { return QStringLiteral("TRpSysData"); }
    TRpSysDataType Data() const { return data_; }
    void SetData(TRpSysDataType d);
    const QString& Text() const { return text_; }
    void SetText(const QString& t);
    // Text followed by "(", the kind's label and ")", shown outside generation.
    QString DesignCaption() const;
    static QString KindLabel(TRpSysDataType d);

private:
    TRpSysDataType data_ = TRpSysDataType::rpsTime;
    QString text_;
};

class TRpShape : public TRpPrintable {
public:
    // A new shape is 65 x 65 design pixels.
    static constexpr int kNewSize = 65;
    TRpShape();
    QString ClassName() const override { return QStringLiteral("TRpShape"); }
    TRpShapeType Shape = TRpShapeType::rpsRectangle;
    TRpPen Pen;
    TRpBrush Brush;
};

// A stored graphic: its class name and data. Bitmaps ("TBitmap") hold a Windows bitmap file.
struct TRpPicture {
    QString GraphicClass;
    QByteArray Bitmap;   // the bitmap file, starting "BM"
    QImage Image;        // decoded picture; null when empty

    bool IsEmpty() const { return Image.isNull(); }
    // Decodes Picture.Data: class name as a length-prefixed text, then for TBitmap a 4-byte
    // little-endian length and the bitmap file. Returns an error text, empty on success.
    static QString Decode(const QByteArray& data, TRpPicture& out);
    // Encodes the same form from a bitmap file.
    static QByteArray EncodeBitmap(const QByteArray& bmpFile);
    QByteArray Encode() const { return EncodeBitmap(Bitmap); }
};

class TRpImage : public TRpPrintable {
public:
    // A new picture item is 105 x 105 design pixels.
    static constexpr int kNewSize = 105;
    TRpImage();
    QString ClassName() const override { return QStringLiteral("TRpImage"); }
    const TRpPicture& Picture() const { return picture_; }
    void SetPicture(TRpPicture picture);
    bool AutoSize() const { return autoSize_; }
    void SetAutoSize(bool on);
    bool Center = false;
    bool Stretch = false;
    // With AutoSize the item takes the picture's pixel size.
    void ApplyAutoSize();

private:
    TRpPicture picture_;
    bool autoSize_ = false;
};
