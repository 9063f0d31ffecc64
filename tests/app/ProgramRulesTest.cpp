// The rules inside the running program: the shipped include binds every
// rule function of the program, a rule rejects a message, and the message
// is deleted on the server and absent from the client's mailbox.
#include "MailboxServer.h"
#include "ProxyProgram.h"

#include <signal.h>

#include <algorithm>
#include <memory>

namespace {

std::string message(const std::string& subject, const std::string& body)
{
    return "From: Sender <sender@example.org>\r\nTo: me@example.net\r\nSubject: " + subject +
           "\r\nDate: Sat, 05 Jul 2003 09:51:33 +0100\r\n\r\n" + body + "\r\n";
}

// One rule that calls a rule function of every shape: no result, number,
// truth and text results; text, number and mixed arguments.
const char* const kEveryShape =
    "#rule \"Every shape\" 100\n"
    "string subject = HEADERFIELDVALUE(\"Subject\")\n"
    "integer handle = FILEOPEN(\"/dev/null\", \"r\", 0)\n"
    "SETUSERMACRO(1, \"tagged\")\n"
    "if \"viagra\" in subject and MESSAGESIZE() > 0 and HEADERFIELDEXISTS(\"user1\") then\n"
    "    if ISVALIDDATE(HEADERFIELDVALUE(\"Date\")) and GETFIRSTADDRESS(\"From\") = \"sender@example.org\" then\n"
    "        if WILDCARDMATCHBODY(\"*cheap*\") and FILECLOSE(handle) = 1 then\n"
    "            ADDDECISIONDETAILS(\"size \" + str(MESSAGESIZE()) + \", rating \" + str(GETRULERATING()))\n"
    "            ISSPAM()\n"
    "        endif\n"
    "    endif\n"
    "endif\n"
    "#endrule\n";

TEST(ProgramRules, ARuleRejectsAMessageThroughEveryKindOfRuleFunction)
{
    MailboxServer server({message("Hello", "first"), message("cheap viagra", "cheap cheap"),
                          message("viagra in subject only", "nothing here"), message("Bye", "last")},
                         0);
    ProxyProgram program;
    program.setting("ALLOWTHROUGH5", "0");
    std::filesystem::create_directories(program.dataRoot() + "/rules");
    writeFile(program.dataRoot() + "/rules/user.sfr", kEveryShape);
    auto process = program.start();

    PopClient client(program.port(), 20000);
    EXPECT_EQ(client.line(), "+OK Quillfence\r\n");
    client.command("USER me@127.0.0.1:" + std::to_string(server.port()));
    EXPECT_EQ(client.command("PASS secret"), "+OK\r\n");
    const auto sent = server.commands();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "DELE 2"), 1) << "deleted on the server during the collection";
    EXPECT_EQ(std::count_if(sent.begin(), sent.end(), [](const std::string& c) { return c.rfind("DELE", 0) == 0; }),
              1);
    EXPECT_EQ(client.command("STAT").substr(0, 6), "+OK 4 ") << "three messages and the collection report";
    EXPECT_EQ(client.command("UIDL"), "+OK Unique id list follows\r\n");
    const std::string uids = client.body();
    EXPECT_EQ(uids.substr(0, 27), "1 uid-1\r\n2 uid-3\r\n3 uid-4\r\n") << "numbered without a gap";
    EXPECT_EQ(client.command("RETR 4").substr(0, 4), "+OK ");
    const std::string report = client.body();
    EXPECT_NE(report.find("Subject: Quillfence Pro Collection Report\r\n"), std::string::npos) << report;
    EXPECT_NE(report.find("Subject: cheap viagra\r\n=================\r\nSPAM - rating 10.0\r\n"),
              std::string::npos) << report;
    EXPECT_NE(report.find("\tsize "), std::string::npos) << report;
    EXPECT_EQ(client.command("QUIT").substr(0, 3), "+OK");
    EXPECT_TRUE(client.closedByServer());
    EXPECT_TRUE(program.logShows("Rule 'Every shape' detected spam from Sender <sender@example.org>, rating total 10.0"));
    EXPECT_EQ(program.stop(*process), 0);
    const std::string log = program.log();
    EXPECT_EQ(log.find("not initialised"), std::string::npos) << log;
    EXPECT_EQ(log.find("failed:"), std::string::npos) << log;
}

