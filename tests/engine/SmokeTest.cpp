#include <gtest/gtest.h>
#include "platform/Exception.h"

TEST(Exception, CarriesItsMessage)
{
    Exception e(QStringLiteral("Table1: Записи нет"));
    EXPECT_EQ(e.message(), QStringLiteral("Table1: Записи нет"));
    EXPECT_STREQ(e.what(), "Table1: Записи нет");
}
