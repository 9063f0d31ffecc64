// A server that is legal but awkward, or plainly broken: lines of every
// length where fixed buffers once ended, long replies to every command,
// bare LF line ends, connections dropped in the middle of a reply, and
// unique ids that are not ids.  After each case the client's next command
// must be answered correctly and at once (the client gives up after 5 s,
// far below the proxy's 60-second time-outs).
#include "store/CMessage.h"

#include "UpstreamSession.h"

#include <future>
#include <memory>
#include <set>

namespace {

// Message k of a mailbox whose k-th message ends with a line of k
// characters: the header's last line (a folded continuation) and the
// body's last line both have that length.
std::string head(int k)
{
    return "Subject: message " + std::to_string(k) + "\r\n\t" + std::string(static_cast<size_t>(k - 1), 'h') + "\r\n";
}
std::string body(int k)
{
    return "first body line\r\n" + std::string(static_cast<size_t>(k), 'b') + "\r\n";
}
std::string whole(int k) { return head(k) + "\r\n" + body(k) + ".\r\n"; }

// A server of those messages; ids[k - 1] is message k's unique id ("uid-k"
// when not given; an empty one gives a UIDL line without an id).
std::map<std::string, std::string> mailboxOf(int count, bool top, const std::vector<std::string>& ids = {})
{
    std::map<std::string, std::string> replies{
        {"USER me", "+OK\r\n"}, {"PASS secret", "+OK\r\n"}, {"QUIT", "+OK bye\r\n"}};
    std::string list = "+OK\r\n", uidl = "+OK\r\n";
    for (int k = 1; k <= count; ++k) {
        const std::string n = std::to_string(k);
        const std::string id = ids.empty() ? "uid-" + n : ids[static_cast<size_t>(k - 1)];
        list += n + " " + std::to_string(whole(k).size()) + "\r\n";
        uidl += n + (id.empty() ? "" : " " + id) + "\r\n";
        replies["RETR " + n] = "+OK\r\n" + whole(k);
        replies["TOP " + n + " 0"] = top ? "+OK\r\n" + head(k) + "\r\n.\r\n" : "-ERR no TOP\r\n";
        replies["TOP " + n + " 3"] = "+OK\r\n" + whole(k);
    }
    replies["LIST"] = list + ".\r\n";
    replies["UIDL"] = uidl + ".\r\n";
    return replies;
}

class EveryLineLength : public UpstreamSession, public ::testing::WithParamInterface<bool>
{};

// Headers spooled with TOP (RETR and TOP with body lines relayed), or whole
// messages spooled with RETR when the server has no TOP.
TEST_P(EveryLineLength, AtTheEndOfAMessage)
{
    const bool top = GetParam();
    constexpr int kLongest = 1100;
    serve(mailboxOf(kLongest, top));
    ASSERT_EQ(login(120000), "+OK\r\n");
    for (int k = 1; k <= kLongest; ++k) {
        SCOPED_TRACE("last line of " + std::to_string(k) + " characters");
        const std::string n = std::to_string(k);
        ASSERT_EQ(m_client->command("RETR " + n).substr(0, 3), "+OK");
        ASSERT_EQ(m_client->body(), whole(k));
        ASSERT_EQ(m_client->command("TOP " + n + " 0"), "+OK top of message follows.\r\n");
        ASSERT_EQ(m_client->body(), head(k) + "\r\n.\r\n");
        ASSERT_EQ(m_client->command("TOP " + n + " 3").substr(0, 3), "+OK");
        ASSERT_EQ(m_client->body(), whole(k));
    }
    EXPECT_EQ(m_client->command("QUIT"), "+OK bye\r\n");
}

INSTANTIATE_TEST_SUITE_P(SpooledAndRelayed, EveryLineLength, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("HeadersSpooled") : std::string("WholeSpooled");
                         });

// "+OK" and filler, length characters in all.
std::string okOf(size_t length)
{
    std::string reply = "+OK";
    for (size_t i = reply.size(); i < length; ++i)
        reply += (i == 3) ? ' ' : static_cast<char>('a' + i % 26);
    return reply;
}

using HostileUpstream = UpstreamSession;

