// deleteFileRetry: removes a file that another program may hold for a
// moment: up to 10 attempts, 50 ms apart.  Logs "Deleted %s" or, after the
// last attempt, "Unable to delete %s"; a path that does not exist is left
// unlogged.  True when the file is gone.
#pragma once

#include "common/CommonExport.h"

#include <string>

COMMONKIT_API bool deleteFileRetry(const std::string& path);
