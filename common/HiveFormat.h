// The text format of a hive file, shared by every program that reads or
// writes settings.
//
//   41                          sequence number
//   "/"                         key entry: encoded path
//   "/NEXTID" = 17              value entry: encoded path " = " value
//   "/LONG" = <80 characters>   values over 80 characters continue on
//   +<rest>                     lines that start with "+"
//   ~                           end marker; bytes after it are ignored
//
// Lines end in CR LF when written; LF alone also ends a line when read.  A
// line holds at most kMaxHiveLine characters: longer lines are dropped when
// read, and formatHive() is never given a record that would need one.
// Parsing never throws on bad input: malformed records are dropped, and the
// result says whether the data was read whole.
#pragma once

#include "common/CommonExport.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace hiveformat {

// The longest line, without its line end (the reader's 1024-byte buffer).
inline constexpr size_t kMaxHiveLine = 1022;
// Values are cut into pieces of this many characters.
inline constexpr size_t kWrapWidth = 80;

using Entries = std::map<std::string, std::string>;

// '"' + text with every byte outside printable ASCII, '"' and '%' written as
// "%xx" (lowercase hex) + '"'.
COMMONKIT_API std::string encode(std::string_view text);
// The text between the first '"' and the next '"' (or the end), with "%xx"
// turned back into bytes; a '%' without two hex digits after it is kept as
// it is.  False when text holds no '"'.
COMMONKIT_API bool decode(std::string_view text, std::string& out);
// value cut into kWrapWidth pieces joined by "\n+".
COMMONKIT_API std::string wrap(std::string_view value);

// ASCII upper case, as paths are stored.
COMMONKIT_API std::string upperPath(std::string_view path);

struct Parsed {
    bool hasSequence = false;   // false: no number at the head of the data
    uint32_t sequence = 0;
    Entries entries;
    // The data is a whole hive as a writer of this format leaves it: a
    // sequence number, then only records that parse (and their continuation
    // lines), then the end marker.  A file cut short, or bytes that are not
    // a hive, are not whole.
    bool whole = false;
};
COMMONKIT_API Parsed parseHive(std::string_view data);

// True when the entry can be written: its first line fits kMaxHiveLine.
COMMONKIT_API bool recordFits(std::string_view path, std::string_view value);
COMMONKIT_API std::string formatHive(uint32_t sequence, const Entries& entries);

} // namespace hiveformat
