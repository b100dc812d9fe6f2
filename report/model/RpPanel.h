#pragma once
// The common ground of a report and its bands: a named container of printable items with a
// font that its items inherit, a frame, a background colour and design-pixel bounds.
// Knows: its items in drawing order, its parent's font. Must not know: band roles, pages, layout
// text, drawing. Untrusted: nothing; what it holds was set by the loader or the program.
#include "report/model/RpTypes.h"

#include <QString>
#include <memory>
#include <vector>

class TRpPrintable;
class TCustomReport;

class TRpBasePanel {
public:
    virtual ~TRpBasePanel();
    TRpBasePanel(const TRpBasePanel&) = delete;
    TRpBasePanel& operator=(const TRpBasePanel&) = delete;

    virtual QString ClassName() const = 0;
    QString Name;

    // The font items inherit; with ParentFont the panel takes its parent's.
    const TRpFont& Font() const;
    // Gives the panel its own font and formats the items' lines again.
    void SetFont(const TRpFont& font);
    bool ParentFont() const { return parentFont_; }
    void SetParentFont(bool on);
    TRpFont& OwnFont() { return font_; }   // loading writes the font piece by piece

    TRpFrame Frame;
    TColor Color = rpcolor::clWhite;

    // Design-pixel bounds (96 per inch at the report's zoom).
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;

    TRpBasePanel* Parent() const { return parent_; }
    // The report the panel belongs to, or nullptr.
    virtual TCustomReport* Report() const;

    // Items in stored order, which is their drawing order.
    const std::vector<std::unique_ptr<TRpPrintable>>& Items() const { return items_; }
    TRpPrintable* AddItem(std::unique_ptr<TRpPrintable> item);
    std::unique_ptr<TRpPrintable> RemoveItem(TRpPrintable* item);
    // Runs line formatting of every text item (after a font or parent change).
    void FormatItems();

protected:
    explicit TRpBasePanel(bool parentFont) : parentFont_(parentFont) {}
    TRpBasePanel* parent_ = nullptr;

private:
    TRpFont font_;
    bool parentFont_;
    std::vector<std::unique_ptr<TRpPrintable>> items_;
};
