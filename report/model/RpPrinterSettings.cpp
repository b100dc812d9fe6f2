#include "report/model/RpPrinterSettings.h"

#include <iterator>

namespace {
struct BinInfo {
    const char* name;
    int code;   // DMBIN_*
};
constexpr BinInfo kBins[] = {
    {"First", 1},        {"Lower", 2},        {"Middle", 3},         {"Manual", 4},
    {"Envelope", 5},     {"EnvManual", 6},    {"Auto", 7},           {"Tractor", 8},
    {"SmallFormat", 9},  {"LargeFormat", 10}, {"LargeCapacity", 11}, {"Cassette", 14},
    {"Last", 15},
};
} // namespace

std::optional<TRpBin> TReportPrinterSettings::BinFromName(const QString& name)
{
    for (size_t i = 0; i < std::size(kBins); ++i)
        if (name.compare(QLatin1String(kBins[i].name), Qt::CaseInsensitive) == 0)
            return static_cast<TRpBin>(i);
    return std::nullopt;
}

QString TReportPrinterSettings::BinName(TRpBin bin)
{
    return QString::fromLatin1(kBins[static_cast<size_t>(bin)].name);
}

int TReportPrinterSettings::BinCode(TRpBin bin) { return kBins[static_cast<size_t>(bin)].code; }
