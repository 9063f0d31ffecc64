// A test program's data root, hives and event log in one temporary folder,
// for as long as the object lives: the data-root variables point into it,
// programContext() names its per-user data root (with the given sub-folders
// made), and the event log writes every level into its "log" folder.
#pragma once

#include "common/CEventLog.h"
#include "common/ProgramContext.h"

#include "support/TestHelpers.h"

#include <filesystem>
#include <initializer_list>
#include <string>

class TestDataRoot
{
public:
    explicit TestDataRoot(std::initializer_list<const char*> folders)
        : m_global("QUILLFENCE_GLOBAL_ROOT", (m_root / "global").c_str()),
          m_common("QUILLFENCE_COMMON_ROOT", (m_root / "common").c_str()),
          m_home("XDG_DATA_HOME", (m_root / "user").c_str())
    {
        programContext().dataRoot = m_root / (std::string("user/") + kProductName);
        programContext().settingsHive = eRegUser;
        for (const char* folder : folders)
            std::filesystem::create_directories(programContext().dataRoot + folder);
        std::filesystem::create_directories(programContext().dataRoot + "/log");
        CEventLog::SetLogging(0xFFFF);
        CEventLog::Initialize((programContext().dataRoot + "/log").c_str(), "quilfpro", "qf");
    }

    const TempDir& folder() const { return m_root; }

private:
    TempDir m_root;
    ScopedEnv m_global;
    ScopedEnv m_common;
    ScopedEnv m_home;
};
