#include "export/Workbook.h"

#include "export/ExportError.h"

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <memory>
#include <xlsxwriter.h>

namespace rowexport {

namespace {

constexpr double kMinWidth = 6;
constexpr double kMaxWidth = 60;
// dd.mm.yyyy is 10 characters; one more keeps it clear of the next column.
constexpr double kDateWidth = 11;

QString failure(lxw_error e) { return QString::fromUtf8(lxw_strerror(e)); }

// Each column as wide as its longest text (the header's included), within reason: a long comment
// would otherwise push every other column off the screen.
std::vector<double> columnWidths(const Rows& rows)
{
    std::vector<double> widths;
    for (const Column& c : rows.columns)
        widths.push_back(c.kind == Kind::Date ? kDateWidth : double(c.name.size()));
    for (const auto& row : rows.cells)
        for (size_t i = 0; i < row.size() && i < widths.size(); ++i)
            if (row[i].type != Cell::Type::Date)
                widths[i] = std::max(widths[i], double(row[i].text.size()));
    for (double& w : widths)
        w = std::clamp(w + 1, kMinWidth, kMaxWidth);
    return widths;
}

void check(lxw_error e, size_t row, size_t column)
{
    if (e != LXW_NO_ERROR)
        throw EExportError(QStringLiteral("Cannot put row %1, column %2 into the workbook: %3")
                               .arg(row)
                               .arg(column + 1)
                               .arg(failure(e)));
}

} // namespace

QByteArray workbookBytes(const Rows& rows)
{
    // The library writes only to a named file (and keeps scratch files meanwhile): both go into a
    // private folder, and the caller puts the bytes where they belong.
    QTemporaryDir scratch;
    if (!scratch.isValid())
        throw EExportError(QStringLiteral("Cannot make a temporary folder for the workbook: %1").arg(scratch.errorString()));
    const QString path = scratch.filePath(QStringLiteral("export.xlsx"));
    const QByteArray pathBytes = QFile::encodeName(path);
    QByteArray tmpdir = QFile::encodeName(scratch.path());
    lxw_workbook_options options{};
    options.tmpdir = tmpdir.data();
    std::unique_ptr<lxw_workbook, void (*)(lxw_workbook*)> book(
        workbook_new_opt(pathBytes.constData(), &options), [](lxw_workbook* b) {
            if (b)
                workbook_close(b);
        });
    if (!book)
        throw EExportError(QStringLiteral("Cannot start a workbook: out of memory"));
    lxw_worksheet* sheet = workbook_add_worksheet(book.get(), "Результаты");
    lxw_format* header = workbook_add_format(book.get());
    format_set_bold(header);
    lxw_format* date = workbook_add_format(book.get());
    format_set_num_format(date, "dd.mm.yyyy");
    if (!sheet || !header || !date)
        throw EExportError(QStringLiteral("Cannot start a workbook: out of memory"));

    for (size_t c = 0; c < rows.columns.size(); ++c)
        check(worksheet_write_string(sheet, 0, lxw_col_t(c), rows.columns[c].name.toUtf8().constData(), header), 0, c);
    lxw_row_t r = 1;
    for (const auto& row : rows.cells) {
        for (size_t c = 0; c < row.size(); ++c) {
            const Cell& cell = row[c];
            const auto col = lxw_col_t(c);
            switch (cell.type) {
            case Cell::Type::Number:
                check(worksheet_write_number(sheet, r, col, cell.number, nullptr), r, c);
                break;
            case Cell::Type::Date:
                if (cell.date.isValid()) {
                    lxw_datetime d{cell.date.year(), cell.date.month(), cell.date.day(), 0, 0, 0};
                    check(worksheet_write_datetime(sheet, r, col, &d, date), r, c);
                }
                break;
            case Cell::Type::Text:
                // A string, never a formula: a typed "=1+1" must stay what was typed.
                if (!cell.text.isEmpty())
                    check(worksheet_write_string(sheet, r, col, cell.text.toUtf8().constData(), nullptr), r, c);
                break;
            }
        }
        ++r;
    }
    const std::vector<double> widths = columnWidths(rows);
    for (size_t c = 0; c < widths.size(); ++c)
        worksheet_set_column(sheet, lxw_col_t(c), lxw_col_t(c), widths[c], nullptr);
    worksheet_freeze_panes(sheet, 1, 0);
    if (!rows.columns.empty())
        worksheet_autofilter(sheet, 0, 0, r - 1, lxw_col_t(rows.columns.size() - 1));

    const lxw_error closed = workbook_close(book.release());
    if (closed != LXW_NO_ERROR)
        throw EExportError(QStringLiteral("Cannot make the workbook: %1").arg(failure(closed)));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw EExportError(QStringLiteral("Cannot read the workbook back from %1: %2").arg(path, file.errorString()));
    return file.readAll();
}

} // namespace rowexport
