// Collection against a scripted upstream: listing, ids, the account state
// file, TOP and RETR spooling, rejected messages, the pending folder, the
// time-out notice, and failures that must lose nothing.
#include "common/CRegistry.h"
#include "common/ProgramContext.h"
#include "proxy/CSession.h"
#include "proxy/Collection.h"
#include "proxy/SessionList.h"
#include "filter/FilterSettings.h"
#include "filter/SessionLink.h"
#include "store/SpoolField.h"

#include "support/FakeUpstream.h"
#include "TestJudge.h"
#include "UpstreamSession.h"
#include "support/Loopback.h"
#include "support/PopClient.h"
#include "support/TestHelpers.h"

#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <thread>

namespace {

namespace fs = std::filesystem;

std::string header(int n) { return "Subject: message " + std::to_string(n) + "\r\nFrom: a@x\r\n\r\n"; }
std::string whole(int n) { return header(n) + "body " + std::to_string(n) + "\r\n..leading dot\r\n.\r\n"; }

// The names of the files in the state folder that begin with prefix.
std::vector<std::string> stateFiles(const std::string& prefix)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(programContext().dataRoot + "/state"))
        if (entry.path().filename().string().rfind(prefix, 0) == 0)
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Record line -> its spool field.
std::string fieldOf(const std::string& line)
{
    const size_t first = line.find(' ');
    return line.substr(first + 1, line.rfind(' ') - first - 1);
}

// Sessions between a test client and a server holding a mailbox.
class SessionCollection : public UpstreamSession
{
protected:
    void TearDown() override
    {
        UpstreamSession::TearDown();
        setMaxCollectionTime(0);
        fs::remove_all(programContext().dataRoot + "/pending");
    }

    static void setMaxCollectionTime(int seconds)
    {
        CRegistry reg;
        reg.CreateKey(eRegUser, "quilfpro", "/", true);
        reg.SetValue("MaxCollectionTime", seconds);
    }

    // A server holding count messages; extra replies override the defaults.
    void serve(int count, std::map<std::string, std::string> extra = {},
               std::map<std::string, int> delays = {})
    {
        std::map<std::string, std::string> replies{{"USER me", "+OK\r\n"},
                                                   {"PASS secret", "+OK\r\n"},
                                                   {"QUIT", "+OK bye\r\n"}};
        std::string list = "+OK\r\n", uidl = "+OK\r\n";
        for (int n = 1; n <= count; ++n) {
            list += std::to_string(n) + " " + std::to_string(whole(n).size()) + "\r\n";
            uidl += std::to_string(n) + " uid-" + std::to_string(n) + "\r\n";
            replies["TOP " + std::to_string(n) + " 0"] = "+OK\r\n" + header(n) + ".\r\n";
            replies["RETR " + std::to_string(n)] = "+OK\r\n" + whole(n);
            replies["DELE " + std::to_string(n)] = "+OK deleted\r\n";
        }
        replies["LIST"] = list + ".\r\n";
        replies["UIDL"] = uidl + ".\r\n";
        for (auto& [command, reply] : extra)
            replies[command] = reply;
        UpstreamSession::serve(replies, FakeUpstream::kGreeting, delays);
    }
};

TEST_F(SessionCollection, KnownMessagesAreNotFetchedAgain)
{
    serve(3);
    // uid-2 was judged by an earlier session: its header is spooled.
    writeFile(programContext().dataRoot + "/state/msg000aa.msg", header(2) + ".\r\n");
    writeFile(accountFile(), "uid-2 000aa 1\n");
    EXPECT_EQ(login(), "+OK\r\n");
    EXPECT_EQ(upstreamAfterLogin(), (std::vector<std::string>{"LIST", "UIDL", "TOP 1 0", "TOP 3 0"}));
    EXPECT_EQ(m_client->command("LIST"),
              "+OK 3 " + std::to_string(whole(1).size() + whole(2).size() + whole(3).size()) + "\r\n");
    m_client->body();
    // Header-only spools: RETR is relayed from the server, byte for byte.
    EXPECT_EQ(m_client->command("RETR 2"), "+OK\r\n");
    EXPECT_EQ(m_client->body(), whole(2));
    EXPECT_EQ(m_client->command("TOP 2 0"), "+OK top of message follows.\r\n");
    EXPECT_EQ(m_client->body(), header(2) + ".\r\n");
    EXPECT_EQ(m_client->command("QUIT"), "+OK bye\r\n");
    EXPECT_TRUE(m_client->closedByServer());
    const auto lines = splitLines(readFile(accountFile()));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "uid-2 000aa 1");
    EXPECT_EQ(lines[0].substr(0, 6), "uid-1 ");
    EXPECT_EQ(lines[2].substr(0, 6), "uid-3 ");
}

TEST_F(SessionCollection, RejectedMessagesAreDeletedUpstreamAndNumbersCloseUp)
{
    serve(3);
    setEvaluationSeam([](const MessageDescriptor& message, int) {
        return readFile(message.path).find("message 2") == std::string::npos;
    });
    EXPECT_EQ(login(), "+OK\r\n");
    // The spam is deleted once every message is judged.
    EXPECT_EQ(upstreamAfterLogin(),
              (std::vector<std::string>{"LIST", "UIDL", "TOP 1 0", "TOP 2 0", "TOP 3 0", "DELE 2"}));
    EXPECT_EQ(m_client->command("STAT"),
              "+OK 2 " + std::to_string(whole(1).size() + whole(3).size()) + "\r\n");
    EXPECT_EQ(m_client->command("UIDL"), "+OK Unique id list follows\r\n");
    EXPECT_EQ(m_client->body(), "1 uid-1\r\n2 uid-3\r\n.\r\n");
}

