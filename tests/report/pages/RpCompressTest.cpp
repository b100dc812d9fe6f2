#include "report/pages/RpCompress.h"
#include "report/pages/RpError.h"
#include "report/pages/RpStream.h"

#include <QList>
#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {

QByteArray randomBytes(qsizetype n, quint32 seed, int alphabet)
{
    QRandomGenerator rng(seed);
    QByteArray b(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i)
        b[i] = char(rng.bounded(alphabet));
    return b;
}

TEST(RpCompress, AbcEncodesToKnownBytesAndBack)
{
    const QByteArray code = TRpCompress::encodeBytes("abc");
    EXPECT_EQ(code, QByteArray::fromHex("463D01"));
    EXPECT_EQ(TRpCompress::decodeBytes(code, 3), QByteArray("abc"));
}

TEST(RpCompress, EmptyInputWritesNothing)
{
    EXPECT_TRUE(TRpCompress::encodeBytes({}).isEmpty());
    EXPECT_TRUE(TRpCompress::decodeBytes({}, 0).isEmpty());
}

TEST(RpCompress, RoundTripsEveryLengthAndKindOfData)
{
    const QList<qsizetype> lengths{0, 1, 2, 7, 8, 9, 255, 256, 257, 1000, 4095, 4096, 4097, 65536, 100000};
    // Uniform bytes, a skewed alphabet (the tree's reshaping matters), and runs of one byte
    // including 255, whose leaf starts one level deeper than the others.
    for (qsizetype n : lengths) {
        for (int alphabet : {256, 3}) {
            const QByteArray plain = randomBytes(n, quint32(n * 7 + alphabet), alphabet);
            const QByteArray code = TRpCompress::encodeBytes(plain);
            ASSERT_EQ(TRpCompress::decodeBytes(code, n), plain) << "length " << n << " alphabet " << alphabet;
        }
        for (char c : {char(0), char(255)}) {
            const QByteArray plain(n, c);
            ASSERT_EQ(TRpCompress::decodeBytes(TRpCompress::encodeBytes(plain), n), plain) << n;
        }
    }
}

TEST(RpCompress, RepeatedBytesShrink)
{
    const QByteArray plain(100000, 'x');
    EXPECT_LT(TRpCompress::encodeBytes(plain).size(), plain.size() / 4);
}

TEST(RpCompress, EachRecordEndsOnItsOwnByte)
{
    // Two codes written back to back on one stream, each by a fresh coder, decode independently:
    // the first coder's partial last byte is not shared with what follows.
    TRpStream stream(0);
    {
        TRpCompress first(stream, true);
        first.EncodeBuffer("a", 1);
    }
    const qint64 firstEnd = stream.Position();
    EXPECT_EQ(firstEnd, 1);
    {
        TRpCompress second(stream, true);
        second.EncodeBuffer("hello", 5);
    }
    stream.Seek(0, TRpSeekOrigin::FromBeginning);
    {
        TRpCompress d(stream, false);
        EXPECT_EQ(d.DecodeBuffer(1), QByteArray("a"));
    }
    EXPECT_EQ(stream.Position(), firstEnd);
    TRpCompress d2(stream, false);
    EXPECT_EQ(d2.DecodeBuffer(5), QByteArray("hello"));
}

TEST(RpCompress, DishonestCountsAndTruncatedCodeAreErrors)
{
    const QByteArray code = TRpCompress::encodeBytes(randomBytes(1000, 5, 256));
    // More bytes than the code can hold at one bit each.
    EXPECT_THROW(TRpCompress::decodeBytes(code, code.size() * 8 + 1), ERpError);
    EXPECT_THROW(TRpCompress::decodeBytes(code, -1), ERpError);
    // The code cut short runs out before the count is reached.
    EXPECT_THROW(TRpCompress::decodeBytes(code.left(code.size() / 2), 1000), ERpError);
}

TEST(RpCompress, ArbitraryCodeNeverDecodesOutsideTheByteRange)
{
    // Hostile code may steer the decoder to the unused leaf; that is an error, not a byte 256.
    int errors = 0;
    for (quint32 seed = 0; seed < 200; ++seed) {
        const QByteArray junk = randomBytes(64, seed, 256);
        try {
            const QByteArray out = TRpCompress::decodeBytes(junk, 64 * 8);
            EXPECT_LE(out.size(), 64 * 8);
        } catch (const ERpError&) {
            ++errors;
        }
    }
    EXPECT_GT(errors, 0);
    // Eight zero bits then a one: down the left edge of the initial tree to node 255 and right,
    // to the unused leaf.
    EXPECT_THROW(TRpCompress::decodeBytes(QByteArray::fromHex("0001"), 1), ERpError);
}

} // namespace
