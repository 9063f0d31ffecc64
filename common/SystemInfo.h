// Facts about the running system and program, gathered once at library load.
//
// GetOSVersionString: "<system> <major>.<minor> build <patch> <rest of the
// release>" from uname(2), e.g. "Linux 6.1 build 55 -13-amd64".
// GetCSDLevel: the first run of digits in the rest of the release, else 0.
// IsWindowsNT is false and GetOpenSa is null on this platform.
// GetRootPath writes the folder of the running program (no trailing "/") into
// buf, or an empty string when it cannot be found or does not fit; returns 0.
#pragma once

#include "common/CommonExport.h"

#include <cstddef>

COMMONKIT_EXTERN_C COMMONKIT_API const char* GetOSVersionString();
COMMONKIT_EXTERN_C COMMONKIT_API bool IsWindowsNT();
COMMONKIT_EXTERN_C COMMONKIT_API int GetCSDLevel();
COMMONKIT_EXTERN_C COMMONKIT_API void* GetOpenSa();
COMMONKIT_EXTERN_C COMMONKIT_API int GetRootPath(char* buf, size_t size);
