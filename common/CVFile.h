// CVFile: whole-file operations.  Each returns true on success and never logs.
//
// rename() never replaces an existing target.  copy() replaces an existing
// target only once the copy is complete: the data is written to a temporary
// file beside the target, flushed to disk and renamed over it, so a failed
// copy leaves the old target as it was.
#pragma once

#include "common/CommonExport.h"

class COMMONKIT_API CVFile
{
public:
    static bool exists(const char* path);   // a file or a folder
    static bool remove(const char* path);   // files only
    static bool rename(const char* from, const char* to);
    static bool copy(const char* from, const char* to);
};
