// The dBase file layer: layout of new tables, round trip of every field type, refusal of values
// that do not fit, and the durable write order.
#include "DbfTestSupport.h"

#include "engine/Cp1251.h"
#include "engine/DbfMemo.h"
#include "platform/durable/DurableIo.h"

#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <gtest/gtest.h>

using namespace dbftest;

namespace {

QString tablePath(const QTemporaryDir& dir, const char* name = "t.dbf") { return dir.filePath(QString::fromLatin1(name)); }

} // namespace

TEST(Cp1251, DecodesAndEncodesEveryByteBothWays)
{
    QByteArray all(256, '\0');
    for (int i = 0; i < 256; ++i)
        all[i] = char(i);
    const QString text = cp1251::decode(all);
    QByteArray back;
    ASSERT_TRUE(cp1251::encode(text, back));
    EXPECT_EQ(back, all);
    EXPECT_EQ(cp1251::decode(QByteArray("\xC0\xFF\xA8\xB8\xB9\x88")), QStringLiteral("АяЁё№€"));
}

TEST(Cp1251, RefusesCharactersWithoutAByte)
{
    QByteArray out;
    qsizetype bad = -1;
    EXPECT_FALSE(cp1251::encode(QStringLiteral("Zażółć"), out, &bad));
    EXPECT_EQ(bad, 2);
    EXPECT_EQ(cp1251::firstUnencodable(QStringLiteral("Иванов И.И. №5")), -1);
    EXPECT_EQ(cp1251::firstUnencodable(QStringLiteral("a😀")), 1);
}

TEST(DbfCreate, WritesADBaseIIIPlusHeaderWithCodePage1251)
{
    QTemporaryDir dir;
    const QString path = tablePath(dir);
    DbfFile::create(path, simple());
    const QByteArray b = bytesOf(path);
    ASSERT_EQ(b.size(), 32 + 2 * 32 + 1 + 1);
    EXPECT_EQ(quint8(b[0]), 0x03);
    EXPECT_EQ(quint8(b[1]), QDate::currentDate().year() - 1900);
    EXPECT_EQ(quint8(b[29]), 0xC9);
    EXPECT_EQ(quint8(b[8]) | quint8(b[9]) << 8, 97);
    EXPECT_EQ(quint8(b[10]), 41);
    EXPECT_EQ(b[96], '\x0D');
    EXPECT_EQ(b[97], '\x1A');
    EXPECT_EQ(bytesOf(dir.filePath("t.cpg")), QByteArray("1251"));
    EXPECT_FALSE(QFile::exists(dir.filePath("t.dbt")));
}

TEST(DbfCreate, MemoTableGetsVersion83AndADbt)
{
    QTemporaryDir dir;
    DbfFile::create(tablePath(dir), everyType());
    EXPECT_EQ(quint8(bytesOf(tablePath(dir))[0]), 0x83);
    EXPECT_EQ(bytesOf(dir.filePath("t.dbt")).size(), 512);
}

TEST(DbfCreate, RefusesToReplaceATable)
{
    QTemporaryDir dir;
    DbfFile::create(tablePath(dir), simple());
    const QByteArray before = bytesOf(tablePath(dir));
    EXPECT_THROW(DbfFile::create(tablePath(dir), simple()), EDatabaseError);
    EXPECT_EQ(bytesOf(tablePath(dir)), before);
}

TEST(DbfCreate, RefusesBadFieldLists)
{
    QTemporaryDir dir;
    EXPECT_THROW(DbfFile::create(tablePath(dir), {{"TOOLONGNAME1", 'C', 5, 0}}), EDatabaseError);
    EXPECT_THROW(DbfFile::create(tablePath(dir), {{"A", 'C', 300, 0}}), EDatabaseError);
    EXPECT_THROW(DbfFile::create(tablePath(dir), {{"A", 'C', 5, 0}, {"a", 'C', 5, 0}}), EDatabaseError);
    EXPECT_THROW(DbfFile::create(tablePath(dir), {{"A", 'X', 5, 0}}), EDatabaseError);
    EXPECT_FALSE(QFile::exists(tablePath(dir)));
}

