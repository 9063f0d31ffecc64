// The settings store fixes its folders at first use in a process, so every
// data root points into one temporary folder before any test runs; helper
// processes inherit the same roots.  Each test uses hive names of its own.
#include "common/CEventLog.h"

#include "support/TestHelpers.h"

#include "RegistryTestRoots.h"

std::string g_testRoot;

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    TempDir root;
    g_testRoot = root.path();
    ::setenv("XDG_DATA_HOME", (root / "user").c_str(), 1);
    ::setenv("QUILLFENCE_COMMON_ROOT", (root / "common").c_str(), 1);
    ::setenv("QUILLFENCE_GLOBAL_ROOT", (root / "global").c_str(), 1);
    CEventLog::Initialize((root / "log").c_str(), "test", "qf");
    return RUN_ALL_TESTS();
}
