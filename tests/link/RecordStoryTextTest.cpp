// The history window's texts: a row's changes newest first, each with the state its resolution
// gave it, and what the archive says of a message.
#include "link/RecordStoryText.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

namespace {

QJsonObject entry(const char* json) { return QJsonDocument::fromJson(QByteArray(json)).object(); }

TEST(RecordStoryText, ChangesNewestFirstWithTheStateTheirResolutionGave)
{
    const QList<QJsonObject> history = {
        entry(R"({"seq":1,"time":"2026-12-07T09:20:00.000+03:00","kind":"edit","record":3,"state":"pending","user":"lab","host":"pc1",
                  "changes":[{"field":"FIO","old":"","new":"Иванов"},{"field":"COE","old":"5","new":"7"}]})"),
        entry(R"({"seq":2,"kind":"applied","record":3,"of":1})"),
        entry(R"({"seq":3,"time":"2026-12-07T09:30:00.000+03:00","kind":"deleted","record":3,"state":"pending","user":"lab"})"),
        entry(R"({"seq":4,"kind":"not applied","record":3,"of":3,"reason":"stopped first"})"),
        entry(R"({"seq":5,"kind":"outside","record":3,"changes":[{"field":"COE","history":"7","found":"8"}]})"),
        entry(R"({"seq":6,"kind":"restored","record":3,"state":"pending","of":3})"),
        entry(R"({"seq":7,"kind":"applied","record":3,"of":99})"),
        entry(R"({"seq":8,"kind":"refused","record":3,"changes":[{"field":"HGB","tried":"131","found":"129"}]})"),
    };
    const struct {
        const char* what;
        const char* state;
    } expected[] = {
        {"правка не записана, запись изменена на другом рабочем месте: HGB: «131» введено, в таблице «129»", ""},
        {"применено (запись журнала №99)", ""},
        {"восстановлена", "не завершено"},
        {"изменена вне Hematix: COE: «7» в журнале, в таблице «8»", ""},
        {"удалена", "не применено: stopped first"},
        {"FIO: «» → «Иванов»; COE: «5» → «7»", "применено"},
    };
    const QList<storytext::ChangeRow> rows = storytext::changeRows(history);
    ASSERT_EQ(rows.size(), qsizetype(std::size(expected)));
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(rows[qsizetype(i)].what, QString::fromUtf8(expected[i].what)) << i;
        EXPECT_EQ(rows[qsizetype(i)].state, QString::fromUtf8(expected[i].state)) << i;
    }
    EXPECT_EQ(rows.last().time, "07.12.2026 09:20:00");
    EXPECT_EQ(rows.last().user, "lab");
}

TEST(RecordStoryText, MessageFactsShowWhatIsMissing)
{
    const storytext::Message m = storytext::messageOf(entry(
        R"({"time":"2026-12-07T09:21:00.000+03:00","kind":"message","outcome":"stored","record":12,"name":"Temp.log",
            "enq":null,"end":"2026-12-07T09:15:04.250+03:00","length":3,"identity":{"NUM":"000000042"},"bytes":"BQID"})"));
    EXPECT_EQ(m.bytes, QByteArray("\x05\x02\x03"));
    EXPECT_EQ(storytext::dayRow(m), QStringList({"09:21:00", "000000042", "сохранено", "12"}))
        << "the archive's time when the ENQ's is not recorded";
    const auto facts = storytext::messageFacts(m);
    EXPECT_EQ(facts[0].second, "не записано");
    EXPECT_EQ(facts[1].second, "07.12.2026 09:15:04.250");
    EXPECT_EQ(storytext::messageFacts(storytext::messageOf({}))[2].second, "—") << "no sample number";
}

} // namespace
