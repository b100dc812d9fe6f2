#include "export/RowExport.h"

#include "engine/DataSet.h"
#include "export/CsvFile.h"
#include "export/ExportError.h"
#include "export/Workbook.h"
#include "platform/durable/DurableIo.h"
#include "store/ResultStore.h"

#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace rowexport {

namespace {

QString cannotWrite(const QString& file, int err)
{
    return QStringLiteral("Cannot write the export file %1: %2").arg(file, QString::fromLocal8Bit(std::strerror(err)));
}

// The bytes under a temporary name beside file, synced, then renamed over it. The folder is not
// synced after the rename: a crash then leaves the old name or the new one, each a whole file,
// which is all an export promises.
void replaceWhole(const QString& file, const QByteArray& bytes)
{
    static std::atomic<unsigned> counter{0};
    const QFileInfo info(file);
    const QString tmp = info.absolutePath() + QStringLiteral("/.%1.%2.%3.part")
                                                  .arg(info.fileName())
                                                  .arg(::getpid())
                                                  .arg(counter.fetch_add(1));
    const int fd = durable::openForWrite(tmp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC);
    if (fd < 0)
        throw EExportError(cannotWrite(file, errno));
    bool ok = durable::writeAll(fd, tmp, bytes.constData(), bytes.size()) && durable::sync(fd, tmp);
    int err = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && !durable::rename(tmp, file)) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        durable::remove(tmp);
        throw EExportError(cannotWrite(file, err));
    }
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
    replaceWhole(file, format == Format::Xlsx ? workbookBytes(rows) : csvBytes(rows));
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
