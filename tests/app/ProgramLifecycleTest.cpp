#include "ProxyProgram.h"

#include "common/CVDateTime.h"

#include <sys/wait.h>

#include <thread>

namespace {

TEST(ProgramLifecycle, GreetsAndAnswersInTheAuthorizationState)
{
    ProxyProgram program;
    auto process = program.start();
    PopClient client(program.port());
    EXPECT_EQ(client.line(), "+OK Quillfence\r\n");
    for (const char* command : {"STAT", "LIST", "LIST 0", "RETR 1", "UIDL", "DELE 1", "TOP 1 1", "RSET"})
        EXPECT_EQ(client.command(command), "-ERR Permission denied\r\n") << command;
    EXPECT_EQ(client.command("NOOP"), "+OK\r\n");
    EXPECT_EQ(client.command("noop extra words"), "+OK\r\n");
    EXPECT_EQ(client.command("CAPA"), "+OK Capability list follows\r\n");
    EXPECT_EQ(client.body(), "USER\r\nTOP\r\nUIDL\r\nPIPELINING\r\nRESP-CODES\r\nIMPLEMENTATION Quillfence-Pro\r\n.\r\n");
    EXPECT_EQ(client.command("AUTH"), "-ERR Unrecongised command\r\n");
    // Empty lines and lines of blanks get no reply at all.
    client.send("\r\n   \r\n\t\r\n");
    EXPECT_EQ(client.command("NOOP"), "+OK\r\n");
    EXPECT_EQ(client.command("QUIT"), "+OK Session closed.\r\n");
    EXPECT_TRUE(client.closedByServer());
    EXPECT_EQ(program.stop(*process), 0);
}

// An idle client holds back no other: sessions run side by side, up to the
// setting MaxSessions; a client beyond it is told why at once.
TEST(ProgramLifecycle, IdleClientsHoldBackNoOtherUpToTheSessionBound)
{
    ProxyProgram program;
    program.setting("MAXSESSIONS", "2");
    auto process = program.start();
    PopClient first(program.port());
    EXPECT_EQ(first.line(), "+OK Quillfence\r\n");
    PopClient second(program.port());
    EXPECT_EQ(second.line(), "+OK Quillfence\r\n") << "greeted while the first is idle";
    {
        PopClient third(program.port());
        EXPECT_EQ(third.line(), "-ERR Quillfence Pro is serving 2 sessions already (MaxSessions), try again later\r\n");
        EXPECT_TRUE(third.closedByServer());
    }
    EXPECT_EQ(first.command("QUIT"), "+OK Session closed.\r\n");
    // Like a real client: it sees the server close, and closes too.
    EXPECT_TRUE(first.closedByServer());
    EXPECT_EQ(second.command("QUIT"), "+OK Session closed.\r\n");
    EXPECT_EQ(program.stop(*process), 0);
}

TEST(ProgramLifecycle, StopWithAndWithoutARunningInstance)
{
    ProxyProgram program;
    int status = -1;
    EXPECT_EQ(program.runOnce("-stop", status), "Quillfence Pro not running\n");
    EXPECT_EQ(WEXITSTATUS(status), 1) << "nothing was stopped";

    auto process = program.start();
    EXPECT_EQ(program.runOnce("-STOP", status), "Stop request issued to Quillfence Pro\n");
    int exitStatus = -1;
    ASSERT_TRUE(process->waitFor(3000, exitStatus)) << "the instance must stop within seconds";
    EXPECT_TRUE(WIFEXITED(exitStatus) && WEXITSTATUS(exitStatus) == 0);
    const std::string log = program.log();
    EXPECT_NE(log.find("Stop request received"), std::string::npos) << log;
    EXPECT_NE(log.find("Quillfence Pro shutting down"), std::string::npos) << log;
    EXPECT_NE(log.find("Quillfence Pro stopped"), std::string::npos) << log;
    EXPECT_EQ(program.runOnce("x-stopx", status), "Quillfence Pro not running\n")
        << "-stop inside a longer word is a stop request too";
}

TEST(ProgramLifecycle, ASecondStartEndsAndTheFirstKeepsServing)
{
    ProxyProgram program;
    auto process = program.start();
    int status = -1;
    EXPECT_EQ(program.runOnce("-nogui", status), "Quillfence Pro is already running\n");
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(program.logShows("Another start asked for the settings window"));
    program.expectServes();
    EXPECT_EQ(program.stop(*process), 0);
}

TEST(ProgramLifecycle, AKilledInstanceNeverBlocksTheNextStart)
{
    ProxyProgram program;
    auto killed = program.start();
    killed->kill(SIGKILL);
    killed->wait();
    int status = -1;
    EXPECT_EQ(program.runOnce("-stop", status), "Quillfence Pro not running\n");
    auto fresh = program.start();
    program.expectServes();
    EXPECT_EQ(program.stop(*fresh), 0);
}

TEST(ProgramLifecycle, SigtermStopsInOrder)
{
    ProxyProgram program;
    auto process = program.start();
    PopClient idle(program.port());   // a session blocked reading its client
    EXPECT_EQ(idle.line(), "+OK Quillfence\r\n");
    process->kill(SIGTERM);
    int exitStatus = -1;
    ASSERT_TRUE(process->waitFor(5000, exitStatus));
    EXPECT_TRUE(WIFEXITED(exitStatus) && WEXITSTATUS(exitStatus) == 0);
    EXPECT_TRUE(idle.closedByServer());
    const std::string log = program.log();
    EXPECT_NE(log.find("Stop signal received"), std::string::npos) << log;
    EXPECT_NE(log.find("Session stopped"), std::string::npos) << log;
    EXPECT_NE(log.find("Quillfence Pro stopped"), std::string::npos) << log;
}

TEST(ProgramLifecycle, ABusyPortIsReportedAndNoSessionIsMade)
{
    ProxyProgram program;
    UniqueFd taken(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(program.port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(taken.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(taken.get(), 1), 0);

    auto process = program.start(false);
    std::string line;
    ASSERT_TRUE(process->readLine(line, 10000));
    const std::string expected =
        "Unable to bind to port " + std::to_string(program.port()) + ", error " + std::to_string(EADDRINUSE);
    EXPECT_EQ(line, "Quillfence Error: " + expected);
    EXPECT_TRUE(program.logShows(expected));
    EXPECT_EQ(program.log().find("Accepting connections"), std::string::npos);
    int exitStatus = -1;
    ASSERT_TRUE(process->waitFor(5000, exitStatus)) << "a headless proxy that cannot listen ends";
    EXPECT_TRUE(WIFEXITED(exitStatus) && WEXITSTATUS(exitStatus) == 1);
}

// The harness's own guard against a test beside it taking the port first.
TEST(ProgramLifecycle, AStartOnAPortTakenMeanwhileIsMadeAgainOnAnother)
{
    ProxyProgram program;
    const int taken = program.port();
    UniqueFd holder(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(taken));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(holder.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(holder.get(), 1), 0);

    auto process = program.start();
    EXPECT_NE(program.port(), taken);
    PopClient client(program.port());
    EXPECT_EQ(client.line(), "+OK Quillfence\r\n");
    EXPECT_EQ(program.stop(*process), 0);
}

TEST(ProgramLifecycle, SessionTrafficIsLoggedWithPasswordsMasked)
{
    ProxyProgram program;
    auto process = program.start();
    {
        PopClient client(program.port());
        client.line();
        client.command("USER someone@mail.example");
        client.command("PASS hunter2");
        client.command("pass hunter3");
        client.command("PASSWORD hunter4");
        client.command("QUIT");
        EXPECT_TRUE(client.closedByServer());
    }
    EXPECT_EQ(program.stop(*process), 0);
    const std::string log = program.log();
    for (const char* line : {"* ", ">c +OK Quillfence", "<c USER someone@mail.example",
                             "<c PASS <secret>", ">c +OK Session closed."})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    for (const char* secret : {"hunter2", "hunter3", "hunter4"})
        EXPECT_EQ(log.find(secret), std::string::npos) << secret;
}

TEST(ProgramLifecycle, OldLogsAreTidiedAtTheEndOfASession)
{
    ProxyProgram program;
    program.setting("TIDYLOGS", "1");
    program.setting("TIDYLOGDAYS", "7");
    std::filesystem::create_directories(program.logFolder());
    auto dated = [&](const char* prefix, int daysAgo) {
        CVDateTime day(CVDateTime::currentTime() - daysAgo * 86400L);
        char name[32];
        std::snprintf(name, sizeof name, "%s%02d%02d%02d.log", prefix, day.year() % 100, day.month(),
                      day.day());
        return program.logFolder() + "/" + name;
    };
    const std::string eight = dated("qf", 8), seven = dated("qf", 7), sfEight = dated("sf", 8);
    const std::string other = program.logFolder() + "/notes.log";
    const std::string odd = program.logFolder() + "/qf12ab56.log";
    for (const std::string& path : {eight, seven, sfEight, other, odd})
        writeFile(path, "old\n");

    auto process = program.start();
    {
        PopClient client(program.port());
        client.line();
        EXPECT_EQ(client.command("QUIT"), "+OK Session closed.\r\n");
        EXPECT_TRUE(client.closedByServer());
    }
    EXPECT_TRUE(program.logShows("Deleted " + eight));
    EXPECT_FALSE(std::filesystem::exists(eight));
    EXPECT_FALSE(std::filesystem::exists(sfEight));
    EXPECT_TRUE(std::filesystem::exists(seven));
    EXPECT_TRUE(std::filesystem::exists(other));
    EXPECT_TRUE(std::filesystem::exists(odd));
    EXPECT_EQ(program.stop(*process), 0);
}

TEST(ProgramLifecycle, BadInputNeverStopsTheNextSession)
{
    ProxyProgram program;
    auto process = program.start();
    {
        // 10 MB without a line end, from a client that reads nothing.
        PopClient flood(program.port());
        flood.line();
        std::thread sender([&] {
            try {
                flood.send(std::string(10 << 20, 'A'));
            } catch (...) {
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::shutdown(flood.fd(), SHUT_RDWR);
        sender.join();
    }
    {
        // Binary garbage, then gone.
        PopClient garbage(program.port(), 20000);
        EXPECT_EQ(garbage.line(), "+OK Quillfence\r\n");
        std::string bytes;
        for (int i = 0; i < 70000; ++i)
            bytes += static_cast<char>((i * 131 + 7) % 256);
        garbage.send(bytes);
    }
    {
        // A line over 254 characters is refused whole, once.
        PopClient longLine(program.port(), 20000);
        EXPECT_EQ(longLine.line(), "+OK Quillfence\r\n");
        longLine.send(std::string(300, 'X') + "\r\n");
        EXPECT_EQ(longLine.line(), "-ERR Line too long\r\n");
        EXPECT_EQ(longLine.command("NOOP"), "+OK\r\n");
        longLine.send("LIS");   // and gone in the middle of a command
    }
    PopClient next(program.port(), 20000);
    EXPECT_EQ(next.line(), "+OK Quillfence\r\n");
    EXPECT_EQ(next.command("QUIT"), "+OK Session closed.\r\n");
    EXPECT_EQ(program.stop(*process), 0);
}

} // namespace

namespace {

std::string hiveText(const std::string& path)
{
    return std::filesystem::exists(path) ? readFile(path) : std::string();
}

// A program folder as a package installs it: the program reads it and
// writes nothing into it, its installation-wide settings going to the
// user's state folder instead.
TEST(ProgramStartup, AnInstalledProgramFolderIsNeverWrittenTo)
{
    namespace fs = std::filesystem;
    ProxyProgram program;
    const std::string folder = program.ownProgramFolder();
    program.withoutCommonRoot();
    auto listing = [&folder] {
        std::vector<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(folder))
            names.push_back(entry.path().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    const std::vector<std::string> before = listing();
    auto process = program.start();
    program.expectServes();
    EXPECT_EQ(program.stop(*process), 0);
    int status = -1;
    program.run({"--set", "ShowHelpId=1"}, status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(listing(), before);
    const std::string installation = program.folder() / "state/Corvanta Ltd/config/quilfpro_sys.dat";
    EXPECT_NE(hiveText(installation).find("\"/SHOWHELPID\" = 1"), std::string::npos) << hiveText(installation);
}

TEST(ProgramStartup, FirstRunCopiesDefaultSettings)
{
    ProxyProgram program;
    const std::string folder = program.ownProgramFolder();
    program.noSettings();
    writeFile(folder + "/default.dat",
              "1\r\n\"/\"\r\n\"/LISTENPORT\" = " + std::to_string(program.port()) + "\r\n~\r\n");
    auto process = program.start();   // listens on the port default.dat gave
    const std::string userHive = program.folder() / "data/Corvanta Ltd/config/quilfpro_usr.dat";
    EXPECT_NE(hiveText(userHive).find("LISTENPORT"), std::string::npos);
    // The settings live in config/ only: no second copy in the data folder.
    EXPECT_FALSE(std::filesystem::exists(program.dataRoot() + "/quilfpro_usr.dat"));
    for (const char* sub : {"/state", "/pending", "/archive", "/archive/rating1", "/archive/rating5", "/log"})
        EXPECT_TRUE(std::filesystem::is_directory(program.dataRoot() + sub)) << sub;
    EXPECT_EQ(program.stop(*process), 0);
    const std::string systemHive = program.folder() / "common/config/quilfpro_sys.dat";
    EXPECT_NE(hiveText(systemHive).find("\"/VERSION\" = \"" QF_VERSION "\""), std::string::npos)
        << hiveText(systemHive);
    EXPECT_NE(hiveText(systemHive).find("\"/SHOWHELPID\" = 0"), std::string::npos);
}

TEST(ProgramStartup, UserTxtWinsOverSharedTxt)
{
    ProxyProgram program;
    const std::string folder = program.ownProgramFolder();
    writeFile(folder + "/shared.txt", "");
    writeFile(folder + "/user.txt", "");
    auto process = program.start();
    EXPECT_FALSE(std::filesystem::exists(folder + "/shared.txt"));
    EXPECT_FALSE(std::filesystem::exists(folder + "/user.txt"));
    EXPECT_NE(hiveText(program.folder() / "common/config/quilfpro_sys.dat").find("\"/SHAREDMODE\" = 0"),
              std::string::npos);
    EXPECT_TRUE(std::filesystem::is_directory(program.dataRoot() + "/state")) << "per-user data";
    EXPECT_EQ(program.stop(*process), 0);
}

TEST(ProgramStartup, SharedTxtSwitchesToSharedData)
{
    ProxyProgram program;
    const std::string folder = program.ownProgramFolder();
    writeFile(folder + "/shared.txt", "");
    // Shared mode reads its settings from the shared hive.
    std::filesystem::create_directories(program.folder() / "common/config");
    writeFile(program.folder() / "common/config/quilfpro_usr.dat",
              "1\r\n\"/\"\r\n\"/LISTENPORT\" = " + std::to_string(program.port()) + "\r\n~\r\n");
    auto process = program.start();
    EXPECT_FALSE(std::filesystem::exists(folder + "/shared.txt"));
    EXPECT_NE(hiveText(program.folder() / "common/config/quilfpro_sys.dat").find("\"/SHAREDMODE\" = 1"),
              std::string::npos);
    const std::string sharedRoot = program.folder() / "common/Quillfence Pro";
    EXPECT_TRUE(std::filesystem::is_directory(sharedRoot + "/state"));
    EXPECT_FALSE(std::filesystem::exists(program.dataRoot())) << "nothing in the per-user root";
    EXPECT_EQ(program.stop(*process), 0);
}

TEST(ProgramStartup, LoggingOneLeavesTrafficOut)
{
    ProxyProgram program;
    program.setting("LOGGING", "1");
    auto process = program.start();
    {
        PopClient client(program.port());
        client.line();
        client.command("QUIT");
        EXPECT_TRUE(client.closedByServer());
    }
    EXPECT_EQ(program.stop(*process), 0);
    const std::string log = program.log();
    EXPECT_NE(log.find("Accepting connections"), std::string::npos);
    EXPECT_EQ(log.find(">c "), std::string::npos) << log;
    EXPECT_EQ(log.find("<c "), std::string::npos) << log;
}

} // namespace

namespace {

TEST(ProgramLifecycleNetwork, OnlyTheLoopbackAddressIsServed)
{
    ProxyProgram program;
    auto process = program.start();
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in other{};
    other.sin_family = AF_INET;
    other.sin_port = htons(static_cast<uint16_t>(program.port()));
    other.sin_addr.s_addr = htonl(0x7F000002);   // 127.0.0.2: this computer, not 127.0.0.1
    EXPECT_NE(::connect(fd.get(), reinterpret_cast<sockaddr*>(&other), sizeof other), 0);
    EXPECT_EQ(errno, ECONNREFUSED);
    EXPECT_EQ(program.stop(*process), 0);
}

} // namespace

namespace {

TEST(ProgramLifecycleNetwork, AClientThatLingersAfterQuitDoesNotHoldTheNextOneLong)
{
    ProxyProgram program;
    auto process = program.start();
    PopClient lingering(program.port());
    EXPECT_EQ(lingering.line(), "+OK Quillfence\r\n");
    // Waits 15 s for its greeting: time for the 5 s drain at session end,
    // far short of the 60 s read time-out it would otherwise take.
    PopClient next(program.port(), 15000);
    EXPECT_EQ(lingering.command("QUIT"), "+OK Session closed.\r\n");
    // lingering never closes its side.
    EXPECT_EQ(next.line(), "+OK Quillfence\r\n");
    EXPECT_EQ(next.command("QUIT"), "+OK Session closed.\r\n");
    EXPECT_EQ(program.stop(*process), 0);
}

} // namespace
