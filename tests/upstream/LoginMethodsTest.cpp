#include "upstream/LoginMethods.h"
#include "upstream/OAuthSasl.h"

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
    EXPECT_TRUE(loginMethodOfSuffix("OAuth", method));
    EXPECT_EQ(method, LoginMethod::OAuth);
    EXPECT_TRUE(loginMethodRow(LoginMethod::OAuth).needsTls);
    EXPECT_FALSE(loginMethodRow(LoginMethod::OAuth).sendsUser);
    EXPECT_FALSE(loginMethodRow(LoginMethod::UserPass).needsTls);
}

TEST(OAuthSasl, TheResponsesAreTheMechanismsBytes)
{
    EXPECT_EQ(xoauth2Response("me@example.com", "ya29.tok"), "user=me@example.com\x01" "auth=Bearer ya29.tok\x01\x01");
    // RFC 7628's gs2 header writes '=' and ',' of the name as "=3D" and "=2C".
    EXPECT_EQ(oauthBearerResponse("a=b,c@example.com", "pop.example.com", 995, "tok"),
              "n,a=a=3Db=2Cc@example.com,\x01host=pop.example.com\x01port=995\x01" "auth=Bearer tok\x01\x01");
}

TEST(OAuthSasl, OAuthBearerIsChosenWhenTheServerListsItUnderSasl)
{
    const struct {
        const char* line;
        bool listed;
        OAuthMechanism mechanism;
    } rows[] = {
        {"SASL PLAIN XOAUTH2", true, OAuthMechanism::XOAuth2},
        {"SASL XOAUTH2 OAUTHBEARER", true, OAuthMechanism::OAuthBearer},
        {"sasl oauthbearer", true, OAuthMechanism::OAuthBearer},
        {"SASL PLAIN LOGIN", false, OAuthMechanism::XOAuth2},
        {"USER", false, OAuthMechanism::XOAuth2},
        {"IMPLEMENTATION XOAUTH2 OAUTHBEARER", false, OAuthMechanism::XOAuth2},
        {"", false, OAuthMechanism::XOAuth2},
    };
    for (const auto& row : rows) {
        OAuthMechanism mechanism = OAuthMechanism::XOAuth2;
        EXPECT_EQ(oauthMechanismOfCapa(row.line, mechanism), row.listed) << row.line;
        EXPECT_EQ(mechanism, row.mechanism) << row.line;
    }
}

} // namespace
