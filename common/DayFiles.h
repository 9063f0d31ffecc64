// Files named by their day: two letters, the date as YYMMDD, then a suffix
// ("qf241203.log" for a daily log, "sf241203.txt" for an archive's day
// file).  isDayFileName() tells whether a name is one of them, letters in
// any case; tidyDayFiles() deletes those of a folder more than a number of
// days old, and touches no other file.
#pragma once

#include "common/CommonExport.h"

#include <initializer_list>
#include <string>

// True when name is one of prefixes (two letters each), six digits, then
// suffix; case is not significant.
COMMONKIT_API bool isDayFileName(const std::string& name, std::initializer_list<const char*> prefixes,
                                 const char* suffix);

// Deletes, with deleteFileRetry, the day files of folder so named whose
// day lies more than days before today.  A folder that cannot be read is
// left as it is.
COMMONKIT_API void tidyDayFiles(const std::string& folder, std::initializer_list<const char*> prefixes,
                                const char* suffix, int days);
