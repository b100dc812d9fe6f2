#pragma once
// A table held in memory, for testing the SQL core without files.
#include "engine/Sql.h"

#include <map>
#include <ostream>

// Readable failures for texts.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

class SqlMemoryTable : public SqlTable {
public:
    explicit SqlMemoryTable(std::vector<SqlColumn> columns) : columns_(std::move(columns)) {}

    const std::vector<SqlColumn>& columns() const override { return columns_; }
    int rowCount() override { return static_cast<int>(rows.size()); }
    bool isDeleted(int row) override { return deleted.at(static_cast<size_t>(row)); }
    SqlValue value(int row, int column) override
    {
        return rows.at(static_cast<size_t>(row)).at(static_cast<size_t>(column));
    }
    void append(const std::vector<SqlValue>& row) override
    {
        if (row.size() != columns_.size())
            throw EDatabaseError(QStringLiteral("wrong number of values"));
        rows.push_back(row);
        deleted.push_back(false);
    }

    void add(std::vector<SqlValue> row, bool isDeleted = false)
    {
        row.resize(columns_.size());
        rows.push_back(std::move(row));
        deleted.push_back(isDeleted);
    }

    std::vector<std::vector<SqlValue>> rows;
    std::vector<bool> deleted;

private:
    std::vector<SqlColumn> columns_;
};

// Hands out views of tables kept by the test; a name it does not hold is an error.
class SqlMemoryOpener : public SqlTableOpener {
public:
    std::map<QString, std::shared_ptr<SqlMemoryTable>> tables;

    std::unique_ptr<SqlTable> open(const QString& fullPath) override
    {
        auto it = tables.find(fullPath);
        if (it == tables.end())
            throw EDatabaseError(QStringLiteral("Table does not exist: %1").arg(fullPath));
        return std::make_unique<View>(it->second);
    }

private:
    struct View : SqlTable {
        explicit View(std::shared_ptr<SqlMemoryTable> t) : t_(std::move(t)) {}
        const std::vector<SqlColumn>& columns() const override { return t_->columns(); }
        int rowCount() override { return t_->rowCount(); }
        bool isDeleted(int row) override { return t_->isDeleted(row); }
        SqlValue value(int row, int column) override { return t_->value(row, column); }
        void append(const std::vector<SqlValue>& row) override { t_->append(row); }
        std::shared_ptr<SqlMemoryTable> t_;
    };
};

// The result table's columns, as the import and the period query use them.
inline std::vector<SqlColumn> resultColumnsForTest()
{
    std::vector<SqlColumn> c;
    auto add = [&](const char* name, TFieldType t, int size, int dec = 0) {
        c.push_back(SqlColumn{QString::fromLatin1(name), t, size, dec});
    };
    add("DAT", TFieldType::Date, 8);
    add("TIM", TFieldType::String, 8);
    add("NUM", TFieldType::String, 9);
    add("FIO", TFieldType::String, 60);
    add("DOC", TFieldType::String, 20);
    add("RECEPTION", TFieldType::String, 60);
    for (const char* n : {"WBC", "LY1", "MO1", "GR1", "LY2", "MO2", "GR2", "RBC", "HGB", "HCT", "MCV",
                          "MCH", "MCHC", "RDV", "PLT", "MPV", "PCT", "PDW"})
        add(n, TFieldType::String, 10);
    add("COE", TFieldType::String, 10);
    add("RETIC", TFieldType::String, 10);
    add("FORMULA", TFieldType::Memo, 10);
    add("COMMENT", TFieldType::Memo, 10);
    return c;
}
