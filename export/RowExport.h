#pragma once
// Exports result rows to a file a spreadsheet opens: an XLSX workbook (export/Workbook) or a CSV
// file (export/CsvFile), the format named by the file's extension. The file appears whole or not
// at all: the bytes go to a temporary file beside it, synced, then renamed over it, so a failed
// export leaves neither half a file nor a changed one under the chosen name.
//
// Knows: the export's rows and formats, the store's period selection, the durable writes
// (platform/durable). Must not know: windows, dialogs, the command line. Untrusted: the texts of
// the rows (see ExportRows) and the file name (any folder, any extension: checked, never guessed).
#include "export/ExportRows.h"

#include <QDate>
#include <QString>

class ResultStore;
class TQuery;

namespace rowexport {

enum class Format { Xlsx, Csv };

// The format file's extension names (".xlsx" or ".csv", in any case); raises EExportError naming
// the file for any other.
Format formatOf(const QString& file);

// Writes rows into file in format. Raises EExportError naming the file and the cause.
void write(const Rows& rows, const QString& file, Format format);

// Writes the rows of data from its current row to its end into file, in the format its extension
// names; the rows written.
int writeFrom(TDataSet& data, const QString& file);

// Selects the period's rows (first to last, both included) into query, the caller's own, and
// writes them into file as writeFrom does; the rows written. The extension is checked first, so
// a name without a format costs no selection.
int exportPeriod(ResultStore& store, TQuery& query, const QDate& first, const QDate& last, const QString& file);

} // namespace rowexport
