// The virus scanner's tests keep the data root (state, quarantine), the
// hives and the event log in one temporary folder.
#include "support/TestDataRoot.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    const TestDataRoot root({"/state"});
    programContext().programFolder = root.folder() / "program";
    return RUN_ALL_TESTS();
}
