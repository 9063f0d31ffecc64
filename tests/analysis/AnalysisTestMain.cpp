// The analysis tests keep every hive, log and data root in one temporary
// folder, so that chunk logging (which numbers its files from the global
// hive) never touches the user's own.
#include "support/TestHelpers.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    TempDir root;
    ScopedEnv global("QUILLFENCE_GLOBAL_ROOT", (root / "global").c_str());
    ScopedEnv common("QUILLFENCE_COMMON_ROOT", (root / "common").c_str());
    ScopedEnv home("XDG_DATA_HOME", (root / "user").c_str());
    return RUN_ALL_TESTS();
}
