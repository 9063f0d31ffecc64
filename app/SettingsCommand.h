// quillfnc --get NAME, --set NAME=VALUE [NAME=VALUE...] and --settings:
// the settings of the settings table, read and changed from the command
// line through the settings store and its lock, so that they are safe
// while the proxy runs (which takes a change at its next connection).
//
// --get prints the value (the default when none is stored); --settings
// prints every value with its default, a line each, grouped as the table
// is.  --set checks every NAME=VALUE first and writes only when all pass:
// an unknown name, a value of the wrong type or out of range is reported
// on standard error with exit status 2, and nothing is written.  Exit
// status 1: the settings store could not be opened or written.  The number
// of arguments is the command line's to check (CommandLine): --set has at
// least one.  Each returns the exit status.
#pragma once

#include <string>
#include <vector>

int getSettingCommand(const std::string& name);
int setSettingsCommand(const std::vector<std::string>& args);
int listSettingsCommand();
