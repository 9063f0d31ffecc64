// The command line as Linux tools have it: --help and --version, long
// forms beside the single-dash ones, and a usage error (exit status 2,
// said on standard error) for anything the program does not know, which
// never starts the proxy.
#include "ProxyProgram.h"

#include <sys/wait.h>

namespace {

struct Outcome {
    std::string output;
    int status;
};

Outcome runProgram(ProxyProgram& program, const std::vector<std::string>& args, bool withStderr = true)
{
    int status = 0;
    std::string output = program.run(args, status, withStderr);
    return {output, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

TEST(CommandLine, HelpAndVersionPrintAndEnd)
{
    ProxyProgram program;
    for (const char* help : {"--help", "-h"}) {
        const Outcome outcome = runProgram(program, {help}, false);
        EXPECT_EQ(outcome.status, 0) << help;
        for (const char* command : {"--no-gui", "--log-stderr", "--stop", "--rate", "--learn", "--unlearn",
                                    "--learn-archive", "--probability", "--settings", "--get", "--set", "--help",
                                    "--version"})
            EXPECT_NE(outcome.output.find("  " + std::string(command)), std::string::npos) << command;
    }
    for (const char* version : {"--version", "-V"}) {
        const Outcome outcome = runProgram(program, {version}, false);
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.output, "quillfnc (Quillfence Pro) " QF_VERSION "\n");
    }
    EXPECT_FALSE(std::filesystem::exists(program.logFolder())) << "nothing was started";
}

TEST(CommandLine, AnythingUnknownOrMissingIsAUsageErrorAndStartsNothing)
{
    ProxyProgram program;
    const struct {
        std::vector<std::string> args;
        const char* said;
    } rows[] = {
        {{"--frobnicate"}, "quillfnc: unknown option '--frobnicate'"},
        {{"--no-gui", "", "extra"}, "quillfnc: unknown option 'extra'"},
        {{"--rate"}, "usage: quillfnc --rate FILE|FOLDER..."},
        {{"--learn", "spam"}, "usage: quillfnc --learn spam|ham FILE|FOLDER..."},
        {{"-learn-archive"}, "usage: quillfnc --learn-archive BAND"},
        {{"--learn-archive", "1", "2"}, "usage: quillfnc --learn-archive BAND"},
        {{"--probability"}, "usage: quillfnc --probability FILE|FOLDER..."},
        {{"--get"}, "usage: quillfnc --get NAME"},
        {{"--settings", "x"}, "usage: quillfnc --settings"},
        {{"--version", "x"}, "usage: quillfnc --version"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args.front());
        const Outcome outcome = runProgram(program, row.args);
        EXPECT_EQ(outcome.status, 2);
        EXPECT_EQ(outcome.output, std::string(row.said) + "\nTry 'quillfnc --help' for more.\n");
    }
    EXPECT_FALSE(std::filesystem::exists(program.logFolder())) << "nothing was started";
}

TEST(CommandLine, LongFormsDoWhatTheSingleDashFormsDo)
{
    ProxyProgram program;
    program.withoutShippedRules();
    const std::string saved = program.folder() / "saved.eml";
    writeFile(saved, "Subject: hello\r\nFrom: a@example.com\r\n\r\nhi\r\n");
    for (const char* rate : {"--rate", "-rate"}) {
        const Outcome rated = runProgram(program, {rate, saved}, false);
        EXPECT_EQ(rated.status, 0);
        EXPECT_EQ(rated.output.rfind(saved + "\tband 1\t0.0\t\n", 0), 0u) << rate << ": " << rated.output;
    }

    auto process = program.start();
    EXPECT_EQ(runProgram(program, {"--stop"}).output, "Stop request issued to Quillfence Pro\n");
    int exitStatus = -1;
    ASSERT_TRUE(process->waitFor(5000, exitStatus));
    EXPECT_TRUE(WIFEXITED(exitStatus) && WEXITSTATUS(exitStatus) == 0);
    const Outcome again = runProgram(program, {"--stop"});
    EXPECT_EQ(again.output, "Quillfence Pro not running\n");
    EXPECT_EQ(again.status, 1);
}

} // namespace
