#include "app/CProxyApp.h"

#include "app/AppEvents.h"
#include "app/AuthorizeCommand.h"
#include "app/CommandLine.h"
#include "app/HeadlessMainWindow.h"
#include "app/KeyringSecrets.h"
#include "app/ProbabilityCommand.h"
#include "app/RateCommand.h"
#include "app/SettingsCommand.h"
#include "common/CEventLog.h"
#include "common/CRegistry.h"
#include "common/CVDir.h"
#include "common/CVEvent.h"
#include "common/CVFile.h"
#include "common/CWorkerThread.h"
#include "common/DataRoots.h"
#include "common/HiveNotices.h"
#include "common/ProgramContext.h"
#include "common/SettingValues.h"
#include "common/SocketsAPI.h"
#include "common/SystemInfo.h"
#include "common/TextUtils.h"
#include "filter/FilterContext.h"
#include "filter/FilterSettings.h"
#include "filter/ListStore.h"
#include "filter/RuleStore.h"
#include "learning/LearnCommand.h"
#include "upstream/SecurityInterface.h"
#include "scriptkit/ScriptKit.h"

#ifdef QF_GUI
#include "app/CTrayDialog.h"
#include "ui/SettingsWindow.h"

#include <QApplication>
#endif

#include <sys/utsname.h>
#include <unistd.h>


#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifndef QF_VERSION
#define QF_VERSION ""
#endif

std::atomic<bool> CProxyApp::s_signalled{false};

namespace {

// The computer's name for the start-up line: at most 79 characters.
std::string computerName()
{
    struct utsname names {};
    if (::uname(&names) != 0)
        return "unknown";
    return std::string(names.nodename).substr(0, 79);
}

#ifdef QF_GUI
// The desktop side runs unless asked not to (-nogui) or there is no display
// to show it on.  When no Qt platform is named, a display that cannot be
// reached falls back to running without windows rather than ending.
bool wantsDesktop(bool noGui)
{
    if (noGui)
        return false;
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && *platform != '\0')
        return true;
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* x11 = std::getenv("DISPLAY");
    const bool onWayland = wayland != nullptr && *wayland != '\0';
    if (!onWayland && (x11 == nullptr || *x11 == '\0'))
        return false;
    ::setenv("QT_QPA_PLATFORM", onWayland ? "wayland;xcb;offscreen" : "xcb;offscreen", 1);
    return true;
}
#endif

} // namespace

int CProxyApp::InitInstance(int argc, char** argv)
{
    using Command = CommandLine::Command;
    const CommandLine line = parseCommandLine(argc, argv);
    if (!line.error.empty()) {
        std::fprintf(stderr, "%s\nTry 'quillfnc --help' for more.\n", line.error.c_str());
        return 2;
    }
    switch (line.command) {
    case Command::Help:
        std::fputs(commandLineHelp(), stdout);
        return 0;
    case Command::Version:
        std::printf("quillfnc (Quillfence Pro) %s\n", QF_VERSION);
        return 0;
    case Command::Stop:
        return stopRunningInstance();
    default:
        break;
    }

    char folder[4096];
    GetRootPath(folder, sizeof folder);
    programContext().programFolder = folder;
    applySharedMode();
    if (!chooseDataRoot()) {
        std::fprintf(stderr, "Quillfence Pro: no usable data folder\n");
        return 1;
    }
    copyDefaults();
    openEventLog();
    switch (line.command) {
    case Command::Rate:
        // Only errors: a line per rule and message would drown the log.
        CEventLog::SetLogging(1);
        return rateMessages(line.args);
    case Command::Learn:
    case Command::Unlearn:
    case Command::LearnArchive:
        CEventLog::SetLogging(1);
        return learnCommand(line.command == Command::Learn     ? "-learn"
                            : line.command == Command::Unlearn ? "-unlearn"
                                                               : "-learn-archive",
                            line.args, [] {
                                filterSettings().load(programContext().dataRoot);
                                std::vector<std::string> folders;
                                for (const auto& band : filterSettings().bands)
                                    folders.push_back(band.archivePath);
                                return folders;
                            });
    case Command::LearnPrune:
        CEventLog::SetLogging(1);
        return pruneCommand(line.args.at(0));
    case Command::Probability:
        CEventLog::SetLogging(1);
        return probabilityCommand(line.args);
    case Command::Get:
        return getSettingCommand(line.args.at(0));
    case Command::Set:
        return setSettingsCommand(line.args);
    case Command::Settings:
        return listSettingsCommand();
    case Command::Authorize:
        CEventLog::SetLogging(1);
        installKeyringSecrets();
        return authorizeCommand(line.args, s_signalled);
    default:
        break;
    }
    // Under a service manager that keeps standard error (systemd's journal
    // sets JOURNAL_STREAM), or when asked, errors and warnings go there too.
    const char* journal = std::getenv("JOURNAL_STREAM");
    CEventLog::echoErrorsToStderr(line.logToStderr || (journal != nullptr && *journal != '\0'));

    bool existed = false;
    std::unique_ptr<CVEvent> instanceEvent =
        CVEvent::create(appevents::kInstance, CVEvent::Reset::Auto, existed);
    if (!instanceEvent) {
        std::fprintf(stderr, "Quillfence Pro: cannot use the runtime folder %s\n",
                     CVEvent::runtimeFolder().c_str());
        return 1;
    }
    if (existed) {
        // The running instance opens its settings window.
        instanceEvent->set();
        std::printf("Quillfence Pro is already running\n");
        return 0;
    }

    SocketsAPI sockets;
    recordVersion();
    CEventLog().LogEvent(4, "Quillfence Pro version %s initializing for system %s",
                         m_versionText.c_str(), computerName().c_str());
    StartScriptEngine();
    createDataFolders();
    initialiseFilter();
    // Before any session: token logins find their sign-ins there.
    installKeyringSecrets();

    CWorkerThread::Initialise();
    std::unique_ptr<CVEvent> applicationStop =
        CVEvent::create(appevents::kApplicationStop, CVEvent::Reset::Manual, existed);
    if (!applicationStop) {
        CEventLog().LogEvent(1, "Unable to create the application stop event");
        return 1;
    }
    // Shutdown, in order, once the main window's loop has ended; the window
    // (the proxy's link) outlives every worker thread.
    auto shutDown = [&applicationStop] {
        CEventLog().LogEvent(4, "Quillfence Pro shutting down");
        applicationStop->set();
        const int stuck = CWorkerThread::TerminateAllThreads();
        setMainWindowLink(nullptr);
        if (stuck != 0) {
            // A thread that would not stop still uses the program's objects:
            // end the process without destroying them under it.
            CEventLog().LogEvent(1, "Quillfence Pro stopped with %d threads still running", stuck);
            ::_exit(0);
        }
        StopScriptEngine();
        freeRules();
        clearListCaches();
        SecurityInterface::unload();
    };
    int status = 0;
#ifdef QF_GUI
    if (wantsDesktop(line.noGui)) {
        // Qt sees only the program's name: the proxy's own options are not
        // for it.
        int qtArgc = 1;
        char* qtArgv[] = {argv[0], nullptr};
        QApplication desktop(qtArgc, qtArgv);
        desktop.setQuitOnLastWindowClosed(false);
        CTrayDialog window(*instanceEvent, *applicationStop, s_signalled, [] { return buildSettingsWindow().release(); });
        QObject::connect(&window, &CTrayDialog::exited, &desktop, &QCoreApplication::quit, Qt::QueuedConnection);
        window.setShowHelpId(m_showHelpId);
        setMainWindowLink(&window);
        window.start();
        desktop.exec();
        shutDown();
    } else
#endif
    {
        HeadlessMainWindow window(*instanceEvent, *applicationStop, s_signalled);
        setMainWindowLink(&window);
        window.run();
        shutDown();
        // Without a window to show it, a proxy that cannot listen has
        // nothing to do: it ends, and its service manager sees it failed.
        if (window.listenerHasFailed())
            status = 1;
    }
    applicationStop.reset();
    instanceEvent.reset();
    CEventLog().LogEvent(4, "Quillfence Pro stopped");
    return status;
}

