#include "common/CVDateTime.h"

#include "support/TestHelpers.h"

#include <ctime>

namespace {

// Calendar fields are local; run every test in a fixed zone with daylight
// saving so that the conversions are really exercised.
class DateTimeTest : public ::testing::Test
{
protected:
    DateTimeTest() : m_zone("TZ", "CET-1CEST,M3.5.0,M10.5.0/3") { ::tzset(); }
    ~DateTimeTest() override { ::tzset(); }

    ScopedEnv m_zone;
};

TEST_F(DateTimeTest, FieldsOfABuiltDate)
{
    CVDateTime t(2003, 3, 4, 14, 5, 9);
    EXPECT_EQ(t.year(), 2003);
    EXPECT_EQ(t.month(), 3);
    EXPECT_EQ(t.day(), 4);
    EXPECT_EQ(t.hour(), 14);
    EXPECT_EQ(t.minute(), 5);
    EXPECT_EQ(t.second(), 9);
    EXPECT_EQ(t, 1046783109L);   // 13:05:09 UTC
    EXPECT_EQ(t.getGMTime()->tm_hour, 13);
    EXPECT_EQ(t.getLocalTime()->tm_hour, 14);
}

TEST_F(DateTimeTest, DayOfYearRunsFromZero)
{
    EXPECT_EQ(CVDateTime(2004, 1, 1, 0, 0, 0).dayOfYear(), 0);
    EXPECT_EQ(CVDateTime(2004, 12, 31, 23, 0, 0).dayOfYear(), 365);
    EXPECT_EQ(CVDateTime(2003, 12, 31, 0, 0, 0).dayOfYear(), 364);
}

TEST_F(DateTimeTest, DaysToCutsTowardZero)
{
    CVDateTime t(2003, 6, 1, 12, 0, 0);
    EXPECT_EQ(t.daysTo(t.value() + 36 * 3600), 1);
    EXPECT_EQ(t.daysTo(t.value() - 36 * 3600), -1);
    EXPECT_EQ(t.daysTo(t.value() + 86399), 0);
    EXPECT_EQ(t.daysTo(t.value() - 86400 * 10), -10);
}

TEST_F(DateTimeTest, OutOfRangeDatesAreNormalised)
{
    CVDateTime t(2003, 2, 29, 0, 0, 0);
    EXPECT_EQ(t.month(), 3);
    EXPECT_EQ(t.day(), 1);
}

TEST_F(DateTimeTest, SetYmdGivesLocalMidnightAcrossDaylightSaving)
{
    CVDateTime summer;
    summer.setYMD(2003, 7, 1);
    EXPECT_EQ(summer.hour(), 0);
    EXPECT_EQ(summer.getGMTime()->tm_hour, 22);   // CEST is UTC+2
    CVDateTime winter;
    winter.setYMD(2003, 1, 1);
    EXPECT_EQ(winter.getGMTime()->tm_hour, 23);   // CET is UTC+1
}

TEST_F(DateTimeTest, CurrentDateIsTodaysLocalMidnight)
{
    CVDateTime today(CVDateTime::currentDate());
    CVDateTime now;
    EXPECT_EQ(today.hour(), 0);
    EXPECT_EQ(today.minute(), 0);
    EXPECT_EQ(today.second(), 0);
    EXPECT_LE(today.value(), now.value());
    EXPECT_LT(now.value() - today.value(), 25 * 3600);
}

TEST_F(DateTimeTest, Comparisons)
{
    CVDateTime a(1000L), b(2000L);
    EXPECT_TRUE(a < b);
    EXPECT_TRUE(b > a);
    EXPECT_TRUE(a <= a);
    EXPECT_TRUE(a >= a);
    EXPECT_TRUE(a != b);
    EXPECT_FALSE(a == b);
    for (long v : {999L, 1000L, 1001L})
        EXPECT_NE(a == v, a != v) << v;
    a = 2000L;
    EXPECT_TRUE(a == b);
}

TEST_F(DateTimeTest, ValuesBeyond2038)
{
    CVDateTime t(2040, 1, 1, 0, 0, 0);
    EXPECT_GT(t.value(), 2147483647L);
    EXPECT_EQ(t.year(), 2040);
}

} // namespace
