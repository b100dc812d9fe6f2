#pragma once
// Bands: horizontal strips of a report, each with a role (BandType) and a native size.
// Knows: band roles, native and pixel sizes, the chain of child bands, the report a band is in.
// Must not know: layout text, how a band is placed on a page or printed. Untrusted: the chains
// a layout stores: a parent link that would close a loop is refused.
#include "report/model/RpPanel.h"
#include "report/model/RpUnits.h"

#include <optional>

class TRpCustomBand;

// Height and Width of a band, stored as Size.Values = (Height, Width).
class TRpBandSize : public TRpUnitBase {
public:
    enum Index { Height, Width };
    explicit TRpBandSize(TRpCustomBand* band) : TRpUnitBase(2), band_(band) {}

protected:
    TRpAxis AxisOf(int index) const override
    {
        return index == Width ? TRpAxis::Horizontal : TRpAxis::Vertical;
    }
    void Changed(int index) override;

private:
    TRpCustomBand* band_;
};

class TRpCustomBand : public TRpBasePanel {
public:
    // A new band is 40 design pixels high.
    static constexpr int kNewBandHeight = 40;

    TRpCustomBand();
    ~TRpCustomBand() override;

    TRpBandType BandType() const { return bandType_; }
    // Changing the role reorders the report's band list.
    void SetBandType(TRpBandType type);

    TRpBandSize Size;
    bool Enabled = true;
    bool ForceNewPage = false;
    bool ForceNewColumn = false;
    bool AlignToBottom = false;

    // The child band that follows this band (none by default).
    TRpCustomBand* ChildBand() const { return child_; }
    bool HasChild() const { return child_ != nullptr; }
    // For a child band: the band it follows.
    TRpCustomBand* ParentBand() const { return parentBand_; }
    void SetParentBand(TRpCustomBand* parent);

    TCustomReport* Report() const override;
    void AttachToReport(TCustomReport* report);

    // Pixel height from Size.Values; the stored pixel height only when that gives the 40 pixels
    // of a new band.
    void UpdateBoundsFromSize();
    // Pixel values read from a stored layout before Size.Values, held back until loading ends.
    std::optional<int> StoredLeft, StoredTop, StoredWidth, StoredHeight;

    // The role that decides the band's width: a child takes the role of the first non-child
    // band up its chain.
    TRpBandType LayoutType() const;

protected:
    explicit TRpCustomBand(TRpBandType type);

private:
    friend class TRpBandSize;
    void SizeChanged(int index);
    TRpBandType bandType_ = TRpBandType::rbTitle;
    TRpCustomBand* child_ = nullptr;
    TRpCustomBand* parentBand_ = nullptr;
    TCustomReport* report_ = nullptr;
};

class TRpBand : public TRpCustomBand {
public:
    TRpBand() = default;
    QString ClassName() const override { return QStringLiteral("TRpBand"); }
};

class TRpChildBand : public TRpCustomBand {
public:
    TRpChildBand() : TRpCustomBand(TRpBandType::rbChild) {}
    QString ClassName() const override { return QStringLiteral("TRpChildBand"); }
};