TEST(DbfRoundTrip, EveryFieldTypeWithCyrillicSurvivesReopening)
{
    QTemporaryDir dir;
    DbfFile::create(tablePath(dir), everyType());
    {
        DbfFile f(tablePath(dir), DbfFile::Access::ReadWrite);
        QByteArray rec = f.blankRecord();
        const auto& fl = f.fields();
        dbfcodec::put(fl[0], rec.data(), QStringLiteral("Иванов Ёжик"));
        dbfcodec::put(fl[1], rec.data(), QDate(2023, 6, 5));
        dbfcodec::put(fl[2], rec.data(), 42.0);
        dbfcodec::put(fl[3], rec.data(), QStringLiteral("-3,14"));
        dbfcodec::put(fl[4], rec.data(), 0.125);
        dbfcodec::put(fl[5], rec.data(), true);
        std::optional<QByteArray> memo;
        dbfcodec::put(fl[6], rec.data(), QStringLiteral("Комментарий: «всё в норме»\nвторая строка"), &memo);
        ASSERT_TRUE(memo.has_value());
        DbfFile::WriteLock lock(f);
        dbfcodec::putMemoBlock(fl[6], rec.data(), f.memo()->append(*memo));
        f.append(rec);
        f.append(f.blankRecord());
    }
    DbfFile f(tablePath(dir), DbfFile::Access::ReadOnly);
    ASSERT_EQ(f.recordCount(), 2);
    const auto& fl = f.fields();
    const char* r = f.record(0);
    EXPECT_EQ(dbfcodec::value(fl[0], r, f.memo()), DbfValue(QStringLiteral("Иванов Ёжик")));
    EXPECT_EQ(dbfcodec::value(fl[1], r, f.memo()), DbfValue(QDate(2023, 6, 5)));
    EXPECT_EQ(dbfcodec::value(fl[2], r, f.memo()), DbfValue(42.0));
    EXPECT_EQ(dbfcodec::rawText(fl[3], r), QStringLiteral(" -3.14"));
    EXPECT_EQ(dbfcodec::value(fl[3], r, f.memo()), DbfValue(-3.14));
    EXPECT_EQ(dbfcodec::value(fl[4], r, f.memo()), DbfValue(0.125));
    EXPECT_EQ(dbfcodec::value(fl[5], r, f.memo()), DbfValue(true));
    EXPECT_EQ(dbfcodec::value(fl[6], r, f.memo()), DbfValue(QStringLiteral("Комментарий: «всё в норме»\nвторая строка")));
    const char* blank = f.record(1);
    for (const DbfField& field : fl)
        EXPECT_TRUE(dbfcodec::isNull(field, blank)) << field.name.toStdString();
    EXPECT_EQ(dbfcodec::value(fl[0], blank, f.memo()), DbfValue(QString()));
    EXPECT_EQ(dbfcodec::value(fl[1], blank, f.memo()), DbfValue(std::monostate{}));
}

TEST(DbfValues, RefusesWhatDoesNotFitNamingFieldAndValue)
{
    QTemporaryDir dir;
    DbfFile::create(tablePath(dir), everyType());
    DbfFile f(tablePath(dir), DbfFile::Access::ReadWrite);
    QByteArray rec = f.blankRecord();
    const QByteArray before = rec;
    const auto& fl = f.fields();
    auto message = [&](int field, const DbfValue& v) {
        try {
            dbfcodec::put(fl[size_t(field)], rec.data(), v);
        } catch (const EDatabaseError& e) {
            return e.message();
        }
        return QStringLiteral("no error");
    };
    EXPECT_EQ(message(0, QStringLiteral("Константинопольский-Ж")),
              QStringLiteral("Value 'Константинопольский-Ж' for field 'NAME' is too long: 21 characters, the field holds 20"));
    EXPECT_TRUE(message(0, QStringLiteral("Łukasz")).contains(QStringLiteral("'Ł'")));
    EXPECT_TRUE(message(0, QStringLiteral("Łukasz")).contains(QStringLiteral("'NAME'")));
    EXPECT_EQ(message(0, QStringLiteral("a😀")),
              QStringLiteral("Value 'a😀' for field 'NAME' holds the character '😀' (U+1F600), which code page 1251 cannot store"));
    EXPECT_EQ(message(1, QStringLiteral("13/45/2023")), QStringLiteral("Value '13/45/2023' for field 'BORN' is not a valid date"));
    EXPECT_TRUE(message(2, 1234.0).contains(QStringLiteral("'AGE'")));
    EXPECT_TRUE(message(3, QStringLiteral("12x")).contains(QStringLiteral("is not a number")));
    EXPECT_TRUE(message(5, QStringLiteral("maybe")).contains(QStringLiteral("'OK'")));
    EXPECT_EQ(rec, before) << "a refused value leaves the record as it was";
    // Exactly as wide as the field is fine, blanks at the front are kept.
    dbfcodec::put(fl[0], rec.data(), QStringLiteral("  Константинопольски"));
    EXPECT_EQ(dbfcodec::rawText(fl[0], rec.data()), QStringLiteral("  Константинопольски"));
}