TEST_F(HostileUpstream, RepliesOfEveryLengthToEveryCommand)
{
    for (size_t length = 3; length <= 600; ++length) {
        SCOPED_TRACE("replies of " + std::to_string(length) + " characters");
        const std::string ok = okOf(length) + "\r\n";
        serve({{"USER me", ok},
               {"PASS secret", ok},
               {"LIST", ok + "1 " + std::to_string(whole(5).size()) + "\r\n.\r\n"},
               {"UIDL", ok + "1 uid-" + std::to_string(length) + "\r\n.\r\n"},
               {"TOP 1 0", ok + head(5) + "\r\n.\r\n"},
               {"RETR 1", ok + whole(5)},
               {"DELE 1", ok},
               {"QUIT", ok}},
              ok);
        ASSERT_EQ(connect(), "+OK Quillfence\r\n");
        ASSERT_EQ(m_client->command("USER " + userName()), ok);
        ASSERT_EQ(m_client->command("PASS secret"), "+OK\r\n");
        ASSERT_EQ(m_client->command("UIDL 1"), "+OK 1 uid-" + std::to_string(length) + "\r\n");
        ASSERT_EQ(m_client->command("RETR 1"), ok);
        ASSERT_EQ(m_client->body(), whole(5));
        ASSERT_EQ(m_client->command("DELE 1"), ok);
        ASSERT_EQ(m_client->command("STAT"), "+OK 1 0\r\n");
        ASSERT_EQ(m_client->command("QUIT"), ok);
        ASSERT_TRUE(m_client->closedByServer());
    }
}

TEST_F(HostileUpstream, RepliesLongerThanTheLimitAreCutAndTheirRestDropped)
{
    const std::string longReply = okOf(5000);
    serve({{"USER me", longReply + "\r\n"},
           {"PASS secret", "+OK\r\n"},
           {"LIST", "+OK\r\n.\r\n"},
           {"UIDL", "+OK\r\n.\r\n"},
           {"QUIT", "+OK bye\r\n"}});
    ASSERT_EQ(connect(), "+OK Quillfence\r\n");
    EXPECT_EQ(m_client->command("USER " + userName()), longReply.substr(0, UpstreamConnection::kMaxReplyLine) + "\r\n");
    EXPECT_EQ(m_client->command("PASS secret"), "+OK\r\n");
    EXPECT_EQ(m_client->command("STAT"), "+OK 0 0\r\n");
    EXPECT_EQ(m_client->command("QUIT"), "+OK bye\r\n");
}

TEST_F(HostileUpstream, BareLineFeedsEndLinesToo)
{
    const std::string text = "Subject: lf\n\nline one\n..dot\n";
    serve({{"USER me", "+OK\n"},
           {"PASS secret", "+OK welcome\n"},
           {"LIST", "+OK\n1 40\n.\n"},
           {"UIDL", "+OK\n1 lf-1\n.\n"},
           {"TOP 1 0", "+OK\nSubject: lf\n\n.\n"},
           {"RETR 1", "+OK\n" + text + ".\n"},
           {"QUIT", "+OK bye\n"}},
          "+OK ready\n");
    ASSERT_EQ(connect(), "+OK Quillfence\r\n");
    EXPECT_EQ(m_client->command("USER " + userName()), "+OK\r\n");
    EXPECT_EQ(m_client->command("PASS secret"), "+OK\r\n");
    EXPECT_EQ(m_client->command("UIDL 1"), "+OK 1 lf-1\r\n");
    EXPECT_EQ(m_client->command("TOP 1 0"), "+OK top of message follows.\r\n");
    EXPECT_EQ(m_client->body(), "Subject: lf\r\n\r\n.\r\n");
    EXPECT_EQ(m_client->command("RETR 1"), "+OK\r\n");
    EXPECT_EQ(m_client->body(), "Subject: lf\r\n\r\nline one\r\n..dot\r\n.\r\n");
    EXPECT_EQ(m_client->command("NOOP"), "+OK\r\n");
    EXPECT_EQ(m_client->command("QUIT"), "+OK bye\r\n");
}

// The server goes away in the middle of a command's reply, or instead of
// it.  The client hears of it at once, and nothing is deleted or recorded
// that should not be.
class DroppedUpstream : public UpstreamSession
{
protected:
    void SetUp() override
    {
        auto replies = mailboxOf(3, true);
        replies["DELE 1"] = FakeUpstream::kDrop;
        serve(replies);
        m_upstream->sendWith("RETR 2", [](int fd, const std::string& reply) {
            sendAll(fd, reply.substr(0, reply.size() / 2));
            ::shutdown(fd, SHUT_RDWR);
        });
        m_upstream->sendWith("TOP 3 3", [](int fd, const std::string&) { ::shutdown(fd, SHUT_RDWR); });
        traps = count(logText(), "Exception trap");
        ASSERT_EQ(login(), "+OK\r\n");
    }

    void TearDown() override
    {
        EXPECT_EQ(count(logText(), "Exception trap"), traps) << "a lost server is no program fault";
        UpstreamSession::TearDown();
    }

    size_t traps = 0;
};

TEST_F(DroppedUpstream, AMessageCutShortClosesTheClientAtOnce)
{
    EXPECT_EQ(m_client->command("RETR 2"), "+OK\r\n");
    const std::string got = m_client->body();
    EXPECT_EQ(got.substr(got.size() - 5), "<EOF>") << "never a short message with its end line";
    EXPECT_TRUE(m_client->closedByServer());
}

