// The pieces of the browser sign-in: PKCE as RFC 7636 defines it, the
// query's percent-encoding, and the loopback listener against programs on
// the computer that are not the browser coming back.
#include "oauth/LoopbackRedirect.h"
#include "oauth/Pkce.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <future>
#include <string>

namespace {

TEST(Pkce, TheChallengeIsRfc7636sAndTheVerifierIsRandomBase64url)
{
    // RFC 7636, appendix B.
    EXPECT_EQ(s256Challenge("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
              "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
    const std::string one = randomVerifier(), two = randomVerifier();
    EXPECT_EQ(one.size(), 43u);
    EXPECT_NE(one, two);
    EXPECT_EQ(one.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
              std::string::npos);
}

TEST(Pkce, QueryValuesAreEncodedAndReadBackWhole)
{
    EXPECT_EQ(percentEncoded("pop offline_access https://x/y?a=1&b"),
              "pop%20offline_access%20https%3A%2F%2Fx%2Fy%3Fa%3D1%26b");
    EXPECT_EQ(percentDecoded("a+b%2Fc%zz%4"), "a b/c%zz%4");
    std::string value;
    ASSERT_TRUE(queryValue("state=s1&code=4%2F0Ab_x&scope=a+b", "code", value));
    EXPECT_EQ(value, "4/0Ab_x");
    ASSERT_TRUE(queryValue("state=s1&code=4%2F0Ab_x&scope=a+b", "scope", value));
    EXPECT_EQ(value, "a b");
    ASSERT_TRUE(queryValue("flag&x=1", "flag", value));
    EXPECT_EQ(value, "");
    EXPECT_FALSE(queryValue("", "code", value));
    EXPECT_FALSE(queryValue("codes=1&xcode=2", "code", value));
}

// Sends text to the listener's port and returns what came back.
std::string ask(int port, const std::string& text)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string reply;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        (void)::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
        char piece[4096];
        for (ssize_t n; (n = ::recv(fd, piece, sizeof piece, 0)) > 0;)
            reply.append(piece, static_cast<size_t>(n));
    }
    ::close(fd);
    return reply;
}

TEST(LoopbackRedirect, OnlyTheRedirectWithThisSignInsStateEndsTheWait)
{
    LoopbackRedirect redirect;
    std::string error;
    ASSERT_TRUE(redirect.open(error)) << error;
    const std::string uri = redirect.redirectUri();
    ASSERT_EQ(uri.rfind("http://127.0.0.1:", 0), 0u);
    const int port = std::stoi(uri.substr(17));

    std::string code;
    auto waited = std::async(std::launch::async, [&] {
        return redirect.waitForCode("the-state", std::chrono::steady_clock::now() + std::chrono::seconds(30),
                                    [] { return false; }, code, error);
    });
    EXPECT_NE(ask(port, "GET /favicon.ico HTTP/1.1\r\n\r\n").find("404"), std::string::npos);
    EXPECT_NE(ask(port, "GET /?code=x&state=other HTTP/1.1\r\n\r\n").find("400"), std::string::npos);
    EXPECT_NE(ask(port, "GET /?code=x HTTP/1.1\r\n\r\n").find("400"), std::string::npos);
    EXPECT_NE(ask(port, "GET /?code=&state=the-state HTTP/1.1\r\n\r\n").find("400"), std::string::npos);
    // Garbage beyond the bound, and a request that is not GET, end nothing.
    EXPECT_NE(ask(port, std::string(LoopbackRedirect::kMaxRequest, 'A')).find("404"), std::string::npos);
    EXPECT_NE(ask(port, "POST /?code=x&state=the-state HTTP/1.1\r\n\r\n").find("404"), std::string::npos);
    EXPECT_EQ(waited.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);

    const std::string page = ask(port, "GET /?state=the-state&code=4%2Fcode HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_NE(page.find("200 OK"), std::string::npos) << page;
    EXPECT_EQ(waited.get(), LoopbackRedirect::Outcome::Code);
    EXPECT_EQ(code, "4/code");
}

TEST(LoopbackRedirect, AStopOrTheDeadlineEndsTheWait)
{
    LoopbackRedirect redirect;
    std::string error, code;
    ASSERT_TRUE(redirect.open(error)) << error;
    EXPECT_EQ(redirect.waitForCode("s", std::chrono::steady_clock::now() + std::chrono::milliseconds(200),
                                   [] { return false; }, code, error),
              LoopbackRedirect::Outcome::TimedOut);
    EXPECT_EQ(redirect.waitForCode("s", std::chrono::steady_clock::now() + std::chrono::seconds(30),
                                   [] { return true; }, code, error),
              LoopbackRedirect::Outcome::Stopped);
}

} // namespace
