// The learning classifier in the built program: the training commands and
// their counts, a training command killed half-way, messages learned from
// a band's archive, and SPAMPROBABILITY() and LEARNEDCOUNT() in a running
// proxy, which sees what was learned meanwhile at its next session and
// takes in the learn folders when a session starts.
#include "MailboxServer.h"
#include "ProxyProgram.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

namespace {

std::string message(const std::string& subject, const std::string& body)
{
    return "From: Sender <sender@example.org>\r\nTo: me@example.net\r\nSubject: " + subject +
           "\r\nDate: Sat, 05 Jul 2003 09:51:33 +0100\r\n\r\n" + body + "\r\n";
}

std::string spam(int n)
{
    return message("cheap pills " + std::to_string(n), "buy cheap pills online, best prices " + std::to_string(n));
}

std::string ham(int n)
{
    return message("meeting minutes " + std::to_string(n), "the project meeting agenda for " + std::to_string(n));
}

// count messages made by make, one file each, in a new folder.
std::string folderOf(const TempDir& dir, const std::string& name, int count, std::string (*make)(int), int from = 0)
{
    const std::string folder = dir / name;
    std::filesystem::create_directories(folder);
    for (int i = from; i < from + count; ++i)
        writeFile(folder + "/" + std::to_string(i) + ".eml", make(i));
    return folder;
}

// The last line of a training command: "the store holds S spam and H ham messages".
std::string holds(const std::string& output)
{
    const size_t at = output.rfind("the store holds");
    return at == std::string::npos ? output : output.substr(at, output.find('\n', at) - at);
}

TEST(ProgramLearning, TrainingCommandsCountEachMessageOnceAndMoveItBetweenKinds)
{
    ProxyProgram program;
    TempDir mail;
    const std::string spamFolder = folderOf(mail, "spam", 3, spam);
    const std::string hamFolder = folderOf(mail, "ham", 2, ham);
    struct Step {
        std::vector<std::string> args;
        int status;
        const char* output;
    };
    const Step steps[] = {
        {{"-learn", "spam", spamFolder}, 0, "the store holds 3 spam and 0 ham messages"},
        {{"-learn", "ham", hamFolder, spamFolder + "/0.eml"}, 0, "the store holds 2 spam and 3 ham messages"},
        {{"-learn", "ham", hamFolder}, 0, "the store holds 2 spam and 3 ham messages"},
        {{"-unlearn", "spam", hamFolder}, 0, "the store holds 2 spam and 3 ham messages"},
        {{"-unlearn", "ham", hamFolder}, 0, "the store holds 2 spam and 1 ham messages"},
        {{"-learn", "junk", hamFolder}, 2, "usage: quillfnc -learn spam|ham"},
        {{"-learn", "spam"}, 2, "usage: quillfnc --learn spam|ham"},
        {{"-learn", "spam", hamFolder, mail / "missing"}, 1, "missing: not a file or a folder"},
        // 0.eml, left as ham, moves back.
        {{"-learn", "spam", spamFolder}, 0, "the store holds 3 spam and 0 ham messages"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.args[0] + " " + (step.args.size() > 1 ? step.args[1] : ""));
        int status = -1;
        const std::string output = program.run(step.args, status);
        EXPECT_EQ(WEXITSTATUS(status), step.status) << output;
        if (step.status == 0)
            EXPECT_EQ(holds(output), step.output) << output;
        else
            EXPECT_NE(output.find(step.output), std::string::npos) << output;
    }
    int status = -1;
    const std::string output = program.run({"-learn", "spam", spamFolder}, status);
    EXPECT_NE(output.find("learned 3 messages in "), std::string::npos) << output;
    EXPECT_NE(output.find(": 0 added, 0 moved, 0 removed, 3 unchanged, 0 unreadable"), std::string::npos) << output;
}

TEST(ProgramLearning, PruneKeepsTheCountsAndRefusesADayCountOutOfRange)
{
    ProxyProgram program;
    TempDir mail;
    int status = -1;
    std::string output = program.run({"-learn-prune", "30"}, status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << output;
    EXPECT_NE(output.find("nothing has been learned"), std::string::npos) << output;

    program.run({"-learn", "spam", folderOf(mail, "spam", 3, spam)}, status);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    for (const char* bad : {"0", "36501", "ten", "-5", ""}) {
        output = program.run({"--learn-prune", bad}, status);
        EXPECT_EQ(WEXITSTATUS(status), 2) << bad << ": " << output;
        EXPECT_NE(output.find("DAYS is a number from 1 to 36500"), std::string::npos) << output;
    }
    // Every token was in all three messages: learned 29 days ago nothing
    // goes, 31 days ago everything does.
    const auto learnedDaysAgo = [&program](int days) {
        Subprocess shift({"/usr/bin/sqlite3", program.dataRoot() + "/learn/tokens.db",
                          "UPDATE tokens SET day = day - " + std::to_string(days) + ";"},
                         {}, true);
        EXPECT_EQ(shift.readAll(), "");
        EXPECT_EQ(shift.wait(), 0);
    };
    learnedDaysAgo(29);
    output = program.run({"--learn-prune", "30"}, status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << output;
    EXPECT_EQ(output.rfind("pruned 0 of ", 0), 0u) << output;
    EXPECT_NE(output.find("of 3 spam and 0 ham messages"), std::string::npos) << output;
    learnedDaysAgo(2);
    output = program.run({"--learn-prune", "30"}, status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << output;
    EXPECT_NE(output.find("the store holds 0 tokens of 3 spam and 0 ham messages"), std::string::npos) << output;
    EXPECT_EQ(output.find("pruned 0 of "), std::string::npos) << output;
}

// Killed while it learns (it is reading a message that never ends, its
// write lock taken and the earlier messages counted in memory): the store
// opens with the counts of the last commit, and the next command works.
TEST(ProgramLearning, AKillDuringLearningLeavesTheStoreWithThePreviousCounts)
{
    ProxyProgram program;
    TempDir mail;
    int status = -1;
    program.run({"-learn", "ham", folderOf(mail, "ham", 5, ham)}, status);
    ASSERT_EQ(WEXITSTATUS(status), 0);

    const std::string more = folderOf(mail, "more", 200, spam);
    const std::string fifo = more + "/zz-never-ends.eml";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto argv = std::vector<std::string>{QUILLFNC_PATH, "-learn", "spam", more};
    Subprocess learning(argv, program.environment(), true);
    // Opening the pipe for writing waits until the command opens it to read,
    // which it does after every other file of the folder.
    const int writer = ::open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(writer, 0);
    EXPECT_EQ(::write(writer, "Subject: half", 13), 13);
    learning.kill(SIGKILL);
    learning.wait();
    ::close(writer);

    std::filesystem::remove(fifo);
    const std::string output = program.run({"-learn", "ham", mail / "ham"}, status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << output;
    EXPECT_EQ(holds(output), "the store holds 0 spam and 5 ham messages") << output;
    Subprocess check({"/usr/bin/sqlite3", program.dataRoot() + "/learn/tokens.db", "PRAGMA integrity_check;"}, {},
                     true);
    EXPECT_EQ(check.readAll(), "ok\n");
    EXPECT_EQ(check.wait(), 0);
    const std::string after = program.run({"-learn", "spam", more}, status);
    EXPECT_EQ(holds(after), "the store holds 200 spam and 5 ham messages") << after;
}

TEST(ProgramLearning, ABandsArchiveIsLearnedAsSpam)
{
    ProxyProgram program;
    const std::string archive = program.folder() / "archive5";
    std::filesystem::create_directories(archive);
    program.setting("ARCHIVEPATH5", "\"" + archive + "\"");
    // As the proxy writes them: spooled, each ended by a "." line.
    writeFile(archive + "/SF030705.txt", spam(1) + ".\r\n" + spam(2) + ".\r\n");
    writeFile(archive + "/SF030706.txt", spam(3) + ".\r\n");
    int status = -1;
    std::string output = program.run({"-learn-archive", "5"}, status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << output;
    EXPECT_EQ(holds(output), "the store holds 3 spam and 0 ham messages") << output;
    output = program.run({"-learn-archive", "9"}, status);
    EXPECT_EQ(WEXITSTATUS(status), 1) << output;
}

const char* const kLearnedRule =
    "#rule \"Learned\" 100\n"
    "integer probability = SPAMPROBABILITY()\n"
    "ADDDECISIONDETAILS(\"probability \" + str(probability) + \", learned \" + str(LEARNEDCOUNT(\"spam\")) + "
    "\" spam and \" + str(LEARNEDCOUNT(\"ham\")) + \" ham\")\n"
    "if probability >= 90 then ISSPAM()\n"
    "#endrule\n";

// One session with the given mailbox; the commands the server got.
std::vector<std::string> collect(const ProxyProgram& program, const std::vector<std::string>& mailbox)
{
    MailboxServer server(mailbox, 0);
    PopClient client(program.port(), 20000);
    EXPECT_EQ(client.line(), "+OK Quillfence\r\n");
    client.command("USER me@127.0.0.1:" + std::to_string(server.port()));
    EXPECT_EQ(client.command("PASS secret"), "+OK\r\n");
    EXPECT_EQ(client.command("QUIT").substr(0, 3), "+OK");
    return server.commands();
}

TEST(ProgramLearning, TheRunningProxyRatesByWhatWasLearnedByItsNextSession)
{
    ProxyProgram program;
    program.withoutShippedRules();
    program.setting("ALLOWTHROUGH5", "0");
    writeFile(program.dataRoot() + "/rules/user.sfr", kLearnedRule);
    auto process = program.start();
    const std::vector<std::string> mailbox{ham(1000), spam(1000)};

    // Nothing learned: neutral, nothing rejected.
    auto sent = collect(program, mailbox);
    EXPECT_EQ(std::count_if(sent.begin(), sent.end(), [](const std::string& c) { return c.rfind("DELE", 0) == 0; }), 0);

    // Trained while the proxy runs; one more ham message saved to the learn
    // folder, to be taken in when the next session starts.
    TempDir mail;
    int status = -1;
    EXPECT_EQ(holds(program.run({"-learn", "spam", folderOf(mail, "spam", 50, spam)}, status)),
              "the store holds 50 spam and 0 ham messages");
    EXPECT_EQ(holds(program.run({"-learn", "ham", folderOf(mail, "ham", 49, ham)}, status)),
              "the store holds 50 spam and 49 ham messages");
    const std::string saved = program.dataRoot() + "/learn/ham/saved.eml";
    writeFile(saved, ham(49));

    sent = collect(program, mailbox);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "DELE 2"), 1) << "the spam is rejected";
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "DELE 1"), 0) << "the ham is not";
    EXPECT_FALSE(std::filesystem::exists(saved)) << "the saved message was taken in";
    EXPECT_TRUE(program.logShows("Rule 'Learned' detected spam from Sender <sender@example.org>"));
    EXPECT_EQ(program.stop(*process), 0);
    const std::string log = program.log();
    EXPECT_EQ(log.find("failed:"), std::string::npos) << log;

    // The proxy's verdict agrees with what the command says of the messages.
    writeFile(mail / "check-spam.eml", spam(1000));
    writeFile(mail / "check-ham.eml", ham(1000));
    const std::string rated = program.run({"-probability", mail / "check-spam.eml", mail / "check-ham.eml"}, status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << rated;
    EXPECT_NE(rated.find("check-spam.eml\t100\n"), std::string::npos) << rated;
    EXPECT_NE(rated.find("check-ham.eml\t0\n"), std::string::npos) << rated;
}

} // namespace
