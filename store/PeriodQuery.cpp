#include "store/PeriodQuery.h"

#include "engine/DateFormat.h"

namespace periodquery {

const std::vector<std::pair<QString, QString>>& fieldBindings()
{
    static const std::vector<std::pair<QString, QString>> bindings = {
        {"RpDBText1", "DAT"},   {"RpDBText2", "NUM"},   {"RpDBText3", "FIO"},   {"RpDBText4", "RECEPTION"},
        {"RpDBText5", "WBC"},   {"RpDBText6", "RBC"},   {"RpDBText7", "HGB"},   {"RpDBText8", "HCT"},
        {"RpDBText9", "PLT"},   {"RpDBText13", "MCV"},  {"RpDBText14", "MCH"},  {"RpDBText15", "MCHC"},
        {"RpDBText16", "RDV"},  {"RpDBText17", "MPV"},  {"RpDBText18", "PCT"},  {"RpDBText19", "PDW"},
        {"RpDBText20", "COE"},  {"RpDBText21", "RETIC"}, {"RpDBText22", "FORMULA"},
    };
    return bindings;
}

bool isOneDay(const QDate& first, const QDate& last)
{
    const QString format = datefmt::shortDateFormat();
    return first.toString(format) == last.toString(format);
}

std::array<std::pair<QString, QString>, 3> headings(const QDate& first, const QDate& last)
{
    const QString format = datefmt::shortDateFormat();
    const bool oneDay = isOneDay(first, last);
    return {{{QStringLiteral("RpLabel2"), first.toString(format)},
             {QStringLiteral("RpLabel3"), oneDay ? QString() : QStringLiteral(" - ")},
             {QStringLiteral("RpLabel4"), oneDay ? QString() : last.toString(format)}}};
}

} // namespace periodquery
