#include "proxy/LoginAddress.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

struct AddressRow {
    const char* argument;
    const char* user;
    const char* host;
    int port;
    LoginMethod method;
    TlsMode tls;
};

const AddressRow kAddresses[] = {
    {"me@mail.example.org", "me", "mail.example.org", 110, LoginMethod::UserPass, TlsMode::Opportunistic},
    {"me@home@mail.example.org", "me@home", "mail.example.org", 110, LoginMethod::UserPass,
     TlsMode::Opportunistic},
    {"me@10.0.0.1:2110", "me", "10.0.0.1", 2110, LoginMethod::UserPass, TlsMode::Opportunistic},
    {"me@[::1]:2110", "me", "::1", 2110, LoginMethod::UserPass, TlsMode::Opportunistic},
    {"me@[2001:db8::5]", "me", "2001:db8::5", 110, LoginMethod::UserPass, TlsMode::Opportunistic},
    {"me@mail:995", "me", "mail", 995, LoginMethod::UserPass, TlsMode::Implicit},
    {"me@mail:995$STLS", "me", "mail", 995, LoginMethod::UserPass, TlsMode::Stls},
    {"me@mail$APOP", "me", "mail", 110, LoginMethod::Apop, TlsMode::Opportunistic},
    {"me@mail$msn", "me", "mail", 110, LoginMethod::Msn, TlsMode::Opportunistic},
    {"me@mail$TLS$APOP", "me", "mail", 110, LoginMethod::Apop, TlsMode::Implicit},
    {"me@mail:2995$apop$tls", "me", "mail", 2995, LoginMethod::Apop, TlsMode::Implicit},
    {"me@mail:0", "me", "mail", 110, LoginMethod::UserPass, TlsMode::Opportunistic},
    {"me@mail:-5", "me", "mail", 110, LoginMethod::UserPass, TlsMode::Opportunistic},
    {"me@mail:99999999999999", "me", "mail", INT_MAX, LoginMethod::UserPass, TlsMode::Opportunistic},
};

TEST(LoginAddress, NamesTheUserServerPortMethodAndTls)
{
    for (const AddressRow& row : kAddresses) {
        SCOPED_TRACE(row.argument);
        LoginAddress address;
        ASSERT_EQ(parseLoginAddress(row.argument, '@', address), LoginAddressFault::None);
        EXPECT_EQ(address.user, row.user);
        EXPECT_EQ(address.host, row.host);
        EXPECT_EQ(address.port, row.port);
        EXPECT_EQ(address.method, row.method);
        EXPECT_EQ(address.tls, row.tls);
    }
}

TEST(LoginAddress, RefusesWhatIsNotALoginAddress)
{
    for (const char* bad : {"", "me", "@mail", "me@", "me@$APOP", "me@mail$XYZ", "me@mail$APOP$MSN",
                            "me@mail$TLS$STLS", "me@mail$", "me@[::1", "me@[::1]x", "me@[]", "me@:110",
                            "me@[::1]$APOP$APOP"}) {
        LoginAddress address;
        EXPECT_EQ(parseLoginAddress(bad, '@', address), LoginAddressFault::Syntax) << bad;
    }
}

TEST(LoginAddress, TheAccountFileIsASafeNameOfBoundedLength)
{
    LoginAddress address;
    ASSERT_EQ(parseLoginAddress("a/b:c\\d@mail:2110$APOP", '@', address), LoginAddressFault::None);
    EXPECT_EQ(address.accountFile, "a#b#c#d@mail#2110.dat") << "no suffix, no character a path could use";
    ASSERT_EQ(parseLoginAddress("me#mail", '#', address), LoginAddressFault::None) << "another separator";
    EXPECT_EQ(address.accountFile, "me@mail.dat");

    const std::string user(kMaxAccountFile - std::string("@mail.dat").size(), 'u');
    EXPECT_EQ(parseLoginAddress(user + "@mail", '@', address), LoginAddressFault::None);
    EXPECT_EQ(address.accountFile.size(), kMaxAccountFile);
    EXPECT_EQ(parseLoginAddress(user + "x@mail", '@', address), LoginAddressFault::TooLong);
    EXPECT_EQ(parseLoginAddress(user + "x@[bad", '@', address), LoginAddressFault::TooLong)
        << "the length is judged before the server's form";
}

TEST(LoginAddress, IsWrittenAsTheShortestTextThatReadsBack)
{
    const auto text = [](const char* host, int port, TlsMode tls, LoginMethod method) {
        LoginAddress address;
        address.user = "me@home";
        address.host = host;
        address.port = port;
        address.tls = tls;
        address.method = method;
        return formatLoginAddress(address, '@');
    };
    EXPECT_EQ(text("mail", 110, TlsMode::Opportunistic, LoginMethod::UserPass), "me@home@mail");
    EXPECT_EQ(text("mail", 995, TlsMode::Implicit, LoginMethod::UserPass), "me@home@mail:995");
    EXPECT_EQ(text("mail", 110, TlsMode::Stls, LoginMethod::Apop), "me@home@mail$STLS$APOP");
    EXPECT_EQ(text("mail", 2995, TlsMode::Implicit, LoginMethod::UserPass), "me@home@mail:2995$TLS");
    EXPECT_EQ(text("::1", 2110, TlsMode::Opportunistic, LoginMethod::UserPass), "me@home@[::1]:2110");

    // Every mode and method on the ports that mean something to them.
    for (const char* host : {"mail.example.org", "10.0.0.1", "2001:db8::5"})
        for (const int port : {110, 995, 1, 2110, 65535})
            for (const TlsMode tls : {TlsMode::Opportunistic, TlsMode::Implicit, TlsMode::Stls})
                for (const LoginMethod method : {LoginMethod::UserPass, LoginMethod::Apop, LoginMethod::Msn}) {
                    const std::string written = text(host, port, tls, method);
                    SCOPED_TRACE(written);
                    LoginAddress back;
                    ASSERT_EQ(parseLoginAddress(written, '@', back), LoginAddressFault::None);
                    EXPECT_EQ(back.user, "me@home");
                    EXPECT_EQ(back.host, host);
                    EXPECT_EQ(back.port, port);
                    EXPECT_EQ(back.method, method);
                    // Port 995 alone means TLS from the first byte.
                    const bool unsayable = tls == TlsMode::Opportunistic && port == kPop3sPort;
                    EXPECT_EQ(back.tls, unsayable ? TlsMode::Implicit : tls);
                }
}

} // namespace