TEST_F(SessionCollection, AClientsRsetNeverBringsBackWhatTheFilterDeleted)
{
    serve(3, {{"RSET", "+OK\r\n"}});
    setEvaluationSeam([](const MessageDescriptor& message, int) {
        return readFile(message.path).find("message 2") == std::string::npos;
    });
    EXPECT_EQ(login(), "+OK\r\n");
    EXPECT_EQ(m_client->command("DELE 1"), "+OK deleted\r\n");
    EXPECT_EQ(m_client->command("RSET"), "+OK\r\n");
    EXPECT_EQ(m_client->command("UIDL"), "+OK Unique id list follows\r\n");
    EXPECT_EQ(m_client->body(), "1 uid-1\r\n2 uid-3\r\n.\r\n");
    EXPECT_EQ(m_client->command("QUIT"), "+OK bye\r\n");
    EXPECT_TRUE(m_client->closedByServer());
    // The client's DELE is undone, the filter's is sent again.
    EXPECT_EQ(upstreamAfterLogin(), (std::vector<std::string>{"LIST", "UIDL", "TOP 1 0", "TOP 2 0", "TOP 3 0", "DELE 2",
                                                              "DELE 1", "RSET", "DELE 2", "QUIT"}));
}

TEST_F(SessionCollection, WithoutTopWholeMessagesAreSpooled)
{
    // Of other lengths, the second the longest: the third and fourth are
    // spooled over what it left in the scratch spool, and keep none of it.
    const std::string long2 = header(2) + std::string(5000, 'b') + "\r\n.\r\n";
    serve(4, {{"TOP 1 0", "-ERR no TOP here\r\n"}, {"RETR 2", "+OK\r\n" + long2}});
    EXPECT_EQ(login(), "+OK\r\n");
    EXPECT_EQ(upstreamAfterLogin(),
              (std::vector<std::string>{"LIST", "UIDL", "TOP 1 0", "RETR 1", "RETR 2", "RETR 3", "RETR 4"}));
    // Served from the spool, dot-stuffing and all.
    for (int n = 1; n <= 4; ++n) {
        const std::string text = n == 2 ? long2 : whole(n);
        EXPECT_EQ(m_client->command("RETR " + std::to_string(n)), "+OK " + std::to_string(text.size()) + " octets\r\n");
        EXPECT_EQ(m_client->body(), text) << n;
    }
    EXPECT_EQ(upstreamAfterLogin().size(), 7u) << "nothing fetched again";
    EXPECT_EQ(m_client->command("QUIT"), "+OK bye\r\n");
    EXPECT_TRUE(m_client->closedByServer());
    m_client.reset();
    // Whole messages share the collection's pack, as headers do: no file
    // of their own.
    const auto lines = splitLines(readFile(accountFile()));
    ASSERT_EQ(lines.size(), 4u);
    const std::vector<std::string> packs = stateFiles("hdr");
    ASSERT_EQ(packs.size(), 1u);
    std::string packed;
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].back(), '0') << "whole messages: " << lines[i];
        const std::string field = fieldOf(lines[i]);
        EXPECT_EQ("hdr" + field.substr(0, field.find(':')) + ".pack", packs[0]) << lines[i];
        packed += i == 1 ? long2 : whole(int(i) + 1);
    }
    EXPECT_EQ(readFile(programContext().dataRoot + "/state/" + packs[0]), packed);
    EXPECT_EQ(stateFiles("msg"), std::vector<std::string>{}) << "no spool file of its own, no scratch file left";
}

TEST_F(SessionCollection, WithoutUidlEverythingIsJudgedAnew)
{
    serve(2, {{"UIDL", "-ERR no UIDL\r\n"}});
    EXPECT_EQ(login(), "+OK\r\n");
    EXPECT_EQ(m_client->command("UIDL"), "-ERR Unknown command\r\n");
    m_client->command("QUIT");
    for (const auto& line : splitLines(readFile(accountFile())))
        EXPECT_EQ(line[0], ' ') << "an empty uid: " << line;
}

TEST_F(SessionCollection, AmbiguousUidsAreNotTrusted)
{
    serve(2, {{"UIDL", "+OK\r\n1 same\r\n2 same\r\n.\r\n"}});
    writeFile(accountFile(), "same 000bb 1\n");
    writeFile(programContext().dataRoot + "/state/msg000bb.msg", header(2) + ".\r\n");
    EXPECT_EQ(login(), "+OK\r\n");
    EXPECT_EQ(upstreamAfterLogin(), (std::vector<std::string>{"LIST", "UIDL", "TOP 1 0", "TOP 2 0"}));
    EXPECT_EQ(m_client->command("TOP 1 0"), "+OK top of message follows.\r\n");
    EXPECT_EQ(m_client->body(), header(1) + ".\r\n") << "message 1 never gets message 2's text";
}

