#pragma once
// Finding result rows in the PostgreSQL database: part of a sample number or patient name, and a
// patient's rows, through the database's own indexes (trigram indexes on the folded number and
// name, an index on the folded whole name; see PgSchema). Nothing is kept in this program: the
// database is the index, always ready, and rows other programs store are found at once.
//
// Texts fold as DbfNameIndex::fold folds them (code page 1251, trimmed, lower case, ё as е), and
// the columns fold as pgschema::foldedColumn does, so both stores find the same rows.
//
// Knows: the results table's columns and folded expressions, the connection. Must not know:
// windows, the audit chains. Untrusted: the texts asked for (any characters, the percent sign,
// underscore and backslash of LIKE among them) and whatever the database holds.
#include "store/RowFinder.h"
#include "store/pg/PgConnection.h"

#include <memory>

class PgFinder : public RowFinder {
public:
    // Connects on the first request, with a connection of its own: requests come from the
    // window's thread, stores from the import's.
    explicit PgFinder(QString uri);
    ~PgFinder() override;
    // As pg::Connection's, for connections made from now on.
    void setAnswerWithin(int ms) { answerWithinMs_ = ms; }

    std::optional<Match> find(const QString& text, int from, bool backward, const Progress& progress) override;
    QList<int> patientRecords(const QString& name, const Progress& progress) override;
    audit::RowValues valuesAt(int record) override;
    bool ready() override { return true; }
    int buildPercent() const override { return 100; }

    // The 28 fields as a select list, and a row of them read back as a row's texts as the history
    // keeps them (a date as yyyyMMdd, trailing blanks removed, no value as ""), from column first.
    static QString valuesColumns();
    static audit::RowValues valuesOf(const pg::Row& row, size_t first);

    // The text a LIKE pattern holds for text itself: % _ and \ escaped.
    static QString likeEscaped(const QString& text);

private:
    // The first row holding folded text f (a trigram's worth) past at, else round from the other
    // end when wraps: from the trigram index.
    std::optional<Match> farMatch(const QString& f, qint64 at, bool backward, bool wraps);
    pg::Result exec(const QString& sql, const std::vector<pg::Value>& params, const QString& what);

    QString uri_;
    int answerWithinMs_ = 0;
    std::unique_ptr<pg::Connection> connection_;
};
