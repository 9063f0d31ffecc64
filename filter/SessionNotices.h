// writeSessionNotices: what the user must be told in the collection report
// besides the judged messages, written as entries of context's session
// report, in the entries' layout (a title between dashed lines, then the
// lines of the notice).
//
//  - every settings file found damaged and set aside since the last
//    report (HiveNotices): each is told once, in one report;
//  - virus scanning that could not be done in this session (the session's
//    VirusScanner::sessionUnscanned): why, and what mends it.
//
// The session calls it once per collection, before closing the report,
// and only when a collection report is made: notices not written wait for
// the next one.  True when an entry was written.
#pragma once

#include "filter/FilterContext.h"

bool writeSessionNotices(FilterContext& context);
