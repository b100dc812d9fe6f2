#pragma once
// The SQL statements that the program sends to the engine: the import's INSERT and the period
// query's SELECTs. Values are put between double quotes with any double quote inside doubled, so
// that analyser text can neither break a statement nor add to it.
#include <QDate>
#include <QString>
#include <QStringList>
#include <array>

// What the import took from one message, as texts, in the order the INSERT names them.
struct ImportedRow {
    QString date;   // month/day/year as built from the timestamp
    QString time;   // hh:mm:ss
    QString num;    // sample number
    // WBC, RBC, HGB, HCT, PLT, LY1, MO1, GR1, LY2, MO2, GR2, MCV, MCH, MCHC, RDV, MPV, PCT, PDW
    std::array<QString, 18> values;
};

// Full name of the result table: program folder (with its trailing separator) + "DB/HEMATIX.dbf".
QString resultTablePath(const QString& programFolder);

// The eight lines of the import's INSERT statement.
QStringList insertStatement(const QString& programFolder, const ImportedRow& row);

// SELECT * of the rows of one day, the date written month/day/year without leading zeros.
QString singleDaySelect(const QString& programFolder, const QDate& day);
// SELECT * of the rows from first to last, both included.
QString rangeSelect(const QString& programFolder, const QDate& first, const QDate& last);

// A text between double quotes, with every double quote inside it doubled.
QString quoted(const QString& text);
