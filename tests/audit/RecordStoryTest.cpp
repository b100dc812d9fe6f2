// A row's story as `hematix-audit show` prints it: its origin, whether each change reached the
// table, whether it is deleted now, and its message frame by frame.
#include "TrailFixture.h"

#include "audit/RecordStory.h"

#include <gtest/gtest.h>

using namespace trailtest;
using Origin = audit::RecordStory::Origin;

TEST(RecordStory, TellsOriginStatesAndDeletion)
{
    TrailFolder f;
    f.build(2);  // rows 1-3 adopted, 4-9 messages, 10 typed in
    f.history.edited(8, {{"WBC", "1.1", "2.2"}});
    struct Case {
        int record;
        Origin origin;
        bool deleted;
        QStringList states;  // of the row's history entries, in order ("" for those with none)
    };
    const std::vector<Case> cases = {
        {1, Origin::Adopted, false, {""}},
        {5, Origin::Message, false, {"applied", "", "applied", ""}},
        {6, Origin::Message, true,
         {"applied", "", "not applied: the deleted never reached the table (the program stopped first)", ""}},
        {7, Origin::Message, false, {"applied", "", "applied", ""}},
        {8, Origin::Message, false, {"never resolved"}},
        {10, Origin::Entered, false, {"applied", ""}},
        {11, Origin::None, false, {}},
    };
    QList<int> records;
    for (const Case& c : cases)
        records << c.record;
    const QList<audit::RecordStory> stories = audit::storiesOf(f.folder, records);
    ASSERT_EQ(stories.size(), qsizetype(cases.size()));
    for (size_t i = 0; i < cases.size(); ++i) {
        const audit::RecordStory& s = stories[qsizetype(i)];
        SCOPED_TRACE(s.record);
        EXPECT_EQ(s.record, cases[i].record);
        EXPECT_EQ(s.origin, cases[i].origin);
        EXPECT_EQ(s.deletedEntry != 0, cases[i].deleted);
        QStringList states;
        for (const QJsonObject& e : s.history)
            states << audit::stateOf(s, e);
        EXPECT_EQ(states, cases[i].states);
    }
    // Once the archive's first day is pruned, its rows say so.
    f.archive.prune(1, f.now.date());
    EXPECT_EQ(audit::storyOf(f.folder, 4).origin, Origin::Pruned);
    EXPECT_EQ(audit::storyOf(f.folder, 9).origin, Origin::Message);
}

TEST(RecordStory, ShowsFramesWithTheirControlCharacters)
{
    const std::vector<std::pair<QByteArray, QStringList>> cases = {
        {"\x05\x02" "1H|\\^&\r\x03" "4F\r\n\x02" "2P|\xc8\xe2\r\x17" "0B\r\n\x04",
         {"<ENQ>", "<STX>1H|\\^&<CR><ETX>4F<CR><LF>", "<STX>2P|Ив<CR><ETB>0B<CR><LF>", "<EOT>"}},
        {"\x05\x02" "1H\x01\x7f", {"<ENQ>", "<STX>1H<0x01><0x7f>"}},
        {"", {}},
    };
    for (const auto& [bytes, lines] : cases)
        EXPECT_EQ(audit::frameLines(bytes), lines) << bytes.toHex().toStdString();
}
