#pragma once
// Finding the rows of a table that a SELECT returns: every row not deleted for which the WHERE
// condition is true, in file order. Tables kept in dBase files are scanned straight from their
// record bytes in large reads, and a row is decoded only as far as the condition needs; a
// condition on one date field compares the stored digits as a number.
#include "engine/Sql.h"
#include "engine/SqlEval.h"

#include <vector>

struct SqlSelection {
    std::vector<int> rows;               // from 0, in file order
    std::unique_ptr<SqlKeptRows> kept;   // their values, when the scan could keep them
};

// Bytes of found records kept for reading the result; past this a result reads from the file.
constexpr qsizetype kSqlKeptBytesLimit = 128 * 1024 * 1024;

// Rows that pass; a null condition passes every row not deleted.
SqlSelection selectSqlRows(SqlTable& table, const SqlCondition* where, qsizetype keepLimit = kSqlKeptBytesLimit);
