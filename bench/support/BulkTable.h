#pragma once
// Result tables of many rows for the benchmarks, written in one pass: the engine makes the empty
// table and lays out each record through its field codec, and the records go to the file in
// large chunks with the row count set once. One durable append per row would take hours for a
// million rows.
#include "engine/DbfFieldCodec.h"
#include "engine/DbfFile.h"
#include "store/ResultTable.h"

#include <QByteArray>
#include <QFile>
#include <functional>
#include <stdexcept>
#include <vector>

namespace benchsupport {

// fill(row, fields, record) puts row number `row` (from 0) into a blank record.
using FillRecord = std::function<void(int row, const std::vector<DbfField>& fields, char* record)>;

// Makes DB/HEMATIX.dbf in folder with `rows` rows; returns its full name.
inline QString writeResultTable(const QString& folder, int rows, const FillRecord& fill)
{
    const QString path = resulttable::create(folder);
    std::vector<DbfField> fields;
    QByteArray blank;
    int headerLength = 0;
    {
        DbfFile f(path, DbfFile::Access::ReadOnly);
        fields = f.fields();
        blank = f.blankRecord();
        headerLength = f.headerLength();
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        throw std::runtime_error("cannot write the benchmark table");
    file.resize(headerLength);
    file.seek(headerLength);
    QByteArray chunk;
    for (int i = 0; i < rows; ++i) {
        QByteArray record = blank;
        fill(i, fields, record.data());
        chunk += record;
        if (chunk.size() > (4 << 20)) {
            file.write(chunk);
            chunk.clear();
        }
    }
    chunk += '\x1A';
    file.write(chunk);
    const quint32 n = quint32(rows);
    const char count[4] = {char(n & 0xFF), char((n >> 8) & 0xFF), char((n >> 16) & 0xFF), char((n >> 24) & 0xFF)};
    file.seek(4);
    file.write(count, 4);
    return path;
}

} // namespace benchsupport
