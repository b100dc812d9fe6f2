#pragma once
// Rows as an XLSX workbook (libxlsxwriter): one sheet, a header row of the column names (bold,
// frozen, with a filter), then one row per result. A number cell for a number, a date cell shown
// dd.mm.yyyy for a date, a string cell for every text: a text is never written as a formula,
// whatever it starts with ("=", "+", "-", "@").
//
// Knows: the cells, libxlsxwriter. Must not know: tables, the store, where the bytes go (the
// caller puts them in place). Untrusted: the texts, written only as strings.
#include "export/ExportRows.h"

#include <QByteArray>

namespace rowexport {

// The whole workbook file. Raises EExportError when the library cannot make it (a text past
// a cell's 32,767 characters, no room for its scratch files).
QByteArray workbookBytes(const Rows& rows);

} // namespace rowexport
