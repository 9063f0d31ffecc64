// The training commands:
//   quillfnc -learn spam|ham PATH...     learn messages (files, or folders
//                                        and their sub-folders) as that kind
//   quillfnc -unlearn spam|ham PATH...   take them back out
//   quillfnc -learn-archive BAND         learn every message of band BAND's
//                                        (1 to 5) archive as spam
//   quillfnc -learn-prune DAYS           drop tokens (below)
// All the changes of one command go into the token store in one
// transaction, committed at the end: a command stopped half-way leaves the
// store as it was.  The running proxy keeps working meanwhile and rates by
// the new counts from its next session.
//
// Prints what became of the messages and how fast they went, and the
// store's counts after:
//   learned 500 messages in 0.14 s (3571 msgs/s): 498 added, 0 moved, 0 removed, 2 unchanged, 0 unreadable
//   the store holds 500 spam and 2750 ham messages
// Returns the exit status: 0 when the store committed, 1 on a usage error,
// a path that is no file or folder, or a store that failed (nothing written).
//
// archiveFolders gives the archive folder of each band, band 1 first; it is
// asked only by -learn-archive.
#pragma once

#include <functional>
#include <string>
#include <vector>

using ArchiveFolders = std::function<std::vector<std::string>()>;

int learnCommand(const std::string& verb, const std::vector<std::string>& arguments,
                 const ArchiveFolders& archiveFolders);

// quillfnc -learn-prune DAYS: drops the tokens not learned in the last DAYS
// days (1 to 36500), and those that were in one learned message only and
// were not learned today, and the digests of messages not learned in those
// days; then compacts the file.  The message counts stay.  Prints
//   pruned 29249 of 49547 tokens; the store holds 20298 tokens of 500 spam and 2750 ham messages, 460 KB
// Returns 0 (also when the file could not be compacted, a proxy reading it:
// that is said), 1 when the store failed (nothing changed), 2 for DAYS out
// of range.
int pruneCommand(const std::string& daysText);
