#pragma once
// Printable items drawing themselves on a page: text items (static text, field text, system
// data), shapes, pictures, and the frames of items, bands and pages. Also the per-run state the
// items keep while a generation runs (the print text, the next line to print, the bound field).
//
// Knows: the report model's items, the recorder's canvas and unit conversion, the data set layer's
// display texts.
// Must not know: bands' placement on the page (generation decides where a band lands), windows.
// Untrusted: field values (any text, any length; a read or format error prints an empty text),
// item measures from a loaded layout (clamped to int device coordinates).
#include "platform/canvas/PageCanvas.h"
#include "report/model/RpTypes.h"

#include <QDateTime>
#include <functional>
#include <unordered_map>

class TCustomReport;
class TField;
class TRpPrintable;
class TRpBasePanel;
class TRpCustomLabel;
class TRpDBText;
class TRpSysData;
class TRpShape;
class TRpImage;
class TRpPrinter;

namespace rpdevice {
// Device coordinates handed to a canvas stay within +-2^26 pixels, far beyond any sheet at any
// resolution, so that no canvas overflows working out a width or height from a hostile layout.
constexpr long long kLimit = 1LL << 26;
int clamp(long long v);
DeviceRect clampRect(const DeviceRect& r);
} // namespace rpdevice

namespace rpframe {
// Line thicknesses of a frame in device pixels: vertical lines from the x factor, horizontal from
// the y factor (native units per device pixel); 1 pixel at least when the frame has a width.
int verticalThickness(const TRpFrame& frame, long double xFactor);
int horizontalThickness(const TRpFrame& frame, long double yFactor);
// Draws the sides that are set, as filled strips inside r: top, bottom, left, right.
void draw(PageCanvas& canvas, const TRpFrame& frame, const DeviceRect& r, long double xFactor,
          long double yFactor);
} // namespace rpframe

// What a printing item asks of the run it prints in.
struct TRpPrintRun {
    TRpPrinter* printer = nullptr;
    int pageCount = 0;          // pages started in this run
    int detailNumber = 0;       // details printed in this run
    std::function<QDateTime()> now;
    // Native space left below the band's top on this page (AvailableSpace).
    std::function<int()> availableSpace;
};

// The band an item prints on: its native height as it stands and the height its stretching items
// have added in this print.
struct TRpBandExtent {
    long double height = 0;
    long double expansion = 0;
};

class TRpItemPrinter {
public:
    // Before the record driver runs: every item of every band and every item on the report takes
    // its print state; text items' print text becomes their caption, field texts bind their field.
    void Prepare(TCustomReport& report);
    // After the run: state dropped; field texts show their field name again for the design surface.
    void Unprepare(TCustomReport& report);
    // Prints one enabled item with its band's origin at native (x, y). Returns whether the item
    // finished (false only for a stretching text with lines left for the next column or page).
    bool Print(TRpPrintable& item, int x, int y, TRpBandExtent& band, const TRpPrintRun& run);
    // Whether the item finished its last print (true for items that have not printed).
    bool Finished(const TRpPrintable& item) const;
    // The next line an unfinished text item prints; 0 otherwise.
    qsizetype NextLine(const TRpPrintable& item) const;
    // Every item of a panel counts as finished (lines left over are dropped).
    void FinishAll(const TRpBasePanel& panel);

    // The print text of a field text from the current row of its data set, as the run would set it.
    void SetFieldText(TRpDBText& item);
    // The value a system data item shows for this run.
    static QString SysDataValue(const TRpSysData& item, const TRpPrintRun& run);
    // Date and date-time texts as the system's short date and long time formats give them; the
    // date alone at exactly midnight.
    static QString DateTimeText(const QDateTime& t);

private:
    struct State {
        bool finished = true;
        qsizetype nextLine = 0;
        TField* field = nullptr;
        int fieldIndex = -1;
        bool found = false;
    };
    State& state(const TRpPrintable& item);
    void printText(TRpCustomLabel& item, int x, int y, TRpBandExtent& band, const TRpPrintRun& run);
    void printShape(TRpShape& item, int x, int y, const TRpPrintRun& run);
    void printImage(TRpImage& item, int x, int y, const TRpPrintRun& run);

    std::unordered_map<const TRpPrintable*, State> states_;
};