TEST_F(DroppedUpstream, NoReplyAtAllIsToldAsAnError)
{
    EXPECT_EQ(m_client->command("TOP 3 3"), "-ERR Connection to the mail server lost\r\n");
    EXPECT_EQ(m_client->command("NOOP"), "+OK\r\n");
    // Later commands that need the server are refused at once.
    EXPECT_EQ(m_client->command("RETR 1"), "-ERR Connection to the mail server lost\r\n");
    EXPECT_EQ(m_client->command("TOP 1 0"), "+OK top of message follows.\r\n") << "served from the spool";
    EXPECT_EQ(m_client->body(), head(1) + "\r\n.\r\n");
    EXPECT_EQ(m_client->command("QUIT"), "+OK Session closed.\r\n");
    EXPECT_TRUE(m_client->closedByServer());
}

TEST_F(DroppedUpstream, ADeletionItCannotConfirmIsNotReportedDone)
{
    EXPECT_EQ(m_client->command("DELE 1"), "-ERR Connection to the mail server lost\r\n");
    EXPECT_EQ(m_client->command("LIST 1"), "+OK 1 " + std::to_string(whole(1).size()) + "\r\n");
    EXPECT_EQ(m_client->command("QUIT"), "+OK Session closed.\r\n");
    EXPECT_FALSE(std::filesystem::exists(accountFile())) << "no QUIT reached the server";
}

// A server that sends part of a message, stopping in the middle of a line,
// and then waits: the whole lines it has sent reach the client while it
// waits, however the proxy batches its sends.
TEST_F(HostileUpstream, ASlowServersLinesReachTheClientWhileItWaits)
{
    serve(mailboxOf(2, true));
    auto clientHasFirstPart = std::make_shared<std::promise<void>>();
    std::shared_future<void> firstPartSeen = clientHasFirstPart->get_future().share();
    const std::string firstPart = "+OK\r\n" + head(2) + "\r\nfirst body line\r\nb";
    m_upstream->sendWith("RETR 2", [firstPartSeen, firstPart](int fd, const std::string& reply) {
        sendAll(fd, firstPart);
        firstPartSeen.wait_for(std::chrono::seconds(10));
        sendAll(fd, reply.substr(firstPart.size()));
    });
    ASSERT_EQ(login(), "+OK\r\n");
    ASSERT_EQ(m_client->command("RETR 2"), "+OK\r\n");
    std::string got;
    for (size_t lines = 0; lines < 4; ++lines)
        got += m_client->line(3000);
    EXPECT_EQ(got, head(2) + "\r\nfirst body line\r\n") << "sent on before the rest came";
    clientHasFirstPart->set_value();
    EXPECT_EQ(got + m_client->body(), whole(2));
    EXPECT_EQ(m_client->command("NOOP"), "+OK\r\n");
}

// Unique ids that RFC 1939 does not allow (bytes outside 0x21..0x7E, more
// than 70 characters) or that name two messages never key the account
// state file; the client is shown a stable, valid stand-in for each.
TEST_F(HostileUpstream, IdsWithForbiddenBytesAreNeverRecorded)
{
    std::vector<std::string> ids;
    for (int byte = 0; byte < 256; ++byte)
        if ((byte <= 0x20 || byte >= 0x7F) && byte != '\n')
            ids.push_back(std::string("id") + static_cast<char>(byte) + "x");
    ids.push_back("evil 00003");
    ids.push_back(std::string(71, 'L'));
    ids.push_back("");
    ids.push_back("twice");
    ids.push_back("twice");
    ids.push_back("good-1");
    const int count = static_cast<int>(ids.size());
    const auto replies = mailboxOf(count, true, ids);
    serve(replies);
    // Another account's spool, named by its own state file.
    writeFile(stateFolder() + "/msg00003.msg", "Subject: someone else's\r\n\r\n.\r\n");
    writeFile(stateFolder() + "/other@example.org.dat", "their-uid 00003 1\n");

    auto uidList = [&] {
        EXPECT_EQ(m_client->command("UIDL"), "+OK Unique id list follows\r\n");
        std::vector<std::string> uids;
        for (const std::string& line : splitLines(m_client->body())) {
            if (line == ".\r")
                break;
            uids.push_back(line.substr(line.find(' ') + 1, line.size() - line.find(' ') - 2));
        }
        return uids;
    };
    ASSERT_EQ(login(), "+OK\r\n");
    const std::vector<std::string> first = uidList();
    ASSERT_EQ(first.size(), ids.size());
    EXPECT_EQ(first.back(), "good-1");
    EXPECT_EQ(std::set<std::string>(first.begin(), first.end()).size(), first.size()) << "each shown once";
    for (const std::string& uid : first)
        EXPECT_TRUE(CMessage::isValidUid(uid)) << uid;
    EXPECT_EQ(m_client->command("QUIT"), "+OK bye\r\n");
    hangUp();
    EXPECT_EQ(readFile(accountFile()).substr(0, 7), "good-1 ");
    EXPECT_EQ(splitLines(readFile(accountFile())).size(), 1u) << readFile(accountFile());
    EXPECT_TRUE(std::filesystem::exists(stateFolder() + "/msg00003.msg")) << "another account's spool";

    // The next session judges every message without a usable id anew, and
    // shows the same stand-ins.
    ASSERT_EQ(login(), "+OK\r\n");
    const auto sent = upstreamAfterLogin();
    EXPECT_EQ(std::count_if(sent.begin(), sent.end(), [](const std::string& c) { return c.rfind("TOP ", 0) == 0; }),
              count - 1);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "TOP " + std::to_string(count) + " 0"), 0);
    EXPECT_EQ(uidList(), first);
    EXPECT_EQ(m_client->command("QUIT"), "+OK bye\r\n");
}

