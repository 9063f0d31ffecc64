// tidyStateFolder: removes what interrupted sessions leave in the state
// folder, so that it cannot grow without bound.
//
// Removed: spool files "msg*.msg" and header packs "hdr*.pack" that no
// account state file ("*.dat") of the folder names and that are older than
// kOrphanAge seconds (a session that is collecting right now has only just
// written its own); temporary files "*.tmp*" older than kOrphanAge;
// session report files "session%08x.log" whose thread is no longer alive.
// Returns the number of files removed.  Nothing outside folder is touched.
#pragma once

#include <ctime>
#include <string>

// A day: far longer than any collection runs.
inline constexpr long kOrphanAge = 24 * 60 * 60;

int tidyStateFolder(const std::string& folder, time_t now);

// Runs tidyStateFolder at most once a day in this process; true when it ran.
bool tidyStateFolderDaily(const std::string& folder, time_t now);
