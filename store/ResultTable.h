#pragma once
// The result table: one row per analysed sample, 28 fields addressed by name. This unit knows
// its layout and makes an empty table; the program itself never creates or restructures it.
//
// Every value the import stores is a quoted text taken from the analyser's message as it stands
// (separators and dashes included, e.g. "7.5 |" or "----"), so the measured values are character
// fields; DAT is a date field so that selections compare dates. Typed-in fields are generous.
#include "engine/DbfFile.h"

#include <QString>
#include <QStringList>
#include <vector>

namespace resulttable {

// The 28 fields in file order.
const std::vector<DbfFieldSpec>& fields();

// The eighteen measured values in the order ImportedRow::values holds them (and the INSERT
// names them): WBC, RBC, HGB, HCT, PLT, LY1, MO1, GR1, LY2, MO2, GR2, MCV, MCH, MCHC, RDV, MPV,
// PCT, PDW.
const QStringList& valueFields();

// The fields that tell one stored message from another: DAT, TIM, NUM and the eighteen values
// in the order above.
const QStringList& keyFields();

// Full name of the table in a program folder: the folder + "DB/HEMATIX.dbf".
QString tableFile(const QString& programFolder);

// Makes the folder DB (and the program folder) when missing and an empty result table in it;
// returns the table's full name. Raises EDatabaseError when a table is there already or it
// cannot be made.
QString create(const QString& programFolder);

} // namespace resulttable
