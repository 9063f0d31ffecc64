// Where the registry tests keep their hives (set up by RegistryTestMain).
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>

extern std::string g_testRoot;

inline std::string commonConfig() { return g_testRoot + "/common/config"; }
inline std::string userConfig() { return g_testRoot + "/user/Corvanta Ltd/config"; }
inline std::string globalConfig() { return g_testRoot + "/global/config"; }

// A hive name of the running test's own (rows of a table test included).
inline std::string hiveName()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    for (char& c : name)
        if (c == '/')
            c = '_';
    return name;
}

// Hive files are named in lower case.
inline std::string lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}
