#include "report/model/RpPrinterSettings.h"

#include <iterator>

namespace {
// Stored names in the order of TRpBin.
constexpr const char* kBins[] = {
    "First", "Lower", "Middle", "Manual", "Envelope", "EnvManual", "Auto", "Tractor",
    "SmallFormat", "LargeFormat", "LargeCapacity", "Cassette", "Last",
};
} // namespace

std::optional<TRpBin> TReportPrinterSettings::BinFromName(const QString& name)
{
    for (size_t i = 0; i < std::size(kBins); ++i)
        if (name.compare(QLatin1String(kBins[i]), Qt::CaseInsensitive) == 0)
            return static_cast<TRpBin>(i);
    return std::nullopt;
}

QString TReportPrinterSettings::BinName(TRpBin bin)
{
    return QString::fromLatin1(kBins[static_cast<size_t>(bin)]);
}

int TReportPrinterSettings::BinCode(TRpBin bin) { return rpBinCode(bin); }
