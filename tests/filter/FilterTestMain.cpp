// The filter tests keep the data root (rules, lists, state), the hives and
// the event log in one temporary folder.
#include "support/TestDataRoot.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    const TestDataRoot root({"/rules", "/state"});
    return RUN_ALL_TESTS();
}
