// The work a session costs the disk, counted rather than timed, and its
// flushes in their order: the program runs under strace.  A collection of
// 1,000 messages with the account state written at QUIT may flush to disk
// and create files only a handful of times, however many messages it
// spooled; the archive copy of a message the server is to delete is
// flushed before QUIT is sent.
#include "MailboxServer.h"
#include "ProxyProgram.h"

#include <algorithm>
#include <cstdlib>
#include <regex>

namespace {

constexpr int kMessages = 1000;
// The flushes a whole collection may make: a few reservations of spool
// numbers (two flushes each, the counter's hive and its folder), one flush
// of the state folder's file system for the spools, and the account state
// file with its folder.  One flush per message would be thousands.
constexpr int kFlushBudget = 10;
// The opens that may create a file during a collection: a scratch spool,
// the pack of its headers, and a few for the counter's hive (opened with
// O_CREAT each time), the account state and the logs.  A file per message
// would be a thousand.
constexpr int kCreateBudget = 40;

std::string header(int n)
{
    const std::string number = std::to_string(n);
    return "Subject: message " + number + "\r\nFrom: sender" + number + "@example.org\r\n\r\nbody " +
           number + "\r\n";
}

// The path of program in PATH, or empty.
std::string onPath(const std::string& program)
{
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "";
    for (size_t start = 0; start <= folders.size();) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos)
            end = folders.size();
        const std::string candidate = folders.substr(start, end - start) + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

TEST(CollectionCost, AThousandMessageCollectionFlushesTheDiskAHandfulOfTimes)
{
    const std::string strace = onPath("strace");
    ASSERT_FALSE(strace.empty()) << "strace is needed to count the flushes (scripts/deps.sh installs it)";
    std::vector<std::string> messages;
    for (int n = 1; n <= kMessages; ++n)
        messages.push_back(header(n));
    MailboxServer server(messages, 0);
    ProxyProgram program;
    program.withoutShippedRules();
    const std::string trace = program.folder() / "trace";
    // The connection to the server marks where the session begins: what
    // the program writes on its first start (settings, rules) comes before.
    program.startUnder({strace, "-f", "-qq", "-o", trace, "-e",
                        "trace=connect,fsync,fdatasync,syncfs,sync,sync_file_range,msync,open,openat,creat"});
    auto process = program.start();
    {
        PopClient client(program.port(), 120000);
        ASSERT_EQ(client.line(), "+OK Quillfence\r\n");
        ASSERT_EQ(client.command("USER me@127.0.0.1:" + std::to_string(server.port())), "+OK\r\n");
        ASSERT_EQ(client.command("PASS secret"), "+OK\r\n");
        const std::string stat = client.command("STAT");
        EXPECT_EQ(stat.compare(0, 9, "+OK 1000 "), 0) << stat;
        EXPECT_EQ(client.command("QUIT"), "+OK bye\r\n");
    }
    EXPECT_EQ(program.stop(*process), 0);

    const std::string account = program.dataRoot() + "/state/me@127.0.0.1#" + std::to_string(server.port()) + ".dat";
    EXPECT_EQ(splitLines(readFile(account)).size(), static_cast<size_t>(kMessages))
        << "the collection spooled and recorded every message";

    static const std::regex call(
        R"(^\d+\s+(connect|fsync|fdatasync|syncfs|sync|sync_file_range|msync|open|openat|creat)\()");
    bool inSession = false;
    int flushes = 0, syncfs = 0, creates = 0;
    std::string seen, created;
    for (const std::string& line : splitLines(readFile(trace))) {
        std::smatch match;
        if (!std::regex_search(line, match, call))
            continue;
        if (match[1] == "connect") {
            inSession = inSession || line.find("htons(" + std::to_string(server.port()) + ")") != std::string::npos;
            continue;
        }
        if (!inSession)
            continue;
        if (match[1] == "open" || match[1] == "openat" || match[1] == "creat") {
            // A new file (a name that did not exist) is what costs.
            if (match[1] == "creat" || line.find("O_EXCL") != std::string::npos ||
                (line.find("O_CREAT") != std::string::npos && line.find("ENOENT") == std::string::npos &&
                 line.find(" = -1 ") == std::string::npos)) {
                ++creates;
                created += "\n  " + line;
            }
            continue;
        }
        ++flushes;
        syncfs += match[1] == "syncfs";
        seen += "\n  " + line;
    }
    ASSERT_TRUE(inSession) << "no connection to the server in the trace";
    EXPECT_EQ(syncfs, 1) << "one flush of the spools' file system before the state names them:" << seen;
    EXPECT_LE(flushes, kFlushBudget) << "flushes during the session:" << seen;
    EXPECT_LE(creates, kCreateBudget) << "files opened to be created during the session:" << created;
    std::cout << "[          ] during a collection of " << kMessages << " messages: " << flushes << " flushes, "
              << creates << " files opened to be created\n";
}

// A mailbox whose second message the rule of archiveRejections rejects.
const std::vector<std::string> kRejectedSecond{header(1), "Subject: cheap viagra\r\n\r\narchived body\r\n",
                                                header(3)};

// Only a rule that rejects "viagra" subjects, into band 5, which deletes
// and archives; the band's archive folder.
std::string archiveRejections(ProxyProgram& program)
{
    program.withoutShippedRules();
    const std::string archive = program.folder() / "archive5";
    program.setting("ALLOWTHROUGH5", "0");
    program.setting("ARCHIVE5", "1");
    program.setting("ARCHIVEPATH5", "\"" + archive + "\"");
    writeFile(program.dataRoot() + "/rules/user.sfr",
              "#rule \"Viagra\" 100\nif \"viagra\" in HEADERFIELDVALUE(\"Subject\") then ISSPAM()\n#endrule\n");
    return archive;
}

// A rejected message is deleted on the server at QUIT: its archive copy,
// staged during the collection, is flushed before QUIT goes upstream.
TEST(CollectionCost, AnArchivedMessageIsOnDiskBeforeTheServerIsToldToDeleteIt)
{
    const std::string strace = onPath("strace");
    ASSERT_FALSE(strace.empty()) << "strace is needed to see the flushes (scripts/deps.sh installs it)";
    MailboxServer server(kRejectedSecond, 0);
    ProxyProgram program;
    const std::string archive = archiveRejections(program);
    const std::string trace = program.folder() / "trace";
    program.startUnder(
        {strace, "-f", "-qq", "-y", "-s", "16", "-o", trace, "-e", "trace=fsync,fdatasync,syncfs,sendto,write"});
    auto process = program.start();
    {
        PopClient client(program.port(), 20000);
        ASSERT_EQ(client.line(), "+OK Quillfence\r\n");
        client.command("USER me@127.0.0.1:" + std::to_string(server.port()));
        ASSERT_EQ(client.command("PASS secret"), "+OK\r\n");
        EXPECT_EQ(client.command("QUIT"), "+OK bye\r\n");
    }
    EXPECT_EQ(program.stop(*process), 0);
    const auto sent = server.commands();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "DELE 2"), 1);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "RSET"), 0) << "the flush succeeded: the deletion stands";

    int stagingFlushed = -1, quitSent = -1, n = 0;
    for (const std::string& line : splitLines(readFile(trace))) {
        ++n;
        const bool flush = line.find("fdatasync(") != std::string::npos || line.find("fsync(") != std::string::npos;
        if (flush && stagingFlushed < 0 && line.find(archive + "/SF") != std::string::npos &&
            line.find(".tmp>") != std::string::npos)
            stagingFlushed = n;
        if (quitSent < 0 && line.find("\"QUIT\\r\\n\"") != std::string::npos)
            quitSent = n;
    }
    ASSERT_GT(quitSent, 0) << "QUIT was sent upstream";
    ASSERT_GT(stagingFlushed, 0) << "the staging file was flushed:\n" << readFile(trace);
    EXPECT_LT(stagingFlushed, quitSent) << "flushed before QUIT";
    std::string days;
    for (const auto& entry : std::filesystem::directory_iterator(archive))
        days += readFile(entry.path());
    EXPECT_NE(days.find("archived body"), std::string::npos) << "the copy is in a day file";
}

