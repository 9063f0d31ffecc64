#include "common/CEventLog.h"
#include "common/CVDateTime.h"
#include "common/InternetDate.h"

#include "support/TestHelpers.h"

#include <cstring>
#include <ctime>
#include <regex>

namespace {

// 2003-03-04 13:05:09 UTC
constexpr long kMarch4 = 1046783109;

class InternetDateTest : public ::testing::Test
{
protected:
    void TearDown() override { ::tzset(); }
};

struct DateCase {
    const char* name;
    const char* text;
    long expected;
    friend void PrintTo(const DateCase& c, std::ostream* os) { *os << c.name; }
};

class GetDateCases : public ::testing::TestWithParam<DateCase> {};

TEST_P(GetDateCases, ConvertsToUtc)
{
    // The result must not depend on the local zone.
    for (const char* zone : {"UTC0", "<M05>5", "CET-1CEST,M3.5.0,M10.5.0/3"}) {
        ScopedEnv tz("TZ", zone);
        ::tzset();
        EXPECT_EQ(commonkit::getdate(GetParam().text), GetParam().expected)
            << GetParam().text << " in zone " << zone;
    }
    ::tzset();
}

INSTANTIATE_TEST_SUITE_P(
    Values, GetDateCases,
    ::testing::Values(DateCase{"PlusZone", "Tue, 4 Mar 2003 14:05:09 +0100", kMarch4},
                      DateCase{"MinusZone", "Tue, 4 Mar 2003 08:05:09 -0500", kMarch4},
                      DateCase{"HalfHourZone", "Tue, 4 Mar 2003 14:35:09 +0130", kMarch4},
                      DateCase{"NoZoneIsUtc", "Tue, 4 Mar 2003 13:05:09", kMarch4},
                      DateCase{"UnknownZoneIsUtc", "Tue, 4 Mar 2003 13:05:09 XYZ", kMarch4},
                      DateCase{"NamedZoneWholeHours", "Tue, 4 Mar 2003 08:05:09 EST", kMarch4},
                      DateCase{"NamedZoneEast", "Tue, 4 Mar 2003 22:05:09 JST", kMarch4},
                      DateCase{"NamedZoneAnyCase", "Tue, 4 Mar 2003 14:05:09 cet", kMarch4},
                      DateCase{"DashSeparators", "Tue, 4-Mar-2003 14:05:09 +0100", kMarch4},
                      DateCase{"FullMonthName", "Tue, 4 March 2003 14:05:09 +0100", kMarch4},
                      DateCase{"ThreeDigitYear", "Tue, 4 Mar 103 14:05:09 +0100", kMarch4},
                      DateCase{"TwoDigitYearIs1900s", "Tue, 4 Mar 03 14:05:09 +0100", 0},
                      DateCase{"NoWeekday", "4 Mar 2003 14:05:09 +0100", 0},
                      DateCase{"UnknownMonth", "Tue, 4 Foo 2003 14:05:09 +0100", 0},
                      DateCase{"Garbage", "yesterday", 0},
                      DateCase{"Empty", "", 0},
                      DateCase{"HugeNumbers", "Tue, 99999999999 Mar 99999999999 99:99:99 +99999", 0}),
    [](const ::testing::TestParamInfo<DateCase>& info) { return std::string(info.param.name); });

TEST_F(InternetDateTest, NullTextGivesZero)
{
    EXPECT_EQ(commonkit::getdate(nullptr), 0);
}

TEST_F(InternetDateTest, MalformedDateIsLoggedAsWarning)
{
    TempDir dir;
    CEventLog::dayno = -1;
    CEventLog::Initialize(dir.path().c_str(), "quilfpro", "qf");
    EXPECT_EQ(commonkit::getdate("4 Mar 2003 14:05:09 +0100"), 0);
    CEventLog::Uninitialize();
    CEventLog::loginit = false;
    CEventLog::dayno = -1;

    CVDateTime now;
    char name[32];
    std::snprintf(name, sizeof name, "/qf%02d%02d%02d.log", now.year() % 100, now.month(), now.day());
    const std::string log = readFile(dir.path() + name);
    EXPECT_NE(log.find(" W "), std::string::npos) << log;
    EXPECT_NE(log.find("Invalid format date 4 Mar 2003 14:05:09 +0100"), std::string::npos) << log;
}

TEST_F(InternetDateTest, MonthNamesByFirstThreeLetters)
{
    EXPECT_EQ(getm("MARCH"), 2);
    EXPECT_EQ(getm("jan"), 0);
    EXPECT_EQ(getm("Dec"), 11);
    EXPECT_EQ(getm("ma"), -1);
    EXPECT_EQ(getm(""), -1);
    EXPECT_EQ(getm(nullptr), -1);
}

TEST_F(InternetDateTest, TimeStringHasRfc822ShapeAndZone)
{
    const std::regex shape(
        "(Mon|Tue|Wed|Thu|Fri|Sat|Sun), [1-9]\\d? "
        "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \\d{4} \\d\\d:\\d\\d:\\d\\d ([+-]\\d{4})");
    const std::pair<const char*, const char*> zones[] = {
        {"UTC0", "+0000"}, {"<M0530>5:30", "-0530"}, {"<P0945>-9:45", "+0945"}};
    for (auto [zone, offset] : zones) {
        ScopedEnv tz("TZ", zone);
        ::tzset();
        char buf[64];
        const char* text = GetInternetTimeString(buf, sizeof buf);
        EXPECT_EQ(text, buf);
        std::cmatch m;
        ASSERT_TRUE(std::regex_match(text, m, shape)) << text;
        EXPECT_EQ(m[3].str(), offset) << zone;
        // The text reads back as the current time.
        EXPECT_NEAR(commonkit::getdate(text), CVDateTime::currentTime(), 5);
    }
}

TEST_F(InternetDateTest, TimeStringTooSmallBufferGivesError)
{
    char buf[64];
    ScopedEnv tz("TZ", "UTC0");
    ::tzset();
    const size_t needed = std::strlen(GetInternetTimeString(buf, sizeof buf)) + 1;
    char exact[64];
    EXPECT_EQ(GetInternetTimeString(exact, needed), exact);
    EXPECT_STREQ(GetInternetTimeString(exact, needed - 1), "<error>");
    EXPECT_STREQ(GetInternetTimeString(exact, 10), "<error>");
    EXPECT_STREQ(GetInternetTimeString(exact, 0), "<error>");
}

} // namespace