TEST_F(SessionCollection, TheHeadersOfACollectionShareOnePackThatLaterSessionsServe)
{
    // Message 1's header is the longest: each later one is spooled over
    // what it left, and must not keep any of it.
    const std::string long1 = "Subject: message 1\r\nX-Filler: " + std::string(3000, 'f') + "\r\n\r\n";
    serve(3, {{"TOP 1 0", "+OK\r\n" + long1 + ".\r\n"}});
    std::vector<std::string> judged;
    setEvaluationSeam([&](const MessageDescriptor& message, int) {
        judged.push_back(readFile(message.path));
        return true;
    });
    EXPECT_EQ(login(), "+OK\r\n");
    EXPECT_EQ(judged, (std::vector<std::string>{long1 + ".\r\n", header(2) + ".\r\n", header(3) + ".\r\n"}))
        << "the rules see each header alone";
    EXPECT_EQ(m_client->command("TOP 2 0"), "+OK top of message follows.\r\n");
    EXPECT_EQ(m_client->body(), header(2) + ".\r\n");
    EXPECT_EQ(m_client->command("TOP 1 0"), "+OK top of message follows.\r\n");
    EXPECT_EQ(m_client->body(), long1 + ".\r\n");
    EXPECT_EQ(m_client->command("QUIT"), "+OK bye\r\n");
    EXPECT_TRUE(m_client->closedByServer());
    m_client.reset();

    const std::vector<std::string> packs = stateFiles("hdr");
    ASSERT_EQ(packs.size(), 1u);
    EXPECT_EQ(stateFiles("msg"), std::vector<std::string>{}) << "no spool file of its own, no scratch file left";
    const std::string id = packs[0].substr(3, packs[0].size() - 8);
    const auto lines = splitLines(readFile(accountFile()));
    ASSERT_EQ(lines.size(), 3u);
    const std::string texts[] = {long1 + ".\r\n", header(2) + ".\r\n", header(3) + ".\r\n"};
    long offset = 0;
    for (int n = 1; n <= 3; ++n) {
        const std::string& text = texts[n - 1];
        EXPECT_EQ(lines[static_cast<size_t>(n - 1)], "uid-" + std::to_string(n) + " " + id + ":" +
                                                         std::to_string(offset) + ":" + std::to_string(text.size()) +
                                                         " 1");
        offset += static_cast<long>(text.size());
    }
    EXPECT_EQ(readFile(programContext().dataRoot + "/state/" + packs[0]), texts[0] + texts[1] + texts[2]);

    // The next session (the same account, a new connection) fetches
    // nothing and serves the headers from the pack.
    EXPECT_EQ(login(), "+OK\r\n");
    const auto after = m_upstream->received();
    EXPECT_EQ(std::count(after.begin(), after.end(), "TOP 3 0"), 1) << "fetched once, in the first session";
    EXPECT_EQ(m_client->command("TOP 3 0"), "+OK top of message follows.\r\n");
    EXPECT_EQ(m_client->body(), header(3) + ".\r\n");
    EXPECT_EQ(m_client->command("RETR 1"), "+OK\r\n") << "a header is no message: relayed";
    EXPECT_EQ(m_client->body(), whole(1));
}

TEST_F(SessionCollection, APackStaysWhileARecordNamesAnyOfItsTexts)
{
    serve(2);
    const std::string state = programContext().dataRoot + "/state/";
    const std::string h1 = header(1) + ".\r\n", gone = "Subject: gone\r\n\r\n.\r\n";
    const std::string l1 = std::to_string(h1.size()), lg = std::to_string(gone.size());
    // Pack a1 holds only messages the server no longer has; pack a2 holds
    // one of those and message 1, still there.
    writeFile(state + "hdr000a1.pack", gone + gone);
    writeFile(state + "hdr000a2.pack", gone + h1);
    writeFile(accountFile(), "gone-1 000a1:0:" + lg + " 1\ngone-2 000a1:" + lg + ":" + lg + " 1\n" +
                                 "gone-3 000a2:0:" + lg + " 1\nuid-1 000a2:" + lg + ":" + l1 + " 1\n");
    EXPECT_EQ(login(), "+OK\r\n");
    EXPECT_EQ(upstreamAfterLogin(), (std::vector<std::string>{"LIST", "UIDL", "TOP 2 0"}));
    EXPECT_EQ(m_client->command("TOP 1 0"), "+OK top of message follows.\r\n");
    EXPECT_EQ(m_client->body(), h1);
    EXPECT_EQ(m_client->command("QUIT"), "+OK bye\r\n");
    EXPECT_TRUE(m_client->closedByServer());
    m_client.reset();

    EXPECT_FALSE(fs::exists(state + "hdr000a1.pack")) << "no record names its texts";
    EXPECT_EQ(readFile(state + "hdr000a2.pack"), gone + h1) << "uid-1 still names a text of it";
    const auto lines = splitLines(readFile(accountFile()));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "uid-1 000a2:" + lg + ":" + l1 + " 1");
    EXPECT_EQ(lines[1].rfind("uid-2 ", 0), 0u);

    // Once message 1 is deleted, pack a2 goes too.
    EXPECT_EQ(login(), "+OK\r\n");
    EXPECT_EQ(m_client->command("DELE 1"), "+OK deleted\r\n");
    EXPECT_EQ(m_client->command("QUIT"), "+OK bye\r\n");
    EXPECT_TRUE(m_client->closedByServer());
    EXPECT_FALSE(fs::exists(state + "hdr000a2.pack"));
    EXPECT_EQ(stateFiles("hdr").size(), 1u) << "the pack of message 2's header";
}

