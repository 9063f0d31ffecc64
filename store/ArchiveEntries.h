// ArchiveEntries: the archive's messages as the archive viewer lists,
// shows and restores them, read with the day files' one reader
// (store/ArchiveMessages).
//
// readArchiveEntries() lists the whole messages of a day file, in the
// file's order, with the header fields a list shows (unfolded, cut at
// kMaxField characters) and the filter's decision lines; a message whose
// "." line has not come yet (the proxy is appending it) is left out, never
// shown broken.  The day files only grow while the proxy runs, so a place
// read once stays that message's: readArchiveText() reads it again and
// checks that it is still a whole message there.
//
// restoredText() is an archived message as the mail client first got it:
// the X-Quillfence-Pro lines of its header (with their continuation
// lines) gone, and a subject the band marked by its SubjectMacro given
// back; a subject the macro does not explain is left as it is.
// restoreToPending() drops a text into the pending folder as a new "*.msg",
// written whole before its name appears, for the next session to deliver.
//
// The archive's lock: a day file is changed only while its open file holds
// flock(LOCK_EX).  The proxy's merges append under it (openLockedDayFile);
// deleteArchiveEntry() takes one message out by writing the day file anew
// and putting it in the old one's place under it, so a merge that waited
// opens the new file, never the one replaced.
#pragma once

#include "common/UniqueFd.h"
#include "store/ArchiveMessages.h"

#include <string>
#include <vector>

struct ArchiveEntry {
    std::string dayFile;
    ArchivePlace place;
    std::string from;
    std::string subject;
    std::string date;
    bool rated = false;
    double rating = 0;                    // the last "rating total" of its decision lines
    std::vector<std::string> decisions;   // the X-Quillfence-Pro lines, without the name
    std::string digest;                   // MD5 of the message's text, in hex: the same copy anywhere
};

constexpr size_t kMaxField = 998;

// False with error when the file cannot be read.
bool readArchiveEntries(const std::string& dayFile, std::vector<ArchiveEntry>& entries, std::string& error);
// The message at entry's place, dots undone; false with error when the
// file no longer holds a whole message there.
bool readArchiveText(const ArchiveEntry& entry, std::string& text, std::string& error);

std::string restoredText(const std::string& archived, const std::string& subjectMacro);
// The new file's path into path; false with error.
bool restoreToPending(const std::string& pendingFolder, const std::string& text, std::string& path,
                      std::string& error);

// The day file at path opened for appending (made 0600 when missing) and
// locked; not open when it cannot be.
UniqueFd openLockedDayFile(const std::string& path);
// False with error, and the file as it was, when it no longer holds the
// entry's message whole at its place.
bool deleteArchiveEntry(const ArchiveEntry& entry, std::string& error);
