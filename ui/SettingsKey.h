// The proxy's settings, as the settings window reads and writes them: the
// hive "quilfpro" of the family chosen at start-up, opened with write-back
// so that values are on disk when the handle closes.
#pragma once

#include "common/CRegistry.h"
#include "common/ProgramContext.h"

inline bool openSettingsKey(CRegistry& reg, const char* key = "/")
{
    return reg.CreateKey(programContext().settingsHive, "quilfpro", key, true);
}
