// Where the registry tests keep their hives (set up by RegistryTestMain).
#pragma once

#include <string>

extern std::string g_testRoot;

inline std::string commonConfig() { return g_testRoot + "/common/config"; }
inline std::string userConfig() { return g_testRoot + "/user/Corvanta Ltd/config"; }
inline std::string globalConfig() { return g_testRoot + "/global/config"; }
