// The program started on a damaged settings hive: the hive is set aside,
// the error logged, the shipped settings (its default.dat) used, and the
// next collection report says so, once.
#include "MailboxServer.h"
#include "ProxyProgram.h"

#include <algorithm>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

std::string message(const std::string& subject)
{
    return "From: Sender <sender@example.org>\r\nTo: me@example.net\r\nSubject: " + subject +
           "\r\nDate: Sat, 05 Jul 2003 09:51:33 +0100\r\n\r\nbody\r\n";
}

// The shipped default.dat, listening on port instead of 1110.
std::string shippedSettings(int port)
{
    std::string shipped = readFile(fs::path(QUILLFNC_PATH).parent_path() / "default.dat");
    const std::string listen = "\"/LISTENPORT\" = 1110";
    const size_t at = shipped.find(listen);
    if (at == std::string::npos)
        return {};
    return shipped.replace(at, listen.size(), "\"/LISTENPORT\" = " + std::to_string(port));
}

struct DamagedCase {
    const char* name;
    // The damaged hive, given the port the intact one listened on.
    std::string (*content)(int port);
};

// Cut in the middle of a value, as a crash or a full disk leaves a file:
// read as it stands it would delete upstream what band 5 gets.
std::string cutHive(int port)
{
    return "12\r\n\"/\"\r\n\"/ALLOWTHROUGH5\" = 0\r\n\"/LISTENPORT\" = " + std::to_string(port) +
           "\r\n\"/RATING4\" = 8";
}

std::string noiseHive(int) { return randomBytes(3000, 7); }

class DamagedSettings : public ::testing::TestWithParam<DamagedCase>
{
};

TEST_P(DamagedSettings, AreSetAsideAndTheShippedOnesUsedAndTheReportSaysSoOnce)
{
    // A server for each session, so that the second has new mail too.
    MailboxServer first({message("seven"), message("also seven")}, 0);
    MailboxServer second({message("seven again"), message("still seven")}, 0);
    ProxyProgram program;
    const std::string folder = program.ownProgramFolder();
    const std::string shipped = shippedSettings(program.port());
    ASSERT_FALSE(shipped.empty());
    writeFile(folder + "/default.dat", shipped);
    program.withoutShippedRules();
    fs::copy_file(QF_SHIPPED_INCLUDE, program.dataRoot() + "/rules/spamfltr.inc");
    // Every message rates 7.0: band 4 of the shipped thresholds.
    writeFile(program.dataRoot() + "/rules/user.sfr", "#rule \"Seven\" 70\nISSPAM()\n#endrule\n");
    const std::string hive = program.folder() / "data/Corvanta Ltd/config/quilfpro_usr.dat";
    const std::string damaged = GetParam().content(program.port());
    writeFile(hive, damaged);

    auto process = program.start();   // on the shipped settings' port
    EXPECT_EQ(readFile(hive + ".damaged"), damaged);
    EXPECT_EQ(readFile(hive), shipped);
    EXPECT_TRUE(program.logShows("Damaged settings file " + hive + " set aside as " + hive +
                                 ".damaged; using the shipped settings"));

    for (int session = 1; session <= 2; ++session) {
        SCOPED_TRACE("session " + std::to_string(session));
        PopClient client(program.port(), 20000);
        EXPECT_EQ(client.line(), "+OK Quillfence\r\n");
        MailboxServer& server = session == 1 ? first : second;
        client.command("USER me@127.0.0.1:" + std::to_string(server.port()));
        EXPECT_EQ(client.command("PASS secret"), "+OK\r\n");
        EXPECT_EQ(client.command("STAT").substr(0, 6), "+OK 3 ") << "both messages and the report";
        EXPECT_EQ(client.command("RETR 3").substr(0, 4), "+OK ");
        const std::string report = client.body();
        EXPECT_NE(report.find("Subject: Quillfence Pro Collection Report\r\n"), std::string::npos) << report;
        EXPECT_NE(report.find("SPAM - rating 7.0"), std::string::npos) << report;
        const std::string notice = "The settings file " + hive + " was damaged and could not be read whole.\r\n"
                                   "It has been set aside as " + hive + ".damaged.\r\n"
                                   "The shipped settings are used in its place: check your settings.\r\n";
        const auto told = report.find(notice);
        if (session == 1) {
            EXPECT_NE(told, std::string::npos) << report;
            EXPECT_EQ(report.find(notice, told + 1), std::string::npos) << "once in the report";
        } else {
            EXPECT_EQ(told, std::string::npos) << "told in one report only\n" << report;
        }
        EXPECT_EQ(client.command("QUIT").substr(0, 3), "+OK");
    }
    if (::testing::Test::HasFailure())
        ADD_FAILURE() << program.log();
    for (MailboxServer* server : {&first, &second}) {
        const auto sent = server->commands();
        EXPECT_EQ(std::count_if(sent.begin(), sent.end(), [](const std::string& c) { return c.rfind("DELE", 0) == 0; }),
                  0) << "the shipped settings delete nothing";
    }
    EXPECT_EQ(program.stop(*process), 0);
    EXPECT_FALSE(fs::exists(hive + ".damaged.2"));
}

INSTANTIATE_TEST_SUITE_P(Program, DamagedSettings,
                         ::testing::Values(DamagedCase{"RandomBytes", noiseHive},
                                           DamagedCase{"CutInAValue", cutHive}),
                         [](const ::testing::TestParamInfo<DamagedCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(ProgramSettings, AnIntactHiveIsUsedAndLeftAsItIs)
{
    ProxyProgram program;
    program.setting("RATING4", "75");
    const std::string hive = program.folder() / "data/Corvanta Ltd/config/quilfpro_usr.dat";
    auto process = program.start();   // on the hive's own port
    program.expectServes();
    EXPECT_EQ(program.stop(*process), 0);
    EXPECT_FALSE(fs::exists(hive + ".damaged"));
    EXPECT_EQ(program.log().find("Damaged settings file"), std::string::npos);
    // The program adds values of its own; the hive's stay.
    const std::string after = readFile(hive);
    for (const char* line : {"\"/LISTENPORT\" = " , "\"/RATING4\" = 75\r\n", "\"/SUBJECT1\" = 0\r\n"})
        EXPECT_NE(after.find(line), std::string::npos) << line << " in\n" << after;
}

} // namespace