TEST_F(SessionCollection, ARecordItsPackDoesNotBearOutIsFetchedAgain)
{
    serve(5);
    const std::string state = programContext().dataRoot + "/state/";
    const std::string h1 = header(1) + ".\r\n", h2 = header(2) + ".\r\n";
    writeFile(state + "hdr000c1.pack", h1 + h2);
    const long whole1 = static_cast<long>(h1.size()), both = static_cast<long>((h1 + h2).size());
    writeFile(accountFile(),
              "uid-1 000c1:0:" + std::to_string(both + 10) + " 1\n" +               // past the pack's end
                  "uid-2 000c1:0:" + std::to_string(both) + " 1\n" +                // two texts, not one
                  "uid-3 000c1:0:" + std::to_string(whole1 - 2) + " 1\n" +          // a text cut short
                  "uid-4 000c9:0:" + std::to_string(whole1) + " 1\n" +              // no such pack
                  "uid-5 ../000c1:0:" + std::to_string(whole1) + " 1\n");           // outside the folder
    EXPECT_EQ(login(), "+OK\r\n");
    EXPECT_EQ(upstreamAfterLogin(),
              (std::vector<std::string>{"LIST", "UIDL", "TOP 1 0", "TOP 2 0", "TOP 3 0", "TOP 4 0", "TOP 5 0"}));
    // The sizes the server listed, not those of the records turned down.
    std::string listing;
    for (int n = 1; n <= 5; ++n)
        listing += std::to_string(n) + " " + std::to_string(whole(n).size()) + "\r\n";
    EXPECT_EQ(m_client->command("LIST").rfind("+OK 5 ", 0), 0u);
    EXPECT_EQ(m_client->body(), listing + ".\r\n");
    for (int n = 1; n <= 5; ++n) {
        EXPECT_EQ(m_client->command("TOP " + std::to_string(n) + " 0"), "+OK top of message follows.\r\n") << n;
        EXPECT_EQ(m_client->body(), header(n) + ".\r\n") << n;
    }
}

TEST_F(SessionCollection, ARecordThatDoesNotSayItIsWholeStandsForAHeader)
{
    serve(2);
    const std::string state = programContext().dataRoot + "/state/";
    const std::string h1 = header(1) + ".\r\n", h2 = header(2) + ".\r\n";
    // Damaged records: a pack's text marked whole, a spool without a mark.
    writeFile(state + "hdr000e1.pack", h1);
    writeFile(state + "msg000e2.msg", h2);
    writeFile(accountFile(), "uid-1 000e1:0:" + std::to_string(h1.size()) + " 0\nuid-2 000e2\n");
    EXPECT_EQ(login(), "+OK\r\n");
    EXPECT_EQ(upstreamAfterLogin(), (std::vector<std::string>{"LIST", "UIDL"}));
    for (int n = 1; n <= 2; ++n) {
        EXPECT_EQ(m_client->command("RETR " + std::to_string(n)), "+OK\r\n") << "relayed, never the header alone";
        EXPECT_EQ(m_client->body(), whole(n));
        EXPECT_EQ(m_client->command("TOP " + std::to_string(n) + " 0"), "+OK top of message follows.\r\n");
        EXPECT_EQ(m_client->body(), header(n) + ".\r\n");
    }
}

TEST_F(SessionCollection, WhatTheFilterLeftIsKeptHeadersAndWholeMessagesInOnePack)
{
    serve(4);
    setEvaluationSeam([](const MessageDescriptor& message, int) {
        const std::string text = readFile(message.path);
        if (text.find("message 1") != std::string::npos) {
            // Rewritten the way the filter tags a subject: in place.
            writeFile(message.path, "X-Tagged: yes\r\n" + text);
        } else if (text.find("message 2") != std::string::npos) {
            currentSession()->filter->session()->fetchWholeMessage();
        } else if (text.find("message 3") != std::string::npos) {
            // Replaced the way the virus scanner puts in its cleaned copy:
            // a new file renamed over the spool.
            const std::string cleaned = std::string(message.path) + "_vtmp";
            writeFile(cleaned, "X-Scanned: yes\r\n" + text);
            fs::rename(cleaned, message.path);
        }
        return true;
    });
    EXPECT_EQ(login(), "+OK\r\n");
    // Once the rules have read message 2's body, the next come whole.
    EXPECT_EQ(upstreamAfterLogin(),
              (std::vector<std::string>{"LIST", "UIDL", "TOP 1 0", "TOP 2 0", "RETR 2", "RETR 3", "RETR 4"}));
    EXPECT_EQ(m_client->command("TOP 1 0"), "+OK top of message follows.\r\n");
    EXPECT_EQ(m_client->body(), "X-Tagged: yes\r\n" + header(1) + ".\r\n");
    EXPECT_EQ(m_client->command("RETR 2"), "+OK " + std::to_string(whole(2).size()) + " octets\r\n");
    EXPECT_EQ(m_client->body(), whole(2));
    EXPECT_EQ(m_client->command("TOP 3 0"), "+OK top of message follows.\r\n");
    EXPECT_EQ(m_client->body(), "X-Scanned: yes\r\n" + header(3) + ".\r\n");
    EXPECT_EQ(m_client->command("TOP 4 0"), "+OK top of message follows.\r\n");
    EXPECT_EQ(m_client->body(), header(4) + ".\r\n") << "spooled into the file put in its place";
    EXPECT_EQ(m_client->command("QUIT"), "+OK bye\r\n");
    EXPECT_TRUE(m_client->closedByServer());
    m_client.reset();

    const auto lines = splitLines(readFile(accountFile()));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1].back(), '0') << "whole";
    EXPECT_EQ(stateFiles("msg"), std::vector<std::string>{});
    const std::vector<std::string> packs = stateFiles("hdr");
    ASSERT_EQ(packs.size(), 1u) << "headers and the whole message in one pack";
    EXPECT_EQ(readFile(programContext().dataRoot + "/state/" + packs[0]),
              "X-Tagged: yes\r\n" + header(1) + ".\r\n" + whole(2) + "X-Scanned: yes\r\n" + whole(3) + whole(4));
}

