#pragma once
// Printer settings a report carries: handed to the page recorder at the start of generation.
#include <QString>
#include <optional>

// Paper sources by their stored names, in order; the Windows bin code of each is BinCode().
enum class TRpBin {
    First, Lower, Middle, Manual, Envelope, EnvManual, Auto, Tractor, SmallFormat, LargeFormat,
    LargeCapacity, Cassette, Last
};

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
