// The program with its desktop side, on Qt's offscreen platform: a second
// start opens the running instance's settings window, the application stop
// event waits while that window is open, and "-stop" ends it at once.
#include "ProxyProgram.h"

#include "app/AppEvents.h"
#include "common/CVEvent.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#ifdef QF_DESKTOP

namespace {

// Sets the running program's application stop event, as another process of
// the user would.
bool setApplicationStop(const ProxyProgram& program)
{
    ScopedEnv runtime("XDG_RUNTIME_DIR", (program.folder() / "rt").c_str());
    std::unique_ptr<CVEvent> applicationStop = CVEvent::open(appevents::kApplicationStop, CVEvent::Reset::Manual);
    return applicationStop && applicationStop->set();
}

} // namespace

TEST(ProgramDesktop, ASecondStartOpensTheSettingsWindowOfTheFirst)
{
    ProxyProgram program;
    program.setting("CONFIGURED", "1");
    program.desktop();
    auto process = program.start();
    int status = -1;
    EXPECT_EQ(program.runOnce("", status), "Quillfence Pro is already running\n");
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(program.logShows("Settings window opened")) << program.log();
    program.expectServes();

    // Another process asks the instance to stop: it waits for the window.
    ASSERT_TRUE(setApplicationStop(program));
    int exitStatus = -1;
    EXPECT_FALSE(process->waitFor(1500, exitStatus)) << "stopped with the settings window open";
    program.expectServes();
    EXPECT_EQ(program.log().find("Application stop event set"), std::string::npos);

    // A stop request ends it at once, window or not.
    EXPECT_EQ(program.stop(*process), 0);
    const std::string log = program.log();
    EXPECT_NE(log.find("Stop request received"), std::string::npos) << log;
    EXPECT_NE(log.find("Quillfence Pro stopped"), std::string::npos) << log;
}

TEST(ProgramDesktop, WithoutASettingsWindowTheApplicationStopEventEndsTheProgram)
{
    ProxyProgram program;
    program.setting("CONFIGURED", "1");
    program.desktop();
    auto process = program.start();
    program.expectServes();
    ASSERT_TRUE(setApplicationStop(program));
    int exitStatus = -1;
    EXPECT_TRUE(process->waitFor(5000, exitStatus));
    EXPECT_EQ(exitStatus, 0);
    EXPECT_TRUE(program.logShows("Application stop event set")) << program.log();
    EXPECT_NE(program.log().find("No system tray on this desktop: running without a tray icon"), std::string::npos);
}

#endif
