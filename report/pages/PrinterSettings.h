#pragma once
// The recorder's printer settings: which printer, its resolution and unprintable edges, and the
// paper, orientation, copies, paper source and two-sided choice of the next print, taken only as
// far as the printer offers them. Read from the printer's defaults as PrinterInfo last learnt
// them (the print service is not asked for each recorder), applied to a print job as a page
// layout and job options.
//
// Knows: the paper table, the paper sources and the installed printers as PrinterInfo describes
// them. Knows nothing of reports or of the recorder. Untrusted: nothing (values come from the
// report's settings and from the print service).
#include "platform/print/PrintJob.h"
#include "report/pages/PaperSize.h"

#include <QList>
#include <QPageLayout>
#include <QString>
#include <optional>

struct PrinterDescription;

// Paper sources by their stored names, in order.
enum class TRpBin {
    First, Lower, Middle, Manual, Envelope, EnvManual, Auto, Tractor, SmallFormat, LargeFormat,
    LargeCapacity, Cassette, Last
};

// The Windows paper-bin code of a source (DMBIN_*), as stored report files and drivers name them.
int rpBinCode(TRpBin bin);
// The first source, in table order, with that code; none for a code no source has.
std::optional<TRpBin> rpBinFromCode(int code);
// The print service's media-source keyword for a source, and back (empty / none when it has none).
QString rpBinSourceKeyword(TRpBin bin);
std::optional<TRpBin> rpBinFromSourceKeyword(const QString& keyword);

class TPrinterSettings {
public:
    // Reads the default printer, when one is installed; otherwise A4 portrait, one copy.
    TPrinterSettings();

    // Selects the printer at index in the printer list (-1, or an index past the list: the
    // default) and reads its defaults. Nothing happens without printers.
    void SelectPrinter(int index);
    // Reads the selected printer's defaults again, found by its name (the list is asked again
    // when the name is not in it) or else by its index: names, resolution, copies, paper source,
    // two-sided, offsets, paper, supported sizes. The orientation is not read.
    void ReadFromPrinter();

    bool PrinterPresent() const { return present_; }
    int PrinterIndex() const { return index_; }
    const QString& Device() const { return device_; }
    const QString& Driver() const { return driver_; }
    const QString& Port() const { return port_; }

    // Setters answer whether the value was taken: a printer takes only what its driver offers;
    // with none installed every paper size and orientation is taken, so that a page keeps its
    // size on a computer without a printer.
    int Copies() const { return copies_; }
    bool SetCopies(int copies);
    TRpOrientation Orientation() const { return orientation_; }
    bool SetOrientation(TRpOrientation orientation);
    TRpBin OutputBin() const { return bin_; }
    bool SetOutputBin(TRpBin bin);
    TRpPaperSize PaperSize() const { return paperSize_; }
    bool SetPaperSize(TRpPaperSize size);
    bool Supports(TRpPaperSize size) const;
    // The custom sheet in native units (0.1 mm); taken only while the paper size is Custom.
    int CustomWidth() const { return customWidth_; }
    int CustomLength() const { return customLength_; }
    bool SetPaperWidth(int width);
    bool SetPaperLength(int length);
    bool Duplex() const { return duplex_; }
    void SetDuplex(bool duplex) { duplex_ = duplex; }

    // The printer's physical default sheet, portrait, in native units (0 when unknown).
    int PhysicalWidth() const { return physicalWidth_; }
    int PhysicalLength() const { return physicalLength_; }
    // Page size in native units in the current orientation (Custom is never turned).
    int PaperWidth() const;
    int PaperLength() const;

    int XPixelsPerInch() const { return xDpi_; }
    int YPixelsPerInch() const { return yDpi_; }
    // The unprintable edge at the left and top of the sheet, native units.
    int LeftOffset() const { return leftOffset_; }
    int TopOffset() const { return topOffset_; }

    // The settings applied to a print job: the sheet with the printer's unprintable edges as
    // margins, and the job's copies, paper source and two-sided choice.
    QPageLayout PageLayout() const;
    PrintJobOptions JobOptions() const;

private:
    void read(const PrinterDescription& printer);

    bool present_ = false;
    int index_ = -1;
    QString device_;
    QString driver_;
    QString port_;
    int copies_ = 1;
    bool copiesSupported_ = false;
    TRpOrientation orientation_ = TRpOrientation::poPortrait;
    TRpBin bin_ = TRpBin::First;
    QList<QString> sources_;
    TRpPaperSize paperSize_ = TRpPaperSize::A4;
    QList<int> supportedCodes_;
    int customWidth_ = 0;
    int customLength_ = 0;
    int physicalWidth_ = 0;
    int physicalLength_ = 0;
    bool duplex_ = false;
    bool duplexSupported_ = false;
    int xDpi_ = 300;
    int yDpi_ = 300;
    int leftOffset_ = 0;
    int topOffset_ = 0;
};
