// ArchiveMessages: the messages of a band's archive, taken back out of its
// day files ("SFyymmdd.txt", see Archive.h) for learning.
//
// A day file holds messages as the proxy spooled them, one after another,
// each ended by a line holding only "." (lines of the message that start
// with "." have it doubled).  splitArchive gives each message back as it
// came: its "." line dropped, doubled dots undone, line ends as they are.
// Text after the last "." line (a copy cut short) is a message as well.
// Nothing in the text makes it fail.
#pragma once

#include <functional>
#include <string>
#include <vector>

// The day files of folder, in name order.
std::vector<std::string> archiveDayFiles(const std::string& folder);
void splitArchive(const std::string& dayText, const std::function<void(const std::string&)>& message);
