#pragma once
// Flags of a stored value against its reference limits: whether a row's value reads above or
// below the limits for the patient's age.
//
// Knows: how values are stored (as sent: "142|", "7.5|1", "-----") and how staff type an age
// into DOC ("45 лет", "2 года", "6 мес"). Must not know: the table, how a flag is drawn.
// Untrusted: every text (typed by staff or sent by the analyser); one that does not read is never
// flagged and never raises.
#include "reading/ReferenceRanges.h"

#include <QStringView>
#include <optional>

namespace reading {

enum class Flag { None, High, Low };

// The number at the start of a stored text, before any separator, trimmed ("142|" -> 142,
// "7,5" -> 7.5); none when there is no number there.
std::optional<double> leadingNumber(QStringView text);

// The age DOC gives in years ("45 лет", "1 год", "2 года"; "6 мес" is half a year); none for
// anything else, which counts as an adult.
std::optional<double> ageInYears(QStringView doc);

// The flag of field's stored text for a patient whose DOC is doc; None for a field without limits.
Flag flag(const ReferenceRanges& ranges, const QString& field, QStringView text, QStringView doc);
// The same with the field's index and the age already read (the grid reads DOC once per row).
Flag flagAt(const ReferenceRanges& ranges, int field, QStringView text, std::optional<double> ageYears);

// What follows a flagged value on screen: "↑", "↓" or nothing.
QString marker(Flag f);

} // namespace reading
