#pragma once
// Rows as a CSV file for spreadsheets set up for Russian: UTF-8 with a byte-order mark (so that
// Excel takes it as UTF-8), ";" between fields (the comma is the decimal separator there), every
// field between double quotes with a quote inside doubled, lines ended by CR LF. Dates are
// dd.mm.yyyy; every other field is its text as stored, trimmed ("7.5|1" stays "7.5|1").
//
// Knows: the cells. Must not know: tables, the store, where the bytes go. Untrusted: the texts,
// which the quoting keeps inside their field whatever they hold (";", quotes, line breaks). A
// text is written as stored, so one starting with "=" is what a spreadsheet opening the file
// makes of it; the workbook is the format that keeps such a text a text.
#include "export/ExportRows.h"

#include <QByteArray>

namespace rowexport {

QByteArray csvBytes(const Rows& rows);

} // namespace rowexport
