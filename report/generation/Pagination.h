#pragma once
// The arithmetic of pagination: how much room a page has left, where the page footers and a
// bottom-aligned band go, whether a band must move on to the next column or page, and where the
// next column starts. A plain value, set up once per run from the page and the recorder's sheet;
// the generator keeps the run (positions, counters, bands) and asks it.
//
// Knows: native measures. Must not know: bands, items, recorders. Untrusted: margins and heights
// may be anything a layout holds; results are clamped to int.
#include <optional>

class TRpPagination {
public:
    struct Geometry {
        long double paperLength = 0;   // the recorder's sheet length
        long double alignLength = 0;   // the length a bottom-aligned band counts from
        long double pageLength = 0;    // the layout's own page length, where the footers go
        long double topMargin = 0;
        long double bottomMargin = 0;
        long double leftMargin = 0;
        long double printableLength = 0;
        int footerReserve = 0;         // the page footers with their child bands
        int columns = 1;
        int columnSpace = 0;
        int columnWidth = 0;           // the detail band's width, or the printable width shared out
    };

    TRpPagination() = default;
    explicit TRpPagination(const Geometry& g) : g_(g) {}

    // Room left above the bottom margin and the page footers for a band whose top is at y.
    int Available(int y) const;
    // Where a bottom-aligned band of that height starts, the page footers staying below it.
    int BottomAlignedTop(long double bandHeight) const;
    // Where the page footers start.
    int FooterTop() const;
    int TopMargin() const;
    int LeftMargin() const;
    // Whether a band must move on before it prints: always before the first page; a page footer
    // never; a band taller than a whole page, or on a page that holds only its headers, prints
    // where it is (it would not fit the next one either).
    bool MovesOn(int bandHeight, int y, bool firstPage, bool pageFooter, bool pageFresh) const;
    // The x of the column after `column` starting at x; none when the page is full (a new page).
    std::optional<int> NextColumnX(int column, int x) const;

private:
    Geometry g_;
};
