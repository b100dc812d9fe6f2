// Statement text is untrusted: whatever arrives, the engine answers with a result or an
// EDatabaseError, never a crash, a hang or a write after a refusal.
#include "engine/Sql.h"
#include "engine/SqlEval.h"
#include "SqlMemoryTable.h"

#include <gtest/gtest.h>
#include <random>

namespace {

const QString kPath = QStringLiteral("/t.dbf");

const QStringList kSeeds = {
    QStringLiteral("INSERT INTO \"/t.dbf\" (DAT,TIM,NUM,FIO,COE,RECEPTION,WBC,RBC,\nHGB,HCT,PLT,LY1,MO1,GR1,LY2,MO2,GR2,MCV,MCH,MCHC,RDV,MPV,PCT,PDW)\n VALUES (\"06/05/2023\",\"14:03:07\",\"000012345\",\"\",\"\",\"\",\n\"6.4\",\"4.52\",\"138\",\"41.2\",\n\"245\",\"31.5\",\"6.2\",\"62.3\",\n\"2.0\",\"0.4\",\"4.0\",\"91.2\",\n\"30.5\",\"335\",\"13.1\",\"8.4\",\n\"0.21\",\"15.6\")"),
    QStringLiteral("SELECT * FROM \"/t.dbf\" WHERE DAT BETWEEN \"2/5/2016\" AND \"3/12/2016\""),
    QStringLiteral("SELECT NUM, FIO FROM \"/t.dbf\" WHERE NOT (DAT = \"6/5/2023\" OR NUM <> \"1\") AND WBC IS NOT NULL"),
    QStringLiteral("INSERT INTO \"/t.dbf\" (NUM,FIO) VALUES (\"a\"\"b\", '\"x')"),
};

// Pieces that mutations splice in: tokens, their fragments, and characters that end texts.
const QStringList kPieces = {
    QStringLiteral("\""), QStringLiteral("'"), QStringLiteral("("), QStringLiteral(")"), QStringLiteral(","),
    QStringLiteral("NOT "), QStringLiteral(" AND "), QStringLiteral(" OR "), QStringLiteral("BETWEEN"),
    QStringLiteral("="), QStringLiteral("<>"), QStringLiteral("-"), QStringLiteral("."), QStringLiteral("*"),
    QStringLiteral("\"13/45/2023\""), QStringLiteral("\"1/1/2020\""), QStringLiteral("NULL"), QStringLiteral("9999999999999999999999"),
    QStringLiteral("\n"), QStringLiteral("\r"), QStringLiteral("\0"), QStringLiteral("DAT"), QStringLiteral("XYZ"),
    QStringLiteral(";"), QStringLiteral("VALUES"), QStringLiteral("((((((((("), QStringLiteral("Ж"),
};

} // namespace

TEST(SqlHostile, MutatedStatementsNeverCrash)
{
    std::mt19937 rng(20230605);
    int accepted = 0, refused = 0;
    for (int round = 0; round < 4000; ++round) {
        SqlMemoryOpener opener;
        auto table = std::make_shared<SqlMemoryTable>(resultColumnsForTest());
        table->add({QDate(2023, 6, 5), QStringLiteral("14:03:07"), QStringLiteral("1")});
        table->add({QDate(), QStringLiteral("x")});
        table->add({QDate(2016, 2, 5)}, true);
        opener.tables[kPath] = table;

        QString sql = kSeeds[static_cast<qsizetype>(rng() % static_cast<unsigned>(kSeeds.size()))];
        const int edits = 1 + static_cast<int>(rng() % 6);
        for (int e = 0; e < edits; ++e) {
            const qsizetype at = sql.isEmpty() ? 0 : static_cast<qsizetype>(rng() % static_cast<unsigned>(sql.size() + 1));
            switch (rng() % 4) {
            case 0: // delete a run
                sql.remove(at, 1 + static_cast<qsizetype>(rng() % 8));
                break;
            case 1: // insert a piece
                sql.insert(at, kPieces[static_cast<qsizetype>(rng() % static_cast<unsigned>(kPieces.size()))]);
                break;
            case 2: // random character, control characters and surrogates included
                sql.insert(at, QChar(static_cast<char16_t>(rng() % 0x10000)));
                break;
            default: // cut the statement short
                sql.truncate(at);
                break;
            }
        }
        const size_t rowsBefore = table->rows.size();
        try {
            SqlResult r = executeSql(sql, opener);
            ++accepted;
            if (r.hasRows)
                for (int i = 0; i < r.rows->rowCount(); ++i)
                    for (int c = 0; c < static_cast<int>(r.rows->columns().size()); ++c)
                        (void)r.rows->value(i, c);
            EXPECT_LE(table->rows.size(), rowsBefore + 1) << sql.toStdString();
        } catch (const EDatabaseError& e) {
            ++refused;
            EXPECT_FALSE(e.message().isEmpty());
            EXPECT_EQ(table->rows.size(), rowsBefore) << sql.toStdString();
        }
    }
    // Both roads were taken, so the mutations exercised the evaluator, not just the tokenizer.
    EXPECT_GT(accepted, 50);
    EXPECT_GT(refused, 1000);
}

TEST(SqlHostile, RandomBytesNeverCrash)
{
    std::mt19937 rng(7);
    SqlMemoryOpener opener;
    opener.tables[kPath] = std::make_shared<SqlMemoryTable>(resultColumnsForTest());
    for (int round = 0; round < 3000; ++round) {
        QByteArray bytes(static_cast<qsizetype>(rng() % 200), '\0');
        for (char& b : bytes)
            b = static_cast<char>(rng() % 256);
        if (round % 2)
            bytes.prepend("SELECT * FROM \"/t.dbf\" WHERE ");
        try {
            executeSql(QString::fromLatin1(bytes), opener);
        } catch (const EDatabaseError&) {
        }
    }
    SUCCEED();
}