TEST_F(SessionCollection, RulesThatReadABodyGetTheNextSmallMessagesWhole)
{
    // Message 4 is listed larger than the rules judge (MaxSpamSize): it
    // comes header first, and as the rules do not ask for its body, so
    // does message 5.
    std::string list = "+OK\r\n";
    for (int n = 1; n <= 5; ++n)
        list += std::to_string(n) + " " + std::to_string(n == 4 ? filterSettings().sizeLimit + 1 : 100) + "\r\n";
    serve(5, {{"LIST", list + ".\r\n"}});
    std::vector<std::string> judged;
    setEvaluationSeam([&](const MessageDescriptor& message, int) {
        const std::string text = readFile(message.path);
        judged.push_back(text);
        if (text.find("message 2") != std::string::npos)
            currentSession()->filter->session()->fetchWholeMessage();
        return true;
    });
    EXPECT_EQ(login(), "+OK\r\n");
    EXPECT_EQ(upstreamAfterLogin(), (std::vector<std::string>{"LIST", "UIDL", "TOP 1 0", "TOP 2 0", "RETR 2", "RETR 3",
                                                              "TOP 4 0", "TOP 5 0"}));
    EXPECT_EQ(judged, (std::vector<std::string>{header(1) + ".\r\n", header(2) + ".\r\n", whole(3),
                                                header(4) + ".\r\n", header(5) + ".\r\n"}));
    EXPECT_EQ(m_client->command("RETR 3"), "+OK " + std::to_string(whole(3).size()) + " octets\r\n");
    EXPECT_EQ(m_client->body(), whole(3));
    EXPECT_EQ(upstreamAfterLogin().size(), 8u) << "served from the spool";
}

