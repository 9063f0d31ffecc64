// The lines of a POP3 server's multi-line listings, read as text with no
// trust in them: "LIST" gives "<number> <size>", "UIDL" gives "<number>
// <id>".  Pure functions of their text.
#pragma once

#include <string>

// A LIST line: "number size", anything after a blank following the size
// ignored (RFC 1939 allows more information there).  Numbers are decimal,
// at most 18 digits, no sign.  False for anything else, or a size beyond
// limit; size is then unspecified.
bool parseListLine(const std::string& line, long limit, long& size);

// The id of a UIDL line: what follows its first blank (empty when there is
// none).  Whether the id is usable is the caller's judgement.
std::string uidOfUidlLine(const std::string& line);
