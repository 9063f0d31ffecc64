// CProxyApp: the whole life of the program, from start to exit.
//
// InitInstance reads the command line (CommandLine) and runs a command, or
// else chooses per-user or shared data, copies the default files on first
// run, opens the event log, makes sure only one instance runs, creates the
// data folders, runs the main loop (which starts the listener) and shuts
// everything down in order.  Returns the process's exit status: 0, 1 on a
// failure, 2 on a usage error.
#pragma once

#include "common/SettingsTable.h"

#include <atomic>
#include <string>

class CProxyApp
{
public:
    int InitInstance(int argc, char** argv);

    // Set by SIGTERM, SIGINT or SIGHUP: the main loop stops at its next tick.
    static std::atomic<bool> s_signalled;

private:
    int stopRunningInstance();
    void applySharedMode();
    bool chooseDataRoot();
    void copyDefaults();
    void openEventLog();
    void recordVersion();
    void createDataFolders();

    std::string m_versionText;
    bool m_showHelpId = defaultOf(Setting::ShowHelpId) != 0;
};
