#pragma once
// The SQL core's view of a dBase table: columns, rows and durable appends, over DbfFile and
// DbfFieldCodec. TQuery runs its statements through DbfTableOpener.
#include "engine/DbfFile.h"
#include "engine/Sql.h"

#include <memory>

class DbfSqlTable : public SqlTable {
public:
    // Opens the table for reading and appending; raises EDatabaseError.
    explicit DbfSqlTable(const QString& path);

    const std::vector<SqlColumn>& columns() const override { return columns_; }
    int rowCount() override { return file_.recordCount(); }
    bool isDeleted(int row) override { return file_.isDeleted(row); }
    SqlValue value(int row, int column) override;
    void append(const std::vector<SqlValue>& row) override;

    DbfFile& file() { return file_; }

private:
    DbfFile file_;
    std::vector<SqlColumn> columns_;
};

class DbfTableOpener : public SqlTableOpener {
public:
    std::unique_ptr<SqlTable> open(const QString& fullPath) override;
};
