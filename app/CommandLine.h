// CommandLine: what quillfnc was asked to do.
//
// A command comes first, in its long form or in the single-dash form that
// older scripts use ("--rate" or "-rate"); without one the program runs
// the proxy, taking only the options --no-gui (-nogui) and --log-stderr.
// "-stop" is also taken as the stop command wherever it stands, as it
// always was; an empty argument is passed over.  A command missing its arguments, or anything else on the
// line, is a usage error: the program then says so on standard error and
// ends with exit status 2, never starting the proxy.
#pragma once

#include <string>
#include <vector>

struct CommandLine {
    enum class Command {
        Run, Stop, Help, Version, Rate, Learn, Unlearn, LearnArchive, LearnPrune, Probability, Get, Set, Settings,
        Authorize,
    };

    Command command = Command::Run;
    std::vector<std::string> args;   // the command's own arguments
    bool noGui = false;
    bool logToStderr = false;
    std::string error;               // not empty: what is wrong with the line
};

CommandLine parseCommandLine(int argc, char** argv);

// Every command and option, a line each (--help).
const char* commandLineHelp();
