#include "upstream/LoginMethods.h"

#include <gtest/gtest.h>

namespace {

TEST(LoginMethods, TheGreetingsTimestampIsFromItsFirstOpeningBracketToTheNextClosingOne)
{
    struct Row {
        const char* greeting;
        TimestampFault fault;
        const char* timestamp;
    } const rows[] = {
        {"+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>", TimestampFault::None,
         "<1896.697170952@dbc.mtview.ca.us>"},
        {"+OK <a> <b>", TimestampFault::None, "<a>"},
        {"+OK a> <b", TimestampFault::None, ""},   // no '>' after the '<'
        {"+OK ready", TimestampFault::Missing, ""},
        {"", TimestampFault::Missing, ""},
    };
    for (const Row& row : rows) {
        std::string timestamp = "left over";
        EXPECT_EQ(apopTimestampOf(row.greeting, timestamp), row.fault) << row.greeting;
        EXPECT_EQ(timestamp, row.timestamp) << row.greeting;
    }
    const std::string longest = "<" + std::string(kMaxTimestamp - 2, 'x') + ">";
    std::string timestamp;
    EXPECT_EQ(apopTimestampOf("+OK " + longest, timestamp), TimestampFault::None);
    EXPECT_EQ(timestamp, longest);
    EXPECT_EQ(apopTimestampOf("+OK <x" + longest, timestamp), TimestampFault::TooLong);
    EXPECT_EQ(timestamp, "");
}

TEST(LoginMethods, EachSuffixNamesItsRowInAnyCase)
{
    LoginMethod method = LoginMethod::UserPass;
    EXPECT_TRUE(loginMethodOfSuffix("apop", method));
    EXPECT_EQ(method, LoginMethod::Apop);
    EXPECT_TRUE(loginMethodOfSuffix("Msn", method));
    EXPECT_EQ(method, LoginMethod::Msn);
    for (const char* other : {"", "TLS", "STLS", "USER", "APOP "})
        EXPECT_FALSE(loginMethodOfSuffix(other, method)) << other;

    EXPECT_TRUE(loginMethodRow(LoginMethod::UserPass).sendsUser);
    EXPECT_TRUE(loginMethodRow(LoginMethod::Apop).needsTimestamp);
    EXPECT_FALSE(loginMethodRow(LoginMethod::Msn).sendsUser);
}

} // namespace