TEST_F(HostileUpstream, InsaneListingsFailTheCollectionCleanly)
{
    for (const char* listing : {"1 4611686018427387904\r\n", "1 -5\r\n", "1 12abc\r\n", "x 12\r\n", "1\r\n",
                                "1 2147483648\r\n", ".junk\r\n"}) {
        SCOPED_TRACE(listing);
        serve({{"USER me", "+OK\r\n"},
               {"PASS secret", "+OK\r\n"},
               {"LIST", std::string("+OK\r\n") + listing + ".\r\n"},
               {"QUIT", "+OK bye\r\n"}});
        ASSERT_EQ(login(), "+OK\r\n");
        EXPECT_EQ(m_client->command("STAT"), "-ERR Mailbox anaylsis failed\r\n");
        EXPECT_EQ(m_client->command("QUIT"), "+OK Session closed.\r\n");
        EXPECT_EQ(m_upstream->received().back(), "LIST") << "nothing sent after the listing";
    }
}

TEST_F(HostileUpstream, LargeSizesAddUpWithoutWrapping)
{
    serve({{"USER me", "+OK\r\n"},
           {"PASS secret", "+OK\r\n"},
           {"LIST", "+OK\r\n1 2147483647\r\n2 2147483647\r\n3 2147483647\r\n.\r\n"},
           {"UIDL", "+OK\r\n1 a\r\n2 b\r\n3 c\r\n.\r\n"},
           {"TOP 1 0", "+OK\r\nSubject: 1\r\n\r\n.\r\n"},
           {"TOP 2 0", "+OK\r\nSubject: 2\r\n\r\n.\r\n"},
           {"TOP 3 0", "+OK\r\nSubject: 3\r\n\r\n.\r\n"},
           {"QUIT", "+OK bye\r\n"}});
    ASSERT_EQ(login(), "+OK\r\n");
    EXPECT_EQ(m_client->command("STAT"), "+OK 3 6442450941\r\n");
}

TEST_F(HostileUpstream, AHugeHeaderIsPassedOnUnjudged)
{
    const std::string bigHeader = "Subject: big\r\n" + std::string(2 << 20, 'X') + "\r\n";
    int judged = 0;
    setEvaluationSeam([&](const MessageDescriptor&, int) {
        ++judged;
        return true;
    });
    serve({{"USER me", "+OK\r\n"},
           {"PASS secret", "+OK\r\n"},
           {"LIST", "+OK\r\n1 100\r\n2 100\r\n.\r\n"},
           {"UIDL", "+OK\r\n1 big\r\n2 small\r\n.\r\n"},
           {"TOP 1 0", "+OK\r\n" + bigHeader + "\r\n.\r\n"},
           {"TOP 2 0", "+OK\r\nSubject: small\r\n\r\n.\r\n"},
           {"RETR 1", "+OK\r\n" + bigHeader + "\r\nbody\r\n.\r\n"},
           {"QUIT", "+OK bye\r\n"}});
    ASSERT_EQ(login(), "+OK\r\n");
    EXPECT_EQ(judged, 1) << "only the small one";
    EXPECT_EQ(m_client->command("RETR 1"), "+OK\r\n") << "relayed from the server";
    EXPECT_EQ(m_client->body(), bigHeader + "\r\nbody\r\n.\r\n");
    EXPECT_EQ(m_client->command("QUIT"), "+OK bye\r\n");
    hangUp();
    const auto lines = splitLines(readFile(accountFile()));
    ASSERT_EQ(lines.size(), 1u) << "the unjudged one is judged next time";
    EXPECT_EQ(lines[0].rfind("small ", 0), 0u) << lines[0];
    EXPECT_NE(logText().find("has a header of more than 1048576 bytes: passed on unjudged"), std::string::npos);
}

} // namespace