TEST(DbfValues, TextsLoseOnlyTrailingBlanksAndNulsWhateverTheirLength)
{
    // Texts ending at every place of fields narrower and wider than the blocks that trimming
    // looks at together; inside them blanks, NULs and bytes that differ from a blank in one bit.
    const char inner[] = {'x', ' ', '\0', '\xA0', '\x80', '\xC0', '\x01'};
    const char last[] = {'z', '\x80', '\xA0', '\x01'};
    for (const int width : {1, 7, 8, 9, 15, 16, 17, 33, 254}) {
        const DbfField field{QStringLiteral("T"), 'C', width, 0, 1};
        for (const char pad : {' ', '\0'}) {
            for (int n = 0; n <= width; ++n) {
                QByteArray record(width + 1, pad);
                for (int i = 0; i < n; ++i)
                    record[1 + i] = i + 1 == n ? last[size_t(n) % std::size(last)] : inner[size_t(i) % std::size(inner)];
                EXPECT_EQ(dbfcodec::rawText(field, record.constData()), cp1251::decode(record.constData() + 1, n))
                    << "width " << width << ", text of " << n << ", pad " << int(pad);
            }
        }
    }
}

TEST(DbfValues, InvalidDateBytesAreKeptAndReadAsNoDay)
{
    QTemporaryDir dir;
    DbfFile::create(tablePath(dir), everyType());
    DbfFile f(tablePath(dir), DbfFile::Access::ReadWrite);
    QByteArray rec = f.blankRecord();
    std::memcpy(rec.data() + f.fields()[1].offset, "20231345", 8);
    f.append(rec);
    const char* r = f.record(0);
    EXPECT_FALSE(dbfcodec::isNull(f.fields()[1], r));
    const DbfValue v = dbfcodec::value(f.fields()[1], r, nullptr);
    ASSERT_TRUE(std::holds_alternative<QDate>(v));
    EXPECT_FALSE(std::get<QDate>(v).isValid());
    EXPECT_EQ(dbfcodec::text(f.fields()[1], r, nullptr), QStringLiteral("20231345"));
}

TEST(DbfDurability, AppendUpdatesCountDateAndEndMark)
{
    QTemporaryDir dir;
    DbfFile::create(tablePath(dir), simple());
    DbfFile f(tablePath(dir), DbfFile::Access::ReadWrite);
    appendSimple(f, "1", QStringLiteral("первая"));
    appendSimple(f, "2", QStringLiteral("вторая"));
    const QByteArray b = bytesOf(tablePath(dir));
    EXPECT_EQ(b.size(), 97 + 2 * 41 + 1);
    EXPECT_EQ(quint8(b[4]), 2);
    EXPECT_EQ(b.back(), '\x1A');
    EXPECT_EQ(b.mid(97 + 41, 11), QByteArray(" 2         "));
}

