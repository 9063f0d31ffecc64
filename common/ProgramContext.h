// Where the running program is and keeps its data, decided once at start-up
// (before any worker thread exists) and read by every part of the program.
#pragma once

#include "common/CommonExport.h"
#include "common/HiveList.h"

#include <string>

// The program's name: its folder under each data root, and its tray's tool tip.
inline constexpr char kProductName[] = "Quillfence Pro";

struct ProgramContext {
    std::string programFolder;
    std::string dataRoot;
    eRegKeyType settingsHive = eRegUser;
    bool chunkLogging = false;   // the setting ChunkLogging: MIME chunk diagnostics
};

COMMONKIT_API ProgramContext& programContext();

// The data root's "state" folder: the sessions' spool files, the virus
// scanner's workfiles and its default quarantine.
inline std::string programStateFolder()
{
    return programContext().dataRoot + "/state";
}

// Sets the data folders shared by every user or kept per user, and puts the
// data root of the program named product (its folder under either) into
// programContext(), with the settings hive that goes with it.  False when
// no data folder could be had.
COMMONKIT_API bool chooseProgramDataRoot(const char* product, bool shared);
