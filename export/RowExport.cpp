#include "export/RowExport.h"

#include "engine/DataSet.h"
#include "export/CsvFile.h"
#include "export/ExportError.h"
#include "export/Workbook.h"
#include "platform/durable/DurableIo.h"
#include "store/ResultStore.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>

namespace rowexport {

namespace {

QString cannotWrite(const QString& file, int err)
{
    return QStringLiteral("Cannot write the export file %1: %2").arg(file, QString::fromLocal8Bit(std::strerror(err)));
}

} // namespace

Format formatOf(const QString& file)
{
    const QString suffix = QFileInfo(file).suffix().toLower();
    if (suffix == QLatin1String("xlsx"))
        return Format::Xlsx;
    if (suffix == QLatin1String("csv"))
        return Format::Csv;
    throw EExportError(QStringLiteral("Cannot export to %1: the name must end in .xlsx or .csv").arg(file));
}

void write(const Rows& rows, const QString& file, Format format)
{
    if (const int err = durable::replaceWhole(file, format == Format::Xlsx ? workbookBytes(rows) : csvBytes(rows)))
        throw EExportError(cannotWrite(file, err));
}

int writeFrom(TDataSet& data, const QString& file)
{
    const Format format = formatOf(file);
    const Rows rows = readRows(data);
    write(rows, file, format);
    return int(rows.cells.size());
}

int exportPeriod(ResultStore& store, TQuery& query, const QDate& first, const QDate& last, const QString& file)
{
    formatOf(file);
    store.selectPeriod(query, first, last);
    return writeFrom(query, file);
}

} // namespace rowexport