TEST_F(SessionCollection, WhileAWholeMessageIsJudgedTheNextIsAlreadyAsked)
{
    // No TOP: every message is spooled whole.  Message 1 is spam; the time
    // runs out while message 2 is judged, with RETR 3 already sent: its
    // reply is read away before DELE 1, which must get a reply of its own.
    setMaxCollectionTime(2);
    serve(3, {{"TOP 1 0", "-ERR no TOP\r\n"}, {"DELE 1", "+OK message 1 deleted\r\n"}}, {{"RETR 2", 3000}});
    std::vector<std::vector<std::string>> askedWhileJudged;
    setEvaluationSeam([&](const MessageDescriptor& message, int) {
        const std::string text = readFile(message.path);
        const std::string next = text.find("message 1") != std::string::npos ? "RETR 2" : "RETR 3";
        for (int i = 0; i < 400; ++i) {
            const auto sent = upstreamAfterLogin();
            if (std::find(sent.begin(), sent.end(), next) != sent.end())
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        askedWhileJudged.push_back(upstreamAfterLogin());
        return text.find("message 1") == std::string::npos;
    });
    EXPECT_EQ(login(), "+OK\r\n");
    ASSERT_EQ(askedWhileJudged.size(), 2u);
    EXPECT_EQ(askedWhileJudged[0], (std::vector<std::string>{"LIST", "UIDL", "TOP 1 0", "RETR 1", "RETR 2"}));
    EXPECT_EQ(askedWhileJudged[1], (std::vector<std::string>{"LIST", "UIDL", "TOP 1 0", "RETR 1", "RETR 2", "RETR 3"}));
    EXPECT_EQ(upstreamAfterLogin(),
              (std::vector<std::string>{"LIST", "UIDL", "TOP 1 0", "RETR 1", "RETR 2", "RETR 3", "DELE 1"}));
    EXPECT_EQ(count(logText(), "The server would not delete message 1"), 0u);
    // Message 1 is gone, message 2 is served from its spool; message 3 was
    // not reached and waits on the server; the timeout notice follows.
    EXPECT_EQ(m_client->command("STAT").substr(0, 6), "+OK 2 ");
    EXPECT_EQ(m_client->command("RETR 1").substr(0, 3), "+OK");
    EXPECT_EQ(m_client->body(), whole(2));
    EXPECT_EQ(m_client->command("RETR 2").substr(0, 3), "+OK");
    EXPECT_NE(m_client->body().find("Subject: Quillfence Pro collection timeout notification\r\n"), std::string::npos);
    EXPECT_EQ(m_client->command("QUIT"), "+OK bye\r\n");
    EXPECT_EQ(upstreamAfterLogin(),
              (std::vector<std::string>{"LIST", "UIDL", "TOP 1 0", "RETR 1", "RETR 2", "RETR 3", "DELE 1", "QUIT"}));
}

TEST_F(SessionCollection, AMessageTooLargeForThePackKeepsAFileOfItsOwn)
{
    // Whole messages (no TOP): message 2 is larger than a pack's record
    // may be; message 3 comes after it, into a new scratch spool.
    const std::string large2 = header(2) + std::string(SpoolField::kMaxSlice, 'x') + "\r\n.\r\n";
    serve(3, {{"TOP 1 0", "-ERR no TOP here\r\n"}, {"RETR 2", "+OK\r\n" + large2}});
    EXPECT_EQ(login(), "+OK\r\n");
    EXPECT_EQ(m_client->command("RETR 2"), "+OK " + std::to_string(large2.size()) + " octets\r\n");
    EXPECT_EQ(m_client->body(), large2);
    EXPECT_EQ(upstreamAfterLogin(), (std::vector<std::string>{"LIST", "UIDL", "TOP 1 0", "RETR 1", "RETR 2", "RETR 3"}))
        << "served from the spool";
    EXPECT_EQ(m_client->command("QUIT"), "+OK bye\r\n");
    EXPECT_TRUE(m_client->closedByServer());
    m_client.reset();

    const auto lines = splitLines(readFile(accountFile()));
    ASSERT_EQ(lines.size(), 3u);
    const std::string own = fieldOf(lines[1]);
    EXPECT_EQ(own.find(':'), std::string::npos) << lines[1];
    EXPECT_EQ(stateFiles("msg"), std::vector<std::string>{"msg" + own + ".msg"}) << "no scratch spool left";
    EXPECT_EQ(readFile(programContext().dataRoot + "/state/msg" + own + ".msg"), large2);
    const std::vector<std::string> packs = stateFiles("hdr");
    ASSERT_EQ(packs.size(), 1u);
    EXPECT_EQ(readFile(programContext().dataRoot + "/state/" + packs[0]), whole(1) + whole(3));
}

TEST_F(SessionCollection, PendingMessagesComeLastAndGoAtQuit)
{
    serve(1);
    fs::create_directories(programContext().dataRoot + "/pending");
    const std::string pending = programContext().dataRoot + "/pending/x.msg";
    writeFile(pending, "Subject: pending\r\n\r\nhello\r\n.\r\n");
    EXPECT_EQ(login(), "+OK\r\n");
    EXPECT_EQ(m_client->command("LIST 2"), "+OK 2 30\r\n");
    EXPECT_EQ(m_client->command("RETR 2"), "+OK 30 octets\r\n");
    EXPECT_EQ(m_client->body(), "Subject: pending\r\n\r\nhello\r\n.\r\n");
    EXPECT_EQ(m_client->command("UIDL 2").substr(0, 9), "+OK 2 QF0");
    EXPECT_EQ(m_client->command("QUIT"), "+OK bye\r\n");
    EXPECT_TRUE(m_client->closedByServer());
    EXPECT_FALSE(fs::exists(pending));
}

// A pending file goes only when the client has it and the server has
// confirmed the session's QUIT; in every other case the next session gets
// it again.
TEST_F(SessionCollection, APendingMessageStaysUntilTheClientHasItAndQuitIsConfirmed)
{
    struct Case {
        const char* name;
        std::vector<const char*> commands;   // after PASS, before QUIT
        const char* quitReply;
        bool removed;
    };
    const Case cases[] = {
        {"listed, not retrieved", {"STAT"}, "+OK bye\r\n", false},
        {"retrieved, QUIT refused", {"RETR 2"}, "-ERR cannot update\r\n", false},
        {"a TOP of the header only", {"TOP 2 0"}, "+OK bye\r\n", false},
        {"a TOP of every line", {"TOP 2 99999999"}, "+OK bye\r\n", true},
        {"retrieved", {"RETR 2"}, "+OK bye\r\n", true},
        {"deleted unread", {"DELE 2"}, "+OK bye\r\n", true},
    };
    const std::string text = "Subject: pending\r\n\r\nhello\r\nworld\r\n.\r\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        serve(1, {{"QUIT", c.quitReply}});
        fs::create_directories(programContext().dataRoot + "/pending");
        const std::string pending = programContext().dataRoot + "/pending/x.msg";
        writeFile(pending, text);
        EXPECT_EQ(login(), "+OK\r\n");
        for (const char* command : c.commands) {
            const std::string reply = m_client->command(command);
            EXPECT_EQ(reply.substr(0, 3), "+OK") << command;
            if (std::string(command) != "STAT" && std::string(command) != "DELE 2")
                m_client->body();
        }
        EXPECT_EQ(m_client->command("QUIT"), c.quitReply);
        EXPECT_TRUE(m_client->closedByServer());
        m_client.reset();
        SessionList::waitUntilEmpty(std::chrono::milliseconds(5000));
        EXPECT_EQ(fs::exists(pending), !c.removed);
        if (!c.removed) {
            EXPECT_EQ(readFile(pending), text) << "unchanged";
        }
        fs::remove_all(programContext().dataRoot + "/pending");
    }
}

TEST_F(SessionCollection, TimeOutLeavesANoticeAndTheRestOnTheServer)
{
    // Whole seconds are counted: 1 s in, the limit of 2 s is not passed;
    // 3 s in, it is.
    setMaxCollectionTime(2);
    serve(5, {}, {{"TOP 1 0", 1000}, {"TOP 2 0", 2000}});
    EXPECT_EQ(login(), "+OK\r\n");
    EXPECT_EQ(upstreamAfterLogin(), (std::vector<std::string>{"LIST", "UIDL", "TOP 1 0", "TOP 2 0"}));
    EXPECT_EQ(m_client->command("STAT").substr(0, 6), "+OK 3 ");
    EXPECT_EQ(m_client->command("RETR 3").substr(0, 4), "+OK ");
    const std::string notice = m_client->body();
    EXPECT_NE(notice.find("Subject: Quillfence Pro collection timeout notification\r\n"), std::string::npos);
    EXPECT_NE(notice.find("Quillfence Pro processed 3 of 5. The remaining"), std::string::npos) << notice;
    EXPECT_EQ(m_client->command("LIST 3"), "+OK 3 " + std::to_string(notice.size()) + "\r\n");
    EXPECT_EQ(m_client->command("UIDL 3").substr(0, 9), "+OK 3 QF0");
}