TEST(DbfDurability, CrashBetweenRecordAndHeaderLosesNothingAndDuplicatesNothing)
{
    QTemporaryDir dir;
    DbfFile::create(tablePath(dir), simple());
    {
        DbfFile f(tablePath(dir), DbfFile::Access::ReadWrite);
        appendSimple(f, "1", "a");
        QByteArray rec = f.blankRecord();
        dbfcodec::put(f.fields()[0], rec.data(), QStringLiteral("2"));
        f.appendWithoutHeaderUpdate(rec); // the process dies here
    }
    EXPECT_EQ(quint8(bytesOf(tablePath(dir))[4]), 1);
    DbfFile f(tablePath(dir), DbfFile::Access::ReadWrite);
    EXPECT_EQ(liveIds(f), QStringList({"1", "2"}));
    EXPECT_FALSE(f.warnings().isEmpty());
    appendSimple(f, "3", "c");
    EXPECT_EQ(quint8(bytesOf(tablePath(dir))[4]), 3);
    DbfFile again(tablePath(dir), DbfFile::Access::ReadOnly);
    EXPECT_EQ(liveIds(again), QStringList({"1", "2", "3"}));
}

// A batch goes down as its records and end mark, a sync, then the header, a sync. Dying at any
// call, or a record of the wrong length, leaves the records before the batch or all of them.
TEST(DbfDurability, BatchAppendSurvivesDyingAtEachCall)
{
    const QStringList before = {"1"}, all = {"1", "2", "3", "4"};
    struct Case { int dieAt; bool shortRecord; quint8 headerCount; QStringList ids; };
    for (const Case& c : {Case{0, false, 1, before}, Case{1, false, 1, all}, Case{2, false, 1, all},
                          Case{3, false, 4, all}, Case{4, false, 4, all}, Case{4, true, 1, before}}) {
        SCOPED_TRACE(testing::Message() << "dying at call " << c.dieAt << (c.shortRecord ? ", a short record" : ""));
        QTemporaryDir dir;
        DbfFile::create(tablePath(dir), simple());
        QStringList calls;
        {
            DbfFile f(tablePath(dir), DbfFile::Access::ReadWrite);
            appendSimple(f, "1", "a");
            std::vector<QByteArray> batch(3, f.blankRecord());
            for (int i = 0; i < 3; ++i)
                dbfcodec::put(f.fields()[0], batch[size_t(i)].data(), QString::number(i + 2));
            batch[1].chop(c.shortRecord ? 1 : 0);
            durable::ScopedObserver die([&](durable::Call& call) {
                calls << QStringLiteral("%1 %2").arg(QLatin1String(durable::name(call.op))).arg(call.size);
                return calls.size() > c.dieAt ? EIO : 0;
            });
            if (c.dieAt < 4 || c.shortRecord)
                EXPECT_THROW(f.appendMany(batch), EDatabaseError);
            else
                EXPECT_EQ(f.appendMany(batch), 1);
        }
        EXPECT_EQ(calls, QStringList({"write 124", "sync 0", "write 7", "sync 0"}).mid(0, c.shortRecord ? 0 : c.dieAt + 1));
        EXPECT_EQ(quint8(bytesOf(tablePath(dir))[4]), c.headerCount);
        DbfFile f(tablePath(dir), DbfFile::Access::ReadOnly);
        EXPECT_EQ(liveIds(f), c.ids);
    }
}

TEST(DbfDurability, EditAndDeleteAreOnDiskForTheNextReader)
{
    QTemporaryDir dir;
    DbfFile::create(tablePath(dir), simple());
    DbfFile writer(tablePath(dir), DbfFile::Access::ReadWrite);
    appendSimple(writer, "1", "a");
    appendSimple(writer, "2", "b");
    DbfFile reader(tablePath(dir), DbfFile::Access::ReadOnly);
    QByteArray rec(writer.record(0), writer.recordLength());
    dbfcodec::put(writer.fields()[1], rec.data(), QStringLiteral("изменено"));
    writer.write(0, rec);
    writer.setDeleted(1, true);
    reader.refresh();
    EXPECT_EQ(dbfcodec::rawText(reader.fields()[1], reader.record(0)), QStringLiteral("изменено"));
    EXPECT_TRUE(reader.isDeleted(1));
    EXPECT_EQ(liveIds(reader), QStringList({"1"}));
}

TEST(DbfDurability, RefreshSeesRowsAnotherWriterAppended)
{
    QTemporaryDir dir;
    DbfFile::create(tablePath(dir), simple());
    DbfFile a(tablePath(dir), DbfFile::Access::ReadWrite);
    DbfFile b(tablePath(dir), DbfFile::Access::ReadWrite);
    appendSimple(a, "1", "a");
    appendSimple(b, "2", "b"); // b sees a's row before it appends: no overwrite
    appendSimple(a, "3", "c");
    b.refresh();
    EXPECT_EQ(liveIds(b), QStringList({"1", "2", "3"}));
}

