// The virus scanner's tests keep the data root (state, quarantine), the
// hives and the event log in one temporary folder.
#include "common/CEventLog.h"
#include "common/ProgramContext.h"

#include "support/TestHelpers.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    TempDir root;
    ScopedEnv global("QUILLFENCE_GLOBAL_ROOT", (root / "global").c_str());
    ScopedEnv common("QUILLFENCE_COMMON_ROOT", (root / "common").c_str());
    ScopedEnv home("XDG_DATA_HOME", (root / "user").c_str());
    programContext().dataRoot = root / "user/Quillfence Pro";
    programContext().programFolder = root / "program";
    programContext().settingsHive = eRegUser;
    for (const char* folder : {"/state", "/log"})
        std::filesystem::create_directories(programContext().dataRoot + folder);
    CEventLog::SetLogging(0xFFFF);
    CEventLog::Initialize((programContext().dataRoot + "/log").c_str(), "quilfpro", "qf");
    return RUN_ALL_TESTS();
}