TEST_F(SessionCollection, AFailedCollectionKeepsTheStateFile)
{
    serve(2, {{"LIST", "-ERR mailbox locked\r\n"}});
    writeFile(accountFile(), "uid-1 000cc 1\n");
    EXPECT_EQ(login(), "+OK\r\n");
    EXPECT_EQ(m_client->command("STAT"), "-ERR Mailbox anaylsis failed\r\n");
    // The server's stream is not trusted again: no QUIT reaches it.
    EXPECT_EQ(m_client->command("QUIT"), "+OK Session closed.\r\n");
    EXPECT_TRUE(m_client->closedByServer());
    EXPECT_EQ(readFile(accountFile()), "uid-1 000cc 1\n");
    EXPECT_EQ(upstreamAfterLogin(), std::vector<std::string>{"LIST"});
}

TEST_F(SessionCollection, AConnectionDroppedInATopDeletesNothing)
{
    serve(3, {{"TOP 2 0", FakeUpstream::kDrop}});
    writeFile(accountFile(), "old-uid 000dd 1\n");
    EXPECT_EQ(login(), "+OK\r\n");
    EXPECT_EQ(m_client->command("STAT"), "-ERR Mailbox anaylsis failed\r\n");
    for (const auto& command : m_upstream->received())
        EXPECT_NE(command.rfind("DELE", 0), 0u) << command;
    EXPECT_EQ(readFile(accountFile()), "old-uid 000dd 1\n");
    for (const auto& entry : fs::directory_iterator(programContext().dataRoot + "/state"))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

// A new spool is written in place: a reply cut short (after more than one
// run of spooled lines reached the file) leaves no spool file of it behind;
// the only spool left is the complete one of the message before.
TEST_F(SessionCollection, AReplyCutShortLeavesNoSpool)
{
    serve(3);
    m_upstream->sendWith("TOP 2 0", [](int fd, const std::string&) {
        std::string half = "+OK\r\nSubject: message 2\r\n";
        while (half.size() < 3 * Collection::kSpoolBuffer)
            half += "X-Filler: a header line long enough to fill the spool buffer a few times\r\n";
        sendAll(fd, half + "From: a");
        ::shutdown(fd, SHUT_RDWR);
    });
    writeFile(accountFile(), "old-uid 000dd 1\n");
    EXPECT_EQ(login(), "+OK\r\n");
    EXPECT_EQ(m_client->command("STAT"), "-ERR Mailbox anaylsis failed\r\n");
    m_client->command("QUIT");
    EXPECT_EQ(readFile(accountFile()), "old-uid 000dd 1\n");
    for (const auto& entry : fs::directory_iterator(programContext().dataRoot + "/state"))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
    EXPECT_EQ(stateFiles("msg"), std::vector<std::string>{}) << "no scratch spool left";
    // The pack holds the header before the cut one, and nothing of that.
    const std::vector<std::string> packs = stateFiles("hdr");
    ASSERT_EQ(packs.size(), 1u);
    EXPECT_EQ(readFile(programContext().dataRoot + "/state/" + packs[0]), header(1) + ".\r\n");
}

TEST_F(SessionCollection, MalformedListingFailsTheCollection)
{
    serve(2, {{"LIST", "+OK\r\n1 100\r\nnot numbers\r\n.\r\n"}});
    EXPECT_EQ(login(), "+OK\r\n");
    EXPECT_EQ(m_client->command("NOOP"), "-ERR Mailbox anaylsis failed\r\n");
}

} // namespace

