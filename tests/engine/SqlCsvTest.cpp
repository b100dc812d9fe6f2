// CSV lines of the SQL tool: RFC 4180 quoting, UTF-8.
#include "engine/SqlTool.h"

#include <gtest/gtest.h>

TEST(SqlCsv, QuotesOnlyWhatNeedsQuoting)
{
    EXPECT_EQ(csvLine({}), QByteArray("\r\n"));
    EXPECT_EQ(csvLine({QString(), QString()}), QByteArray(",\r\n"));
    EXPECT_EQ(csvLine({QStringLiteral("a"), QStringLiteral("b c"), QStringLiteral(" 1.5 ")}), QByteArray("a,b c, 1.5 \r\n"));
    EXPECT_EQ(csvLine({QStringLiteral("a,b")}), QByteArray("\"a,b\"\r\n"));
    EXPECT_EQ(csvLine({QStringLiteral("say \"hi\"")}), QByteArray("\"say \"\"hi\"\"\"\r\n"));
    EXPECT_EQ(csvLine({QStringLiteral("two\nlines"), QStringLiteral("cr\r")}), QByteArray("\"two\nlines\",\"cr\r\"\r\n"));
    EXPECT_EQ(csvLine({QStringLiteral("Иванов")}), QStringLiteral("Иванов\r\n").toUtf8());
}
