// The archive: copies of judged messages per rating band, in day files
// "SFyymmdd.txt" of the band's folder (ArchivePath<n>), for the message
// viewer; and the once-a-day tidy of old day files.
//
// A copy is staged during the session ("SFyymmdd.tmp", the message with its
// X-Quillfence-Pro block) and goes into the day file only once the server
// has confirmed the session's QUIT: a message that stays on the server is
// collected and archived again next time.  A staging file is deleted only
// once its contents are on disk in the day file, or after a QUIT the server
// refused or never got; one left by a session that ended abruptly is merged
// at the start of the next session (a duplicate in the archive is
// harmless, a lost copy is not).
#pragma once

#include "filter/FilterContext.h"
#include "filter/MessageDescriptor.h"

// Appends the message, X-Quillfence-Pro block inserted before its blank
// line, to today's staging file of band (0 to 4) when the band archives.
void archiveMessage(FilterContext& context, const MessageDescriptor& message, int band);
// Flushes the staging files context has written to, and their folders, to
// disk: true when all of them are there (or there are none; a file merged
// meanwhile is in its day file, flushed).  Run before the server is told to
// end the session, so that a power cut just after the server has deleted a
// message cannot take its only copy with it.
bool flushStagedArchives(const FilterContext& context);
// commit: the staging files are appended to their day files (each flushed
// to disk, then deleted); a file that cannot be merged stays for the next
// session ("Unable to merge archive!").  Not commit: they are deleted.
void mergeArchives(bool commit);
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
