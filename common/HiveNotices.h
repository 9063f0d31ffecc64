// Hive notices: the settings files this process found damaged and set
// aside, kept until the program tells the user about them.
//
// A hive file that does not read whole is never used as it stands (see
// Hive::load); the settings store notes each one here.  The notice is
// logged at once (level 1) when the event log is open, else by
// logHiveSetAsides() once it is.  Thread-safe.
#pragma once

#include "common/CommonExport.h"

#include <string>
#include <vector>

struct HiveSetAside {
    std::string path;        // the hive file
    std::string asidePath;   // where the damaged file is now; empty: it could not be moved
    bool shipped = false;    // the shipped settings took its place (else an empty hive)
};

COMMONKIT_API void noteHiveSetAside(HiveSetAside notice);
// The notices not taken yet, oldest first; each is handed out once.
COMMONKIT_API std::vector<HiveSetAside> takeHiveSetAsides();
// Logs the notices noted while the event log was not open yet.
COMMONKIT_API void logHiveSetAsides();