// Each connection reads the rules again; a session already running keeps
// the rules it began with.
TEST(ProgramRules, RulesAreReadAgainForEachConnectionAndARunningSessionKeepsItsOwn)
{
    MailboxServer server({message("Hello", "first"), message("cheap viagra", "cheap")}, 0);
    ProxyProgram program;
    program.setting("ALLOWTHROUGH5", "0");
    auto process = program.start();

    PopClient first(program.port(), 20000);
    EXPECT_EQ(first.line(), "+OK Quillfence\r\n");
    writeFile(program.dataRoot() + "/rules/user.sfr",
              "#rule \"Viagra\" 100\nif \"viagra\" in HEADERFIELDVALUE(\"Subject\") then ISSPAM()\n#endrule\n");
    PopClient second(program.port(), 20000);
    EXPECT_EQ(second.line(), "+OK Quillfence\r\n") << "greeted while the first session runs";
    second.command("USER me@127.0.0.1:" + std::to_string(server.port()));
    EXPECT_EQ(second.command("PASS secret"), "+OK\r\n");
    auto sent = server.commands();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "DELE 2"), 1) << "judged by the rule written meanwhile";
    EXPECT_EQ(second.command("QUIT").substr(0, 3), "+OK");

    first.command("USER me@127.0.0.1:" + std::to_string(server.port()));
    EXPECT_EQ(first.command("PASS secret"), "+OK\r\n");
    sent = server.commands();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "DELE 2"), 1) << "the first session judges by the rules it began with";
    EXPECT_EQ(first.command("QUIT").substr(0, 3), "+OK");
    EXPECT_EQ(program.stop(*process), 0);
}

// A program whose rule holds back "viagra" messages into band 5's archive.
void holdBackViagra(ProxyProgram& program, const std::string& archive)
{
    program.setting("ALLOWTHROUGH5", "0");
    program.setting("ARCHIVE5", "1");
    program.setting("ARCHIVEPATH5", "\"" + archive + "\"");
    std::filesystem::create_directories(program.dataRoot() + "/rules");
    writeFile(program.dataRoot() + "/rules/user.sfr",
              "#rule \"Viagra\" 100\nif \"viagra\" in HEADERFIELDVALUE(\"Subject\") then ISSPAM()\n#endrule\n");
}

// Killed the moment the server has confirmed QUIT (so the rejected message
// is gone from the server): its archive copy must still reach the day file,
// once, when the account's next session has the server's listing.
TEST(ProgramRules, AnArchiveCopyOutlivesAKillRightAfterTheServerConfirmedQuit)
{
    MailboxServer server({message("Hello", "first"), message("cheap viagra", "archived body"), message("Bye", "x")}, 0);
    server.deleteAtQuit();
    ProxyProgram program;
    const std::string archive = program.folder() / "archive5";
    holdBackViagra(program, archive);
    auto process = program.start();
    {
        PopClient client(program.port(), 20000);
        EXPECT_EQ(client.line(), "+OK Quillfence\r\n");
        client.command("USER me@127.0.0.1:" + std::to_string(server.port()));
        EXPECT_EQ(client.command("PASS secret"), "+OK\r\n");
        client.send("QUIT\r\n");
        ASSERT_TRUE(server.waitForCommand("QUIT", 0, 10000));
        process->kill(SIGKILL);
        process->wait();
    }
    EXPECT_EQ(server.uids(), (std::vector<std::string>{"uid-1", "uid-3"})) << "the server deleted it";
    process = program.start();
    for (const char* account : {"other", "me"}) {
        // Another account's session leaves the copy alone; the account's
        // own merges it.
        PopClient next(program.port(), 20000);
        EXPECT_EQ(next.line(), "+OK Quillfence\r\n");
        next.command(std::string("USER ") + account + "@127.0.0.1:" + std::to_string(server.port()));
        next.command("PASS secret");
        EXPECT_EQ(next.command("QUIT").substr(0, 3), "+OK");
    }
    EXPECT_EQ(program.stop(*process), 0);
    std::string days;
    for (const auto& entry : std::filesystem::directory_iterator(archive)) {
        const std::string name = entry.path().filename().string();
        EXPECT_EQ(name.find(".tmp"), std::string::npos) << "no staging file left: " << name;
        days += readFile(entry.path());
    }
    size_t copies = 0;
    for (size_t at = 0; (at = days.find("archived body", at)) != std::string::npos; ++at)
        ++copies;
    EXPECT_EQ(copies, 1u) << "the copy is in a day file, once";
    EXPECT_NE(days.find("X-Quillfence-Pro: Rule 'Viagra' detected spam"), std::string::npos);
}

