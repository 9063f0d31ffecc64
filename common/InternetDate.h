// RFC 822 dates.
//
// getdate: "Tue, 4 Mar 2003 14:05:09 +0100" -> seconds since 1970 (UTC).  The
// weekday word is required but ignored; the zone is "+hhmm"/"-hhmm" or one of
// 50 named zones (whole hours east of UTC); an unknown or missing zone counts
// as UTC.  Years above 200 are taken as written, others as years since 1900.
// Malformed text gives 0 and the warning "Invalid format date %s"; a time
// before 1970 gives 0.  The result does not depend on the local zone.
//
// getm: index 0 to 11 of the month whose three-letter abbreviation equals the
// first three characters of name (case-insensitive), else -1.
//
// GetInternetTimeString: the current local time as "Tue, 4 Mar 2003 14:05:09
// +0100" in buf; when it does not fit, the static text "<error>".
#pragma once

#include "common/CommonExport.h"

#include <cstddef>

// C linkage would clash with (and, exported, override) the C library's own
// getdate(3), so this one has C++ linkage in its own namespace.
namespace commonkit {
COMMONKIT_API long getdate(const char* text);
}
COMMONKIT_EXTERN_C COMMONKIT_API int getm(const char* name);
COMMONKIT_EXTERN_C COMMONKIT_API const char* GetInternetTimeString(char* buf, size_t size);
