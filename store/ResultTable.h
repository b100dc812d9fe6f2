#pragma once
// The result table: one row per analysed sample, 28 fields addressed by name. This unit knows
// its layout and makes an empty table; the program itself never creates or restructures it.
//
// Every value the import stores is a quoted text taken from the analyser's message as it stands
// (separators and dashes included, e.g. "7.5 |" or "----"), so the measured values are character
// fields; DAT is a date field so that selections compare dates. Typed-in fields are generous.
#include "engine/DbfFile.h"

#include <QString>
#include <vector>

namespace resulttable {

// The 28 fields in file order.
const std::vector<DbfFieldSpec>& fields();

// Full name of the table in a program folder: the folder + "DB/HEMATIX.dbf".
QString tableFile(const QString& programFolder);

// Makes the folder DB (and the program folder) when missing and an empty result table in it;
// returns the table's full name. Raises EDatabaseError when a table is there already or it
// cannot be made.
QString create(const QString& programFolder);

} // namespace resulttable