// A server that gives the header (TOP) but refuses RETR: a held-back
// message cannot be archived whole, so it is not deleted; it is delivered,
// marked, and the collection report says why.
TEST(ProgramRules, AMessageTheServerWillNotGiveWholeIsNotDeleted)
{
    MailboxServer server({message("Hello", "first"), message("cheap viagra", "held body")}, 0);
    server.refuseRetr();
    server.deleteAtQuit();
    ProxyProgram program;
    program.setting("ALLOWTHROUGH5", "0");
    program.setting("ARCHIVE5", "1");
    program.setting("SUBJECT5", "1");
    std::filesystem::create_directories(program.dataRoot() + "/rules");
    writeFile(program.dataRoot() + "/rules/user.sfr",
              "#rule \"Viagra\" 100\nif \"viagra\" in HEADERFIELDVALUE(\"Subject\") then ISSPAM()\n#endrule\n");
    auto process = program.start();
    {
        PopClient client(program.port(), 20000);
        EXPECT_EQ(client.line(), "+OK Quillfence\r\n");
        client.command("USER me@127.0.0.1:" + std::to_string(server.port()));
        EXPECT_EQ(client.command("PASS secret"), "+OK\r\n");
        EXPECT_EQ(client.command("STAT").substr(0, 6), "+OK 3 ") << "both messages and the report";
        EXPECT_EQ(client.command("TOP 2 0").substr(0, 3), "+OK");
        EXPECT_NE(client.body().find("Subject: SPAM - cheap viagra\r\n"), std::string::npos) << "marked";
        EXPECT_EQ(client.command("RETR 3").substr(0, 3), "+OK");
        const std::string report = client.body();
        EXPECT_NE(report.find("Not deleted: no whole archive copy could be saved"), std::string::npos) << report;
        EXPECT_NE(report.find("Subject: SPAM - cheap viagra"), std::string::npos) << report;
        EXPECT_EQ(client.command("QUIT").substr(0, 3), "+OK");
    }
    EXPECT_EQ(program.stop(*process), 0);
    const auto sent = server.commands();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "RETR 2"), 1) << "the whole message was asked for";
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "DELE 2"), 0);
    EXPECT_EQ(server.uids(), (std::vector<std::string>{"uid-1", "uid-2"})) << "nothing deleted";
    const std::string archive = program.dataRoot() + "/archive/rating5";
    EXPECT_TRUE(!std::filesystem::exists(archive) || std::filesystem::is_empty(archive)) << "no header-only copy";
}

// The day files of folder, read together; how often text occurs in them.
size_t copiesIn(const std::string& folder, const std::string& text)
{
    std::string days;
    if (std::filesystem::exists(folder))
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            if (entry.path().extension() == ".txt")
                days += readFile(entry.path());
    size_t copies = 0;
    for (size_t at = 0; (at = days.find(text, at)) != std::string::npos; ++at)
        ++copies;
    return copies;
}

// One session that logs in, reads the mailbox's size and quits; the QUIT
// reply.
std::string collectAndQuit(ProxyProgram& program, MailboxServer& server)
{
    PopClient client(program.port(), 20000);
    EXPECT_EQ(client.line(), "+OK Quillfence\r\n");
    client.command("USER me@127.0.0.1:" + std::to_string(server.port()));
    EXPECT_EQ(client.command("PASS secret"), "+OK\r\n");
    client.command("STAT");
    return client.command("QUIT");
}

// "-ERR" to QUIT may come after the server deleted some messages: their
// copies are not thrown away with the rest, but merged by the next session,
// which sees what is gone.
TEST(ProgramRules, ACopyOfAMessageDeletedAtAnUnconfirmedQuitIsMergedByTheNextSession)
{
    MailboxServer server({message("Hello", "first"), message("cheap viagra", "held body")}, 0);
    server.deleteAtQuit();
    server.quitReply("-ERR some deleted messages not removed\r\n");
    ProxyProgram program;
    const std::string archive = program.folder() / "archive5";
    holdBackViagra(program, archive);
    auto process = program.start();
    EXPECT_EQ(collectAndQuit(program, server), "-ERR some deleted messages not removed\r\n");
    EXPECT_EQ(server.uids(), (std::vector<std::string>{"uid-1"})) << "deleted none the less";
    EXPECT_EQ(copiesIn(archive, "held body"), 0u) << "not merged after an unconfirmed QUIT";
    server.quitReply("+OK bye\r\n");
    EXPECT_EQ(collectAndQuit(program, server).substr(0, 3), "+OK");
    EXPECT_EQ(program.stop(*process), 0);
    EXPECT_EQ(copiesIn(archive, "held body"), 1u) << "the only copy, merged once";
}

// A server that will not delete: the message stays, unrecorded, its copy
// is left out at QUIT; the next session judges, deletes and archives it,
// once.
TEST(ProgramRules, AMessageTheServerWouldNotDeleteIsArchivedOnceWhenItIsDeleted)
{
    MailboxServer server({message("Hello", "first"), message("cheap viagra", "held body")}, 0);
    server.deleteAtQuit();
    server.refuseDele(true);
    ProxyProgram program;
    const std::string archive = program.folder() / "archive5";
    holdBackViagra(program, archive);
    auto process = program.start();
    EXPECT_EQ(collectAndQuit(program, server).substr(0, 3), "+OK");
    EXPECT_EQ(server.uids(), (std::vector<std::string>{"uid-1", "uid-2"}));
    EXPECT_EQ(copiesIn(archive, "held body"), 0u) << "still on the server: no copy yet";
    server.refuseDele(false);
    EXPECT_EQ(collectAndQuit(program, server).substr(0, 3), "+OK");
    EXPECT_EQ(program.stop(*process), 0);
    EXPECT_EQ(server.uids(), (std::vector<std::string>{"uid-1"}));
    EXPECT_EQ(copiesIn(archive, "held body"), 1u);
    EXPECT_TRUE(program.logShows("The server would not delete message 2"));
}

} // namespace
