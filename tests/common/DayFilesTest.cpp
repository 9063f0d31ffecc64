#include "common/DayFiles.h"

#include <gtest/gtest.h>

namespace {

struct NameRow {
    const char* name;
    bool dayFile;
};

TEST(DayFiles, OnlyTwoKnownLettersSixDigitsAndTheSuffixNameADayFile)
{
    const NameRow rows[] = {
        {"qf241203.log", true},  {"SF241203.LOG", true},   {"Qf000101.Log", true},
        {"xf241203.log", false}, {"qf24120.log", false},   {"qf2412034.log", false},
        {"qf24ab03.log", false}, {"qf241203.txt", false},  {"qf241203.log.1", false},
        {"qf-41203.log", false}, {"qf241203.lo", false},   {"", false},
        {"q", false},            {"qf241203", false},      {"sf241203.log.txt", false},
    };
    for (const NameRow& row : rows)
        EXPECT_EQ(isDayFileName(row.name, {"qf", "sf"}, ".log"), row.dayFile) << row.name;
    EXPECT_FALSE(isDayFileName("qf241203.txt", {"sf"}, ".txt")) << "the letters must be among those given";
    EXPECT_TRUE(isDayFileName("sf241203.txt", {"sf"}, ".txt"));
}

} // namespace
