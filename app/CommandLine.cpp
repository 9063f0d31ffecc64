#include "app/CommandLine.h"

#include "common/TextUtils.h"

#include <strings.h>

#include <climits>

namespace {

using Command = CommandLine::Command;

struct CommandForm {
    const char* longForm;
    const char* shortForm;   // the older single-dash form, or null
    Command command;
    int fewest;              // arguments
    int most;
    const char* arguments;   // for the usage line
};

constexpr CommandForm kCommands[] = {
    {"--help", "-h", Command::Help, 0, 0, ""},
    {"--version", "-V", Command::Version, 0, 0, ""},
    {"--stop", "-stop", Command::Stop, 0, 0, ""},
    {"--rate", "-rate", Command::Rate, 1, INT_MAX, " FILE|FOLDER..."},
    {"--learn", "-learn", Command::Learn, 2, INT_MAX, " spam|ham FILE|FOLDER..."},
    {"--unlearn", "-unlearn", Command::Unlearn, 2, INT_MAX, " spam|ham FILE|FOLDER..."},
    {"--learn-archive", "-learn-archive", Command::LearnArchive, 1, 1, " BAND"},
    {"--learn-prune", "-learn-prune", Command::LearnPrune, 1, 1, " DAYS"},
    {"--probability", "-probability", Command::Probability, 1, INT_MAX, " FILE|FOLDER..."},
    {"--get", nullptr, Command::Get, 1, 1, " NAME"},
    {"--set", nullptr, Command::Set, 1, INT_MAX, " NAME=VALUE..."},
    {"--settings", nullptr, Command::Settings, 0, 0, ""},
    {"--authorize", nullptr, Command::Authorize, 1, 2, " NAME@SERVER [PROVIDER]"},
};

bool sameOption(const char* given, const char* form)
{
    return form != nullptr && strcasecmp(given, form) == 0;
}

} // namespace

CommandLine parseCommandLine(int argc, char** argv)
{
    CommandLine line;
    if (argc >= 2) {
        for (const CommandForm& form : kCommands) {
            if (!sameOption(argv[1], form.longForm) && !sameOption(argv[1], form.shortForm))
                continue;
            line.command = form.command;
            line.args.assign(argv + 2, argv + argc);
            const int count = argc - 2;
            if (count < form.fewest || count > form.most)
                line.error = std::string("usage: quillfnc ") + form.longForm + form.arguments;
            return line;
        }
    }
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.empty()) {
            // An empty word (a launcher's field code with nothing to fill
            // in) says nothing.
        } else if (sameOption(argv[i], "--no-gui") || sameOption(argv[i], "-nogui")) {
            line.noGui = true;
        } else if (arg == "--log-stderr") {
            line.logToStderr = true;
        } else if (stristr(argv[i], "-stop") != nullptr) {
            line.command = Command::Stop;
        } else if (line.error.empty()) {
            line.error = "quillfnc: unknown option '" + arg + "'";
        }
    }
    if (line.command == Command::Stop)
        line.error.clear();
    return line;
}

const char* commandLineHelp()
{
    return "Usage: quillfnc [--no-gui] [--log-stderr]\n"
           "       quillfnc COMMAND [ARGUMENT...]\n"
           "\n"
           "Without a command, starts the Quillfence Pro POP3 proxy: with its tray icon on a\n"
           "desktop, headless without a display.\n"
           "\n"
           "Options:\n"
           "  --no-gui, -nogui              run headless even on a desktop\n"
           "  --log-stderr                  also write errors and warnings to standard error\n"
           "\n"
           "Commands:\n"
           "  --stop, -stop                 stop the running proxy\n"
           "  --rate FILE|FOLDER...         rate saved messages with the installed rules\n"
           "  --learn spam|ham FILE|FOLDER...    teach the classifier saved messages\n"
           "  --unlearn spam|ham FILE|FOLDER...  take learned messages back out\n"
           "  --learn-archive BAND          learn a rating band's archive as spam\n"
           "  --learn-prune DAYS            drop learned tokens unseen for DAYS days, or seen once\n"
           "  --probability FILE|FOLDER...  print the classifier's spam probability of messages\n"
           "  --settings                    list every setting with its value\n"
           "  --get NAME                    print one setting\n"
           "  --set NAME=VALUE...           change settings (also while the proxy runs)\n"
           "  --authorize NAME@SERVER [PROVIDER]  sign an account in with its OAuth 2.0 provider\n"
           "  --help, -h                    print this help\n"
           "  --version, -V                 print the version\n"
           "\n"
           "See quillfnc(1) for the user names, files and exit status.\n";
}
