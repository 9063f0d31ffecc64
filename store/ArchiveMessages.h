// ArchiveMessages: the messages of a band's archive, taken back out of its
// day files ("SFyymmdd.txt", see Archive.h) for learning.
//
// A day file holds messages as the proxy spooled them, one after another,
// each ended by a line holding only "." (lines of the message that start
// with "." have it doubled).  splitArchive gives each message back as it
// came: its "." line dropped, doubled dots undone, line ends as they are.
// Text after the last "." line (a copy cut short, or one the proxy was
// still appending when the file was read) is a message as well, marked
// incomplete where the place is asked for.  Nothing in the text makes it
// fail.  This is the one reader of the day files' format: learning, the
// tidy and the archive viewer's entries (store/ArchiveEntries) use it.
#pragma once

#include <functional>
#include <string>
#include <vector>

// The day files of folder, in name order.
std::vector<std::string> archiveDayFiles(const std::string& folder);
void splitArchive(const std::string& dayText, const std::function<void(const std::string&)>& message);

// Where a message lies in its day file: from its first byte to the end of
// its "." line (length), and whether that "." line is there.
struct ArchivePlace {
    size_t offset = 0;
    size_t length = 0;
    bool complete = false;
};
void splitArchiveAt(const std::string& dayText,
                    const std::function<void(const ArchivePlace&, const std::string&)>& message);
