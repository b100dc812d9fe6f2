#pragma once
// Puts texts and fields onto a loaded report by item name: the captions of its labels and the
// data set and field of its field texts. A holder of a report whose layout leaves these to the
// program (the period report) calls it before every run.
//
// Knows: the report's items. Must not know: where the names and texts come from
// (store/PeriodQuery has the period report's). Untrusted: the report's items: names that match
// no item, or an item of another kind, are passed over, as a layout file the user replaced may
// lack them.
#include <QString>
#include <span>
#include <utility>

class TDataSet;
class TReport;

namespace rpbinding {

// Item name -> caption, for every label of that name.
void setCaptions(TReport& report, std::span<const std::pair<QString, QString>> captions);

// Item name -> field, for every field text of that name; each also gets the data set unless it
// is null (then the one the layout named stays).
void bindFields(TReport& report, TDataSet* dataSet, std::span<const std::pair<QString, QString>> fields);

} // namespace rpbinding
