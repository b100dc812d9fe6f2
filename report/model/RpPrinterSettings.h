#pragma once
// Printer settings a report carries: handed to the page recorder at the start of generation.
// Knows: copies, page range, duplex, the paper sources' stored names and bin codes. Must not
// know: printers, the recorder. Untrusted: a stored bin name: an unknown one reads as none.
#include "report/pages/PrinterSettings.h"

#include <QString>
#include <optional>

// Paper sources (TRpBin) are the printer settings' own; the Windows bin code of each is BinCode().

struct TReportPrinterSettings {
    int Copies = 1;
    bool Duplex = false;   // stored only
    int FirstPage = 0;     // 0: from the first
    int LastPage = 0;      // 0: to the last
    TRpBin OutputBin = TRpBin::Auto;

    static std::optional<TRpBin> BinFromName(const QString& name);
    static QString BinName(TRpBin bin);
    static int BinCode(TRpBin bin);
};
