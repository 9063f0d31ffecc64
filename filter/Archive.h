// The archive: copies of judged messages per rating band, in day files
// "SFyymmdd.txt" of the band's folder (ArchivePath<n>), for the message
// viewer; and the once-a-day tidy of old day files.
//
// A copy is staged during the session in a staging file of the session's
// own ("SFyymmdd.<tag>.tmp", see StagingFile.h: the message with its
// X-Quillfence-Pro block, the account and the message's state key) and
// goes into the day file only once the server has confirmed the session's
// QUIT: a message that stays on the server is collected and archived again
// next time.  A session removes only its own staging files: once merged,
// or when it sent no QUIT and recorded nothing (so that every message it
// staged is judged again).  A file that a session left (a QUIT not
// confirmed, a failed merge, a crash) is settled by the next session of the
// same account once it has the server's listing: a copy of a message that
// session judges again is dropped, every other copy is merged.  A merge
// appends whole copies or none, and is never doubled.
#pragma once

#include "filter/FilterContext.h"
#include "filter/MessageDescriptor.h"

#include <functional>
#include <string>
#include <vector>

// Appends the message, X-Quillfence-Pro block inserted before its blank
// line, to this session's staging file of today in band (0 to 4) when the
// band archives.  True when the band does not archive, or when the whole
// message is staged; false when no whole copy could be staged (the
// server gave only the header, a file could not be opened or written: what
// was written of the copy is removed again).  wholeOnly: a header alone is
// not staged either.
bool archiveMessage(FilterContext& context, const MessageDescriptor& message, int band, bool wholeOnly = false);
// Flushes the staging files context has written to, and their folders, to
// disk: true when all of them are there (or there are none).  Run before
// the server is told to end the session, so that a power cut just after
// the server has deleted a message cannot take its only copy with it.
bool flushStagedArchives(const FilterContext& context);
// After a confirmed QUIT: context's staging files are appended to their day
// files (each flushed to disk, then the staging file deleted), but for the
// copies whose state key judgedAgain, when given, answers true for.  A
// file that cannot be merged stays ("Unable to merge archive!"), for the
// account's next session; false then.
bool mergeStagedArchives(FilterContext& context, const std::function<bool(const std::string&)>& judgedAgain = {});
// After a session that sent no QUIT and recorded nothing: context's
// staging files are deleted.
void discardStagedArchives(FilterContext& context);
// The staging files no live session holds that account's sessions left:
// each copy whose state key judgedAgain answers true for is dropped (the
// message is on the server and is judged and archived again now), the
// rest merged.  Files of an earlier version, which name no account, are
// merged whole, and so is the file of any account whose merge a crash cut
// short.
void mergeLeftoverArchives(const std::string& account, const std::function<bool(const std::string&)>& judgedAgain);
// Once per day of the year: when Tidy is on, day files older than TidyDays
// are deleted; LastReportDay is stored.
void dailyTidy();
// Day files "sfyymmdd.txt" (any letter case) of band's folder dated more
// than TidyDays days ago; no other file is touched.
void tidyBandArchive(int band);
// The viewer's entries (hive "cvmsgvwr", key "/Locations/Quillfence Pro")
// for every band.
void registerArchiveLocations();
// The viewer's entry of one band (1 to 5), its folder read from
// ArchivePath<band>, and the top key's display name.
void registerArchiveLocation(int band);

// The places the viewer's entries name, band 1 first: those registered,
// else each band's folder as the settings give it.
struct ArchiveLocation {
    int band = 0;           // 1 to 5
    std::string name;       // "Rating Band 3"
    std::string folder;
};
std::vector<ArchiveLocation> registeredArchiveLocations();
