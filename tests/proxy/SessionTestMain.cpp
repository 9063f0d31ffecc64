// Session tests run the proxy's sessions inside the test process, with the
// program's data root and settings hives in one temporary folder.
#include "common/CEventLog.h"
#include "common/ProgramContext.h"

#include "support/TestHelpers.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    TempDir root;
    ::setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
    ::setenv("QUILLFENCE_COMMON_ROOT", (root / "common").c_str(), 1);
    programContext().dataRoot = root / "data/Quillfence Pro";
    programContext().settingsHive = eRegUser;
    std::filesystem::create_directories(programContext().dataRoot + "/state");
    std::filesystem::create_directories(programContext().dataRoot + "/log");
    CEventLog::SetLogging(0x20C7);
    CEventLog::Initialize((programContext().dataRoot + "/log").c_str(), "quilfpro", "qf");
    return RUN_ALL_TESTS();
}
