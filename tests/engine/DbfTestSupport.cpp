#include "DbfTestSupport.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace dbftest {

std::vector<DbfFieldSpec> everyType()
{
    return {{"NAME", 'C', 20, 0}, {"BORN", 'D', 8, 0}, {"AGE", 'N', 3, 0}, {"RATE", 'N', 6, 2},
            {"RATIO", 'F', 8, 3}, {"OK", 'L', 1, 0}, {"NOTE", 'M', 10, 0}};
}

std::vector<DbfFieldSpec> simple()
{
    return {{"ID", 'C', 10, 0}, {"TEXT", 'C', 30, 0}};
}

void appendSimple(DbfFile& file, const QString& id, const QString& text)
{
    QByteArray rec = file.blankRecord();
    dbfcodec::put(file.fields()[0], rec.data(), id);
    dbfcodec::put(file.fields()[1], rec.data(), text);
    file.append(rec);
}

QStringList liveIds(DbfFile& file)
{
    QStringList ids;
    for (int i = 0; i < file.recordCount(); ++i)
        if (!file.isDeleted(i))
            ids << dbfcodec::rawText(file.fields()[0], file.record(i));
    return ids;
}

QByteArray bytesOf(const QString& path) { return testsupport::readFile(path); }
void setBytes(const QString& path, const QByteArray& bytes) { EXPECT_TRUE(testsupport::writeFile(path, bytes)); }

void patch32(const QString& path, int offset, quint32 value)
{
    QByteArray b = bytesOf(path);
    for (int i = 0; i < 4; ++i)
        b[offset + i] = char((value >> (8 * i)) & 0xFF);
    setBytes(path, b);
}

void patch16(const QString& path, int offset, quint16 value)
{
    QByteArray b = bytesOf(path);
    b[offset] = char(value & 0xFF);
    b[offset + 1] = char(value >> 8);
    setBytes(path, b);
}

void patch8(const QString& path, int offset, quint8 value)
{
    QByteArray b = bytesOf(path);
    b[offset] = char(value);
    setBytes(path, b);
}

} // namespace dbftest
