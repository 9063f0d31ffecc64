// The desktop-side tests run offscreen in one QApplication, with the data
// root, the hives, the event log and the named events in one temporary
// folder.
#include "common/CEventLog.h"
#include "common/ProgramContext.h"
#include "scriptkit/ScriptKit.h"

#include "support/TestHelpers.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <filesystem>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    TempDir root;
    ScopedEnv platform("QT_QPA_PLATFORM", "offscreen");
    ScopedEnv global("QUILLFENCE_GLOBAL_ROOT", (root / "global").c_str());
    ScopedEnv common("QUILLFENCE_COMMON_ROOT", (root / "common").c_str());
    ScopedEnv home("XDG_DATA_HOME", (root / "user").c_str());
    ScopedEnv runtime("XDG_RUNTIME_DIR", (root / "run").c_str());
    std::filesystem::create_directories(root / "run");
    std::filesystem::permissions(root / "run", std::filesystem::perms::owner_all);
    programContext().dataRoot = root / "user/Quillfence Pro";
    programContext().settingsHive = eRegUser;
    for (const char* folder : {"/rules", "/state", "/log"})
        std::filesystem::create_directories(programContext().dataRoot + folder);
    CEventLog::SetLogging(0xFFFF);
    CEventLog::Initialize((programContext().dataRoot + "/log").c_str(), "quilfpro", "qf");
    StartScriptEngine();
    QApplication app(argc, argv);
    const int result = RUN_ALL_TESTS();
    StopScriptEngine();
    return result;
}
