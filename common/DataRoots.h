// Where the system keeps its data.
//
//   per-user root   $XDG_DATA_HOME, else $HOME/.local/share, + "/Corvanta Ltd"
//                   (the common root when neither variable is set)
//   common root     $QUILLFENCE_COMMON_ROOT, else <program folder>/Application Data
//                   when that folder exists and can be written (made by an
//                   administrator for shared data), else $XDG_STATE_HOME (or
//                   $HOME/.local/state) + "/Corvanta Ltd": nothing is written
//                   into an installed program's folder
//   machine root    $QUILLFENCE_GLOBAL_ROOT returned exactly as set (no
//                   sub-folder, nothing created), else /var/lib/Corvanta Ltd
//
// Each function appends "/<sub>" when sub is not empty, writes the path
// without a trailing "/" into buf and returns buf.  A path that does not fit
// in size bytes, or a sub that is not a plain folder name (".", ".." or a
// name holding "/"), gives an empty string: never a cut path.  Folders are
// created as the comment of each function says; failures to create are left
// for the caller to meet when it uses the path.
#pragma once

#include "common/CommonExport.h"

#include <cstddef>
#include <string>

// create: make the base folder (with its parents), the company folder and sub.
COMMONKIT_API char* getAppDataRoot(const char* sub, char* buf, size_t size, bool create);
// Always creates the root (with its parents) and sub.
COMMONKIT_API char* getAppCommonDataRoot(const char* sub, char* buf, size_t size);
// Creates "/var/lib/Corvanta Ltd" and sub when the variable is not set.
COMMONKIT_API char* getAppGlobalDataRoot(const char* sub, char* buf, size_t size);

// The shared-user flag: set once at start-up, before other threads read it.
COMMONKIT_API void setSharedUserData(bool shared);
COMMONKIT_API bool isSharedUserData();

// Paths already use "/" internally and locally: both leave the path unchanged.
COMMONKIT_API void convertSeparatorsToInternal(std::string& path);
COMMONKIT_API void convertSeparatorsToLocal(std::string& path);

// Creates path and any missing parents; true when the folder exists after.
COMMONKIT_API bool makeFolders(const std::string& path);
