// For fuzz targets that run code writing under the data root: a temporary
// data root with its state folder, and the trap that reports a broken
// promise.
#pragma once

#include "common/ProgramContext.h"

#include <cstdlib>
#include <filesystem>
#include <string>

inline void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

// Makes "/tmp/<prefix>.XXXXXX" the data root (and the settings roots);
// returns its state folder.
inline std::string makeFuzzDataRoot(const char* prefix)
{
    std::string pattern = std::string("/tmp/") + prefix + ".XXXXXX";
    check(::mkdtemp(pattern.data()) != nullptr);
    programContext().dataRoot = pattern;
    ::setenv("XDG_DATA_HOME", pattern.c_str(), 1);
    ::setenv("QUILLFENCE_COMMON_ROOT", pattern.c_str(), 1);
    const std::string state = pattern + "/state";
    std::filesystem::create_directories(state);
    return state;
}
