#pragma once
// What the import takes from one analyser message: the texts of one row of the result table,
// exactly as the analyser sent them.
//
// Knows: nothing but the texts. Must not know: tables, statements, capture files.
// Untrusted: every text (analyser bytes); the stores check them against their fields.
#include <QString>
#include <array>

struct ImportedRow {
    QString date;   // month/day/year as built from the timestamp
    QString time;   // hh:mm:ss
    QString num;    // sample number
    // The measured values in the order of resulttable::valueFields():
    // WBC, RBC, HGB, HCT, PLT, LY1, MO1, GR1, LY2, MO2, GR2, MCV, MCH, MCHC, RDV, MPV, PCT, PDW
    std::array<QString, 18> values;
};
