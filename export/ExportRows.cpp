#include "export/ExportRows.h"

#include "engine/DataSet.h"
#include "reading/Flags.h"
#include "reading/ReferenceRanges.h"

namespace rowexport {

Kind kindOf(const QString& field, TFieldType type)
{
    if (type == TFieldType::Date)
        return Kind::Date;
    return reading::ReferenceRanges::indexOf(field) >= 0 ? Kind::Value : Kind::Text;
}

Cell cellOf(Kind kind, const QString& stored)
{
    Cell c;
    c.text = stored.trimmed();
    if (kind == Kind::Value) {
        // The same reading as the flags', so a value the grid flags is the number the sheet holds.
        if (const auto n = reading::leadingNumber(c.text)) {
            c.type = Cell::Type::Number;
            c.number = *n;
        }
    }
    return c;
}

Cell dateCell(const QDate& date)
{
    Cell c;
    c.type = Cell::Type::Date;
    c.date = date;
    return c;
}

Rows readRows(TDataSet& data)
{
    Rows rows;
    const auto& fields = data.Fields();
    for (const auto& f : fields)
        rows.columns.push_back({f->FieldName(), kindOf(f->FieldName(), f->DataType())});
    for (; !data.Eof(); data.Next()) {
        std::vector<Cell> row;
        row.reserve(fields.size());
        for (size_t i = 0; i < fields.size(); ++i) {
            const TField& f = *fields[i];
            row.push_back(rows.columns[i].kind == Kind::Date ? dateCell(f.AsDate())
                                                              : cellOf(rows.columns[i].kind, f.AsString()));
        }
        rows.cells.push_back(std::move(row));
    }
    return rows;
}

} // namespace rowexport