int CProxyApp::stopRunningInstance()
{
    std::unique_ptr<CVEvent> stop = CVEvent::open(appevents::kStopRequest);
    if (stop && stop->set()) {
        std::printf("Stop request issued to Quillfence Pro\n");
        return 0;
    }
    std::printf("Quillfence Pro not running\n");
    return 1;
}

void CProxyApp::applySharedMode()
{
    const std::string& folder = programContext().programFolder;
    {
        CRegistry reg;
        if (openSettingKey(reg, settingInfo(Setting::SharedMode))) {
            // A file is deleted only once the value is stored; user.txt wins.
            const std::string shared = folder + "/shared.txt";
            if (CVFile::exists(shared.c_str()) && storeFlag(reg, Setting::SharedMode, true, 0, true))
                CVFile::remove(shared.c_str());
            const std::string user = folder + "/user.txt";
            if (CVFile::exists(user.c_str()) && storeFlag(reg, Setting::SharedMode, false, 0, true))
                CVFile::remove(user.c_str());
        }
    }
    CRegistry reg;
    bool sharedMode = settingDefault(Setting::SharedMode) != 0;
    if (openSettingKey(reg, settingInfo(Setting::SharedMode))) {
        querySetting(reg, Setting::SharedMode, sharedMode);
        if (!querySetting(reg, Setting::ShowHelpId, m_showHelpId))
            storeFlag(reg, Setting::ShowHelpId, m_showHelpId);
    }
    setSharedUserData(sharedMode);
}

bool CProxyApp::chooseDataRoot()
{
    return chooseProgramDataRoot(kProductName, isSharedUserData());
}

void CProxyApp::copyDefaults()
{
    // default.dat seeds the proxy's settings hive on the first run, and
    // takes its place whenever the settings store finds it damaged and sets
    // it aside: the shipped settings, never a half-read file.
    const std::string source = programContext().programFolder + "/default.dat";
    if (CVFile::exists(source.c_str()))
        CRegistry::setSeedFile(programContext().settingsHive, "quilfpro", source);
}

void CProxyApp::openEventLog()
{
    {
        CRegistry reg;
        openSettingKey(reg, settingInfo(Setting::ChunkLogging));
        programContext().chunkLogging = settingFlag(reg, Setting::ChunkLogging);
    }
    applyLogSettings();
    CEventLog::Initialize((programContext().dataRoot + "/log").c_str(), "quilfpro", "qf");
    // The hive read above may have been set aside before the log was open.
    logHiveSetAsides();
}

void CProxyApp::recordVersion()
{
    m_versionText = QF_VERSION;
    if (m_versionText.empty())
        return;
    CRegistry reg;
    std::string stored;
    if (reg.CreateKey(eRegSystem, "quilfpro", "/", true) &&
        (!reg.QueryValue("Version", stored) || stored != m_versionText))
        reg.SetValue("Version", m_versionText.c_str());
}

void CProxyApp::createDataFolders()
{
    const std::string& root = programContext().dataRoot;
    for (const char* sub : {"/state", "/pending", "/archive"})
        CVDir::mkdir((root + sub).c_str());
    for (int band = 1; band <= 5; ++band)
        CVDir::mkdir((root + "/archive/rating" + std::to_string(band)).c_str());
}