TEST(DbfMemoFiles, ReadsDBaseIVAndFoxProMemos)
{
    QTemporaryDir dir;
    // dBase IV: 0x8B table, .dbt with block size 64 at offset 20, block headed FF FF 08 00.
    DbfFile::create(tablePath(dir, "iv.dbf"), {{"NOTE", 'M', 10, 0}});
    QFile::remove(dir.filePath("iv.dbt"));
    patch8(tablePath(dir, "iv.dbf"), 0, 0x8B);
    QByteArray memoBytes;
    cp1251::encode(QStringLiteral("Привет"), memoBytes);
    QByteArray block("\xFF\xFF\x08\x00", 4);
    const quint32 len = quint32(memoBytes.size() + 8);
    block.append(char(len & 0xFF)).append('\0').append('\0').append('\0').append(memoBytes);
    block.append(QByteArray(64 - block.size(), '\0'));
    QByteArray iv(64, '\0');
    iv[0] = 2;
    iv[20] = 64;
    setBytes(dir.filePath("iv.dbt"), iv + block);
    {
        DbfFile f(tablePath(dir, "iv.dbf"), DbfFile::Access::ReadWrite);
        QByteArray rec = f.blankRecord();
        dbfcodec::putMemoBlock(f.fields()[0], rec.data(), 1);
        f.append(rec);
        EXPECT_EQ(dbfcodec::value(f.fields()[0], f.record(0), f.memo()), DbfValue(QStringLiteral("Привет")));
        // A new memo written into a dBase IV file follows its layout.
        QByteArray rec2 = f.blankRecord();
        QByteArray second;
        cp1251::encode(QStringLiteral("Второй"), second);
        DbfFile::WriteLock lock(f);
        dbfcodec::putMemoBlock(f.fields()[0], rec2.data(), f.memo()->append(second));
        f.append(rec2);
    }
    DbfFile f(tablePath(dir, "iv.dbf"), DbfFile::Access::ReadOnly);
    EXPECT_EQ(dbfcodec::value(f.fields()[0], f.record(1), f.memo()), DbfValue(QStringLiteral("Второй")));

    // FoxPro: 0xF5 table, .fpt with big-endian block size and length.
    DbfFile::create(tablePath(dir, "fox.dbf"), {{"NOTE", 'M', 10, 0}});
    patch8(tablePath(dir, "fox.dbf"), 0, 0xF5);
    QByteArray fpt(512, '\0');
    fpt[3] = 9; // next free block
    fpt[7] = 64; // block size 64
    QByteArray fb("\0\0\0\x01\0\0\0", 7);
    fb.append(char(memoBytes.size())).append(memoBytes);
    fpt.append(fb).append(QByteArray(64 - fb.size(), '\0'));
    setBytes(dir.filePath("fox.fpt"), fpt);
    DbfFile fox(tablePath(dir, "fox.dbf"), DbfFile::Access::ReadWrite);
    QByteArray rec = fox.blankRecord();
    dbfcodec::putMemoBlock(fox.fields()[0], rec.data(), 8);
    fox.append(rec);
    EXPECT_EQ(dbfcodec::value(fox.fields()[0], fox.record(0), fox.memo()), DbfValue(QStringLiteral("Привет")));
}

TEST(DbfMemoFiles, HostileBlockNumbersReadNothing)
{
    QTemporaryDir dir;
    DbfFile::create(tablePath(dir), everyType());
    DbfFile f(tablePath(dir), DbfFile::Access::ReadWrite);
    QByteArray rec = f.blankRecord();
    std::memcpy(rec.data() + f.fields()[6].offset, "4294967295", 10);
    f.append(rec);
    EXPECT_EQ(dbfcodec::value(f.fields()[6], f.record(0), f.memo()), DbfValue(QString()));
    std::memcpy(rec.data() + f.fields()[6].offset, "99999999999", 10);
    f.write(0, rec);
    EXPECT_NO_THROW(dbfcodec::value(f.fields()[6], f.record(0), f.memo()));
}
