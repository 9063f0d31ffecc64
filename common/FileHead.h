// readWholeFile: the bytes of an open file, within a limit.
//
// replaceFileHead: puts new bytes in place of the first bytes of a file,
// moving the rest of it up or down within the same file, in blocks: no new
// file, no rename, no flush, and memory bounded whatever the file's size.
//
// It is not atomic: a failure (or a crash) part way leaves the file
// damaged.  For a file that nothing names yet, such as a session's scratch
// spool, whose text is judged again from the server after any failure.
// Room for a file that grows is allocated first, so that a full disk fails
// before anything has moved.
#pragma once

#include "common/CommonExport.h"

#include <string>

// The first oldLength bytes of the file open (for reading and writing) at
// fd become head.  False (errno set) when it failed.
COMMONKIT_API bool replaceFileHead(int fd, long oldLength, const std::string& head);
// The file open at fd, from its start (whatever its position), into text
// when it holds at most limit bytes; false otherwise or when it cannot be
// read.
COMMONKIT_API bool readWholeFile(int fd, long limit, std::string& text);
