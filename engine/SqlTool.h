#pragma once
// The SQL tool for people who look after the lab's data: one statement against table files,
// returned rows printed as CSV (UTF-8, header line, RFC 4180 quoting), or the number of rows
// changed. Kept apart from the program's entry point so that it can be tested in process.
#include <QIODevice>
#include <QString>
#include <QStringList>

class TDataSet;

// One CSV line from texts: a field holding a comma, a double quote, CR or LF is put between
// double quotes with its quotes doubled; the line ends with CR LF.
QByteArray csvLine(const QStringList& fields);

// Writes the header line and every row of an open data set, from its first row on. Dates are
// written year-month-day; a date held in the file that is no calendar day is written as stored.
void writeCsv(TDataSet& dataSet, QIODevice& out);

// Runs the tool. args are the command-line arguments without the program name: the statement
// (its words joined with spaces), or nothing to read the statement from in. Returns the exit
// status: 0 done, 1 the engine refused or failed (its message on err), 2 wrong usage.
int runSqlTool(const QStringList& args, QIODevice& in, QIODevice& out, QIODevice& err);

// What --help prints.
QString sqlToolHelp();