namespace {

// The server drops the connection at one step of the collection (or of a
// relay afterwards): the state file stays as it was, no message is
// deleted upstream, and no half-written spool file is left behind.
class DroppedConnection : public SessionCollection, public ::testing::WithParamInterface<const char*>
{};

TEST_P(DroppedConnection, LosesNothing)
{
    const std::string step = GetParam();
    serve(3, {{step, FakeUpstream::kDrop}});
    writeFile(accountFile(), "old-uid 000ee 1\n");
    login();
    // Whatever the client gets now, it may try to read and to quit.
    m_client->command("STAT");
    if (m_client->command("RETR 2").rfind("+OK", 0) == 0)
        m_client->body();
    m_client->command("QUIT");
    for (const auto& command : m_upstream->received())
        EXPECT_NE(command.rfind("DELE", 0), 0u) << command;
    EXPECT_EQ(readFile(accountFile()), "old-uid 000ee 1\n");
    for (const auto& entry : fs::directory_iterator(programContext().dataRoot + "/state"))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

INSTANTIATE_TEST_SUITE_P(AtEveryStep, DroppedConnection,
                         ::testing::Values("PASS secret", "LIST", "UIDL", "TOP 1 0", "TOP 3 0", "RETR 2",
                                           "QUIT"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

} // namespace

namespace {

TEST_F(SessionCollection, ReportEntriesBecomeTheCollectionReport)
{
    serve(2);
    // What the band actions will do: write a report entry for a message.
    setEvaluationSeam([](const MessageDescriptor& message, int) {
        CSession* session = currentSession();
        if (session && readFile(message.path).find("message 2") != std::string::npos)
            session->filter->writeReportEntry("Message 2 was rated 7.5\nSubject: message 2\n");
        return true;
    });
    EXPECT_EQ(login(), "+OK\r\n");
    EXPECT_EQ(m_client->command("STAT").substr(0, 6), "+OK 3 ");
    EXPECT_EQ(m_client->command("RETR 3").substr(0, 4), "+OK ");
    const std::string report = m_client->body();
    EXPECT_NE(report.find("Subject: Quillfence Pro Collection Report\r\n"), std::string::npos) << report;
    EXPECT_NE(report.find("\r\n\r\nMessage 2 was rated 7.5\r\nSubject: message 2\r\n.\r\n"), std::string::npos)
        << report;
    EXPECT_EQ(m_client->command("UIDL 3").substr(0, 9), "+OK 3 QF0");
}

TEST_F(SessionCollection, NoReportWithoutEntriesOrWhenSwitchedOff)
{
    serve(1);
    EXPECT_EQ(login(), "+OK\r\n");
    EXPECT_EQ(m_client->command("STAT").substr(0, 6), "+OK 1 ") << "no entries, no report";
    m_client->command("QUIT");
    m_client.reset();
    SessionList::waitUntilEmpty(std::chrono::milliseconds(5000));

    CRegistry reg;
    reg.CreateKey(eRegUser, "quilfpro", "/", true);
    reg.SetValue("CollectionReport", false);
    serve(1);
    setEvaluationSeam([](const MessageDescriptor&, int) {
        currentSession()->filter->writeReportEntry("an entry\n");
        return true;
    });
    EXPECT_EQ(login(), "+OK\r\n");
    EXPECT_EQ(m_client->command("STAT").substr(0, 6), "+OK 1 ") << "CollectionReport off";
    reg.SetValue("CollectionReport", true);
}

} // namespace

namespace {

// The proxy's end of the connection whose server end is fd: the socket of
// this process whose own address is fd's peer.
int proxyEndOf(int fd)
{
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0)
        return -1;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        const int candidate = std::atoi(entry.path().filename().c_str());
        sockaddr_storage own{};
        socklen_t ownLength = sizeof own;
        if (candidate != fd && ::getsockname(candidate, reinterpret_cast<sockaddr*>(&own), &ownLength) == 0 &&
            ownLength == peerLength && std::memcmp(&own, &peer, peerLength) == 0)
            return candidate;
    }
    return -1;
}

// Sends a reply in two pieces, split at offset, the second only once the
// proxy has taken the first from its socket: the proxy's reads end exactly
// there.
FakeUpstream::Sender splitAt(size_t offset)
{
    return [offset](int fd, const std::string& reply) {
        const int proxyFd = proxyEndOf(fd);
        if (proxyFd < 0)
            ADD_FAILURE() << "the proxy's end of the connection is not found: the split would be no split";
        sendAll(fd, reply.substr(0, offset));
        for (int i = 0; i < 5000; ++i) {
            int queued = 0;
            if (::ioctl(proxyFd, FIONREAD, &queued) == 0 && queued == 0)
                break;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        sendAll(fd, reply.substr(offset));
    };
}

TEST_F(SessionCollection, DotLinesSurviveEveryReadBoundary)
{
    // whole(n) holds a stuffed "..leading dot" line and ends with ".".
    const std::string reply = "+OK\r\n" + whole(2);
    for (bool spooled : {false, true}) {
        for (size_t offset = 1; offset < reply.size(); ++offset) {
            SCOPED_TRACE((spooled ? "spooled whole, split at " : "relayed, split at ") + std::to_string(offset));
            // Spooled: TOP is refused and RETR fills the spool during the
            // collection.  Relayed: headers are spooled and the client's
            // RETR is relayed.
            serve(2, spooled ? std::map<std::string, std::string>{{"TOP 1 0", "-ERR no TOP\r\n"}}
                             : std::map<std::string, std::string>{});
            m_upstream->sendWith("RETR 2", splitAt(offset));
            // A port used before would name an earlier iteration's state file.
            fs::remove(accountFile());
            ASSERT_EQ(login(), "+OK\r\n");
            ASSERT_EQ(m_client->command("RETR 2").substr(0, 3), "+OK");
            ASSERT_EQ(m_client->body(), whole(2));
            ASSERT_EQ(m_client->command("QUIT"), "+OK bye\r\n");
            m_client.reset();
            SessionList::waitUntilEmpty(std::chrono::milliseconds(1000));
        }
    }
}

} // namespace

namespace {

// These two wait out the real 45-second intervals.
TEST_F(SessionCollection, ALongCollectionKeepsTheClientWithDots)
{
    serve(2, {}, {{"TOP 2 0", 46000}});
    EXPECT_EQ(login(60000), "+OK.\r\n") << "one dot per 45 seconds on the unfinished +OK line";
    EXPECT_EQ(m_client->command("STAT").substr(0, 6), "+OK 2 ");
}

TEST_F(SessionCollection, AnIdleSessionKeepsTheServerWithNoop)
{
    serve(1, {{"NOOP", "+OK\r\n"}});
    EXPECT_EQ(login(), "+OK\r\n");
    m_client->command("NOOP");
    std::this_thread::sleep_for(std::chrono::seconds(46));
    // The next command is followed by the upstream keep-alive.
    EXPECT_EQ(m_client->command("NOOP"), "+OK\r\n");
    EXPECT_EQ(m_client->command("QUIT"), "+OK bye\r\n");
    const auto sent = upstreamAfterLogin();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "NOOP"), 1) << "after 45 s of silence only";
}

} // namespace
