// The desktop-side tests run offscreen in one QApplication, with the data
// root, the hives, the event log and the named events in one temporary
// folder.
#include "scriptkit/ScriptKit.h"

#include "support/TestDataRoot.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    const TestDataRoot root({"/rules", "/state"});
    // QF_TEST_QPA may give the offscreen platform a screen of its own
    // (the window-size tests run again on a 1600x900 screen at scale 2).
    const char* platformName = std::getenv("QF_TEST_QPA");
    ScopedEnv platform("QT_QPA_PLATFORM", platformName ? platformName : "offscreen");
    ScopedEnv runtime("XDG_RUNTIME_DIR", (root.folder() / "run").c_str());
    std::filesystem::create_directories(root.folder() / "run");
    std::filesystem::permissions(root.folder() / "run", std::filesystem::perms::owner_all);
    StartScriptEngine();
    QApplication app(argc, argv);
    const int result = RUN_ALL_TESTS();
    StopScriptEngine();
    return result;
}