// A staging file that cannot be flushed (here its folder, which holds its
// name, has gone, and a file stands in its place): the server is left
// without its QUIT, so it deletes nothing, and the client is told.
TEST(CollectionCost, ACopyThatCannotBeFlushedKeepsEveryMessageOnTheServer)
{
    MailboxServer server(kRejectedSecond, 0);
    ProxyProgram program;
    const std::string archive = archiveRejections(program);
    auto process = program.start();
    {
        PopClient client(program.port(), 20000);
        ASSERT_EQ(client.line(), "+OK Quillfence\r\n");
        client.command("USER me@127.0.0.1:" + std::to_string(server.port()));
        ASSERT_EQ(client.command("PASS secret"), "+OK\r\n");
        std::vector<std::filesystem::path> staged;
        for (const auto& entry : std::filesystem::directory_iterator(archive))
            if (entry.path().extension() == ".tmp")
                staged.push_back(entry.path());
        ASSERT_EQ(staged.size(), 1u) << "the rejected message's copy is staged";
        std::filesystem::rename(archive, archive + ".gone");
        writeFile(archive, "");
        EXPECT_EQ(client.command("QUIT"), "-ERR Unable to save the archive copies, nothing deleted\r\n");
        EXPECT_TRUE(client.closedByServer());
    }
    EXPECT_EQ(program.stop(*process), 0);
    const auto sent = server.commands();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "DELE 2"), 1) << "marked during the collection";
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "QUIT"), 0) << "never committed";
    EXPECT_TRUE(program.logShows("Unable to flush"));
}

} // namespace
