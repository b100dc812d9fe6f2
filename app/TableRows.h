#pragma once
// Read-only access to a table file's rows by record number, for the grid: it reads only the
// rows it is asked for (through the file layer's block cache), so a table of a million rows is
// shown without being read whole.
#include <QString>
#include <memory>

class DbfFile;

class TableRows {
public:
    TableRows();
    ~TableRows();

    // Opens the table file read-only; false (and closed) when it cannot be opened.
    bool open(const QString& fileName);
    void close();
    bool isOpen() const { return file_ != nullptr; }
    // Re-reads the header and drops cached blocks, after the table was written.
    void refresh();

    int recordCount() const;   // physical records, deleted ones included
    bool isDeleted(int recNo); // recNo from 1
    // The field's display text in that record; empty for an unknown field or record.
    QString text(int recNo, const QString& fieldName);
    // Display width of a field in characters (at least 1).
    int displayWidth(const QString& fieldName) const;

private:
    std::unique_ptr<DbfFile> file_;
};
