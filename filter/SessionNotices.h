// writeSessionNotices: what the user must be told in the collection report
// besides the judged messages, put on context's notices (which the report
// carries whether or not it is on, and even when the disk is full) in the
// report entries' layout (a title between dashed lines, then the lines of
// the notice).
//
//  - every settings file found damaged and set aside since the last
//    report (HiveNotices): each is told once, in one report;
//  - virus scanning that could not be done in this session (the session's
//    VirusScanner::sessionUnscanned): why, and what mends it.
//
// The session calls it once per collection, before it makes the report.
// True when a notice was added.
#pragma once

#include "filter/FilterContext.h"

// withSettings: the settings notices are taken too (only for the user's
// own sessions: they name the user's files, and are told once).
bool writeSessionNotices(FilterContext& context, bool withSettings = true);
