// The AUTH MSN exchange, with the tests' own security package and a
// scripted server side.
#include "SessionFixture.h"

#include "common/Base64.h"
#include "common/CRegistry.h"
#include "upstream/SecurityInterface.h"

#include <cstring>

namespace {

std::string base64(const std::string& text)
{
    std::string out(4 * ((text.size() + 2) / 3) + 1, '\0');
    MimeEncodeStr(text.data(), out.data(), static_cast<int>(text.size()));
    out.resize(std::strlen(out.c_str()));
    return out;
}

class SessionMsn : public SessionDialogue
{
protected:
    void SetUp() override
    {
        SessionDialogue::SetUp();
        CRegistry reg;
        reg.CreateKey(eRegUser, "quilfpro", "/", true);
        reg.SetValue("SecurityLibrary", TEST_SECURITY_PACKAGE);
        m_upstream = std::make_unique<FakeUpstream>(std::map<std::string, std::string>{
            {"AUTH MSN", "+ \r\n"},
            {base64("NEGOTIATE me"), "+ " + base64("CHALLENGE 4711") + "\r\n"},
            {base64("RESPONSE me secret 4711"), "+OK MSN login accepted\r\n"},
            {base64("RESPONSE me wrong 4711"), "-ERR MSN login refused\r\n"},
            {"QUIT", "+OK bye\r\n"}});
        m_collection = [](CSession&) { return true; };
    }
    void TearDown() override
    {
        SessionDialogue::TearDown();
        ::unsetenv("QF_TESTSEC_FAIL");
        SecurityInterface::unload();
        CRegistry reg;
        reg.CreateKey(eRegUser, "quilfpro", "/", true);
        reg.DeleteValue("SecurityLibrary");
    }

    std::string loginWith(const std::string& password)
    {
        PopClient& client = connect();
        EXPECT_EQ(client.command("USER " + upstreamUser("me", "$MSN")), "+OK user accepted\r\n");
        return client.command("PASS " + password);
    }
};

TEST_F(SessionMsn, TheWholeChallengeExchange)
{
    EXPECT_EQ(loginWith("secret"), "+OK\r\n");
    EXPECT_EQ(m_upstream->received(),
              (std::vector<std::string>{"CAPA", "AUTH MSN", base64("NEGOTIATE me"), base64("RESPONSE me secret 4711")}));
    EXPECT_EQ(m_client->command("STAT"), "+OK 0 0\r\n");
}

TEST_F(SessionMsn, ARefusalComesFromTheServer)
{
    EXPECT_EQ(loginWith("wrong"), "-ERR MSN login refused\r\n");
    EXPECT_EQ(m_client->command("STAT"), "-ERR Permission denied\r\n");
}

struct InternalError {
    const char* fail;
    const char* reply;
    friend void PrintTo(const InternalError& e, std::ostream* os) { *os << e.fail; }
};

class SessionMsnErrors : public SessionMsn, public ::testing::WithParamInterface<InternalError> {};

TEST_P(SessionMsnErrors, PackageFailuresGetInternalErrorReplies)
{
    ::setenv("QF_TESTSEC_FAIL", GetParam().fail, 1);
    EXPECT_EQ(loginWith("secret"), std::string(GetParam().reply) + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Calls, SessionMsnErrors,
    ::testing::Values(
        InternalError{"query", "-ERR Internal error, QuerySecurityPackageInfo failed, error 80090305"},
        InternalError{"credentials", "-ERR Internal error, AcquireCredentialsHandle failed, error 8009030e"},
        InternalError{"context", "-ERR Internal error, InitializeSecurityContext failed, error 8009030c"}),
    [](const ::testing::TestParamInfo<InternalError>& info) { return std::string(info.param.fail); });

} // namespace
